#include "measurement/engine/ZDMMeasurement.h"

#include "measurement/foundation/ZDMIdentifiers.h"
#include "measurement/foundation/ZDMInstalledRemoteConfig.h"

namespace {
// The identifiers below the engine answer from the engine's identity once it runs.
const bool engineIdentityInstalled = [] {
    ZDMIdentifiers::setEngineIdentitySource([]() -> std::shared_ptr<ZDMIdentity> {
        if (!ZDMMeasurement::hasSharedInstance()) return nullptr;
        const auto measurement = ZDMMeasurement::sharedInstance();
        return measurement ? measurement->identity() : nullptr;
    });
    return true;
}();
}  // namespace

// The foundation's classes log before any engine exists, so the monitor itself is kept there.
std::shared_ptr<ZDMMonitor> ZDMMeasurement::monitor() {
    return ZDMMonitor::sharedMonitor();
}

// The foundation's rules read the configuration too, so the slot is kept there as well.
std::shared_ptr<ZDMRemoteConfig> ZDMMeasurement::remoteConfig() {
    return ZDMInstalledRemoteConfig();
}

void ZDMMeasurement::setRemoteConfigForTesting(std::shared_ptr<ZDMRemoteConfig> remoteConfig) {
    ZDMInstallRemoteConfig(std::move(remoteConfig));
}

bool ZDMMeasurement::hasSharedInstance() {
    return false;
}

std::shared_ptr<ZDMMeasurement> ZDMMeasurement::sharedInstance() {
    return nullptr;
}
