#pragma once
// Which store holds the persisted configuration at the next launch: the analytics facade's flag
// "persistent_config_in_application_support_enabled" in its suite "ZDMAnalyticsSuiteName" (YES: a
// plist in the support directory, NO: a defaults suite). The facade's own accessors of that flag
// are these; the persisted configuration reads it at creation and sets it from the server's
// configuration.
#include <functional>
#include <memory>

class ZDMRemoteConfig;

class ZDMConfigStoreChoice {
  public:
    static constexpr const char* kSuiteName = "ZDMAnalyticsSuiteName";
    static constexpr const char* kKey = "persistent_config_in_application_support_enabled";

    static bool persistentConfigInApplicationSupportEnabled();
    static void setPersistentConfigInApplicationSupportEnabled(bool enabled);

    // The engine's current remote configuration. The engine sits above this library and installs
    // its accessor when it loads; until then the default instance is in force.
    using RemoteConfigSource = std::function<std::shared_ptr<ZDMRemoteConfig>()>;
    static void setRemoteConfigSource(RemoteConfigSource source);
    static std::shared_ptr<ZDMRemoteConfig> remoteConfig();
};
