#include "measurement/foundation/ZDMInstalledRemoteConfig.h"

#include "platform/foundation/SharedInstance.h"

namespace {
// Empty until something installs the engine's configuration.
constinit SharedInstance<ZDMRemoteConfig> installedRemoteConfig{nullptr};
}  // namespace

std::shared_ptr<ZDMRemoteConfig> ZDMInstalledRemoteConfig() {
    if (auto remoteConfig = installedRemoteConfig.existing()) return remoteConfig;
    return ZDMRemoteConfig::defaultInstance();
}

void ZDMInstallRemoteConfig(std::shared_ptr<ZDMRemoteConfig> remoteConfig) {
    installedRemoteConfig.set(std::move(remoteConfig));
}
