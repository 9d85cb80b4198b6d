#include "measurement/audiences/ZDMEManager.h"

#include "measurement/engine/ZDMMeasurement.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<ZDMEManager::Monitor> sharedMonitor{
    [] { return std::make_shared<ZDMEManager::Monitor>(ZDMMeasurement::monitor()); }};
}  // namespace

ZDMEManager::Monitor::Monitor(std::shared_ptr<ZDMMonitor> engineMonitor)
    : engineMonitor_(std::move(engineMonitor)) {}

void ZDMEManager::Monitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message) {
    engineMonitor_->logWithLevel(level, messageCode, message);
}

void ZDMEManager::Monitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                                        const Value& context) {
    engineMonitor_->logWithLevel(level, messageCode, message, context);
}

std::shared_ptr<ZDMEManager::Monitor> ZDMEManager::monitor() {
    return sharedMonitor.get();
}
