#include "measurement/foundation/ZDMBackgroundThreadCheck.h"

#include "measurement/foundation/ZDMMonitor.h"
#include "platform/dispatch/DispatchQueue.h"

bool ZDMCheckOnBackgroundThread(const std::string& methodName) {
    if (!DispatchQueue::isMainThread()) return true;
    const std::string name = methodName.empty() ? "<empty method name>" : methodName;
    ZDMMonitor::sharedMonitor()->logWithLevel(1, 30001,
                                              "Method " + name + " should execute on background thread");
    return false;
}
