#include "measurement/foundation/ZDMConfigStoreChoice.h"

#include <mutex>

#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/ZDMUserDefaults.h"

namespace {
std::mutex sourceMutex;
ZDMConfigStoreChoice::RemoteConfigSource& source() {
    static ZDMConfigStoreChoice::RemoteConfigSource installed;
    return installed;
}
}  // namespace

bool ZDMConfigStoreChoice::persistentConfigInApplicationSupportEnabled() {
    return ZDMUserDefaults(kSuiteName).boolForKey(kKey);
}

void ZDMConfigStoreChoice::setPersistentConfigInApplicationSupportEnabled(bool enabled) {
    ZDMUserDefaults(kSuiteName).setBool(enabled, kKey);
}

void ZDMConfigStoreChoice::setRemoteConfigSource(RemoteConfigSource newSource) {
    std::lock_guard lock(sourceMutex);
    source() = std::move(newSource);
}

std::shared_ptr<ZDMRemoteConfig> ZDMConfigStoreChoice::remoteConfig() {
    RemoteConfigSource current;
    {
        std::lock_guard lock(sourceMutex);
        current = source();
    }
    if (auto config = current ? current() : nullptr) return config;
    return ZDMRemoteConfig::defaultInstance();
}
