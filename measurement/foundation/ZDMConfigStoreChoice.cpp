#include "measurement/foundation/ZDMConfigStoreChoice.h"

#include "measurement/foundation/ZDMInstalledRemoteConfig.h"
#include "measurement/foundation/ZDMUserDefaults.h"

bool ZDMConfigStoreChoice::persistentConfigInApplicationSupportEnabled() {
    return ZDMUserDefaults(kSuiteName).boolForKey(kKey);
}

void ZDMConfigStoreChoice::setPersistentConfigInApplicationSupportEnabled(bool enabled) {
    ZDMUserDefaults(kSuiteName).setBool(enabled, kKey);
}

std::shared_ptr<ZDMRemoteConfig> ZDMConfigStoreChoice::remoteConfig() {
    return ZDMInstalledRemoteConfig();
}
