#pragma once
// Which store holds the persisted configuration at the next launch: the analytics facade's flag
// "persistent_config_in_application_support_enabled" in its suite "ZDMAnalyticsSuiteName" (YES: a
// plist in the support directory, NO: a defaults suite). The facade's own accessors of that flag
// are these; the persisted configuration reads it at creation and sets it from the server's
// configuration.
#include <memory>

class ZDMRemoteConfig;

class ZDMConfigStoreChoice {
  public:
    static constexpr const char* kSuiteName = "ZDMAnalyticsSuiteName";
    static constexpr const char* kKey = "persistent_config_in_application_support_enabled";

    static bool persistentConfigInApplicationSupportEnabled();
    static void setPersistentConfigInApplicationSupportEnabled(bool enabled);

    // The remote configuration in force: the engine's once it installed one, else the default.
    static std::shared_ptr<ZDMRemoteConfig> remoteConfig();
};
