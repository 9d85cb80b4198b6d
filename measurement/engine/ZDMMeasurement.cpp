#include "measurement/engine/ZDMMeasurement.h"

#include "platform/foundation/SharedInstance.h"

namespace {
// Empty until something installs the engine's configuration.
constinit SharedInstance<ZDMRemoteConfig> engineRemoteConfig{nullptr};
}  // namespace

// The foundation's classes log before any engine exists, so the monitor itself is kept there.
std::shared_ptr<ZDMMonitor> ZDMMeasurement::monitor() {
    return ZDMMonitor::sharedMonitor();
}

std::shared_ptr<ZDMRemoteConfig> ZDMMeasurement::remoteConfig() {
    if (auto remoteConfig = engineRemoteConfig.existing()) return remoteConfig;
    return ZDMRemoteConfig::defaultInstance();
}

void ZDMMeasurement::setRemoteConfigForTesting(std::shared_ptr<ZDMRemoteConfig> remoteConfig) {
    engineRemoteConfig.set(std::move(remoteConfig));
}
