#include "measurement/engine/ZDMMeasurement.h"

#include "measurement/foundation/ZDMConfigStoreChoice.h"
#include "platform/foundation/SharedInstance.h"

namespace {
// Empty until something installs the engine's configuration.
constinit SharedInstance<ZDMRemoteConfig> engineRemoteConfig{nullptr};

// As the engine loads: the persisted configuration below it takes the store choice for the next
// launch from the configuration in force here.
[[maybe_unused]] const bool remoteConfigSourceInstalled = [] {
    ZDMConfigStoreChoice::setRemoteConfigSource(&ZDMMeasurement::remoteConfig);
    return true;
}();
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
