#include "measurement/engine/ZDMScheduler.h"

#include "measurement/foundation/ZDMBackgroundThreadCheck.h"

bool ZDMScheduler::checkOnBackgroundThreadWithMethodName(const std::string& methodName) {
    return ZDMCheckOnBackgroundThread(methodName);
}
