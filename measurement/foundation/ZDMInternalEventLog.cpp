#include "measurement/foundation/ZDMInternalEventLog.h"

#include <atomic>

namespace {
// A plain function pointer, not a shared instance: it names code, holds no state, and must survive
// the test resets that drop shared instances.
std::atomic<ZDMInternalEventLogger> installedLogger{nullptr};
}  // namespace

void ZDMSetInternalEventLogger(ZDMInternalEventLogger logger) {
    installedLogger.store(logger);
}

void ZDMLogInternalEvent(const std::string& origin, const std::string& name, const Dictionary& parameters) {
    if (auto logger = installedLogger.load()) logger(origin, name, parameters);
}
