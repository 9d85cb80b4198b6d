#pragma once
// The consent settings in force for the whole process ("ad_storage" and "analytics_storage", each
// "granted" or "denied", compared without case) and the source that set them; a lower source is
// stronger. Both live on the serial queue "ZDMConsentSettingsUtilQueue": reads wait for it, writes
// are queued, so a read issued after a write on the same thread sees it.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class ZDMConsentSettingsUtil {
  public:
    static constexpr const char* kAdStorage = "ad_storage";
    static constexpr const char* kAnalyticsStorage = "analytics_storage";
    static constexpr const char* kGranted = "granted";
    static constexpr const char* kDenied = "denied";
    static constexpr const char* kDefaultAllowAdStorageKey = "ZIZODA_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE";
    static constexpr const char* kDefaultAllowAnalyticsStorageKey =
        "ZIZODA_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE";

    // Who set the settings.
    static constexpr int64_t kSourceThirdParty = 10;     // the facade's "consent_settings_3p"
    static constexpr int64_t kSourceInfoPlist = 20;      // the Info.plist defaults
    static constexpr int64_t kSourceApp = 30;            // the app, at run time
    static constexpr int64_t kSourceStoredOnStart = 40;  // kept for the next start
    static constexpr int64_t kSourceNone = 100;          // nothing set, or cleared

    static std::optional<Dictionary> consentSettings();
    static int64_t consentSource();
    // nullopt also puts the source back to kSourceNone.
    static void setConsentSettings(const std::optional<Dictionary>& settings);
    static void setConsentSource(int64_t source);
    // Adds or replaces the given entries, keeping the others.
    static void updateSettings(const Dictionary& settings);
    // True when the source in force is `source` or weaker, so that `source` may overwrite it.
    static bool isConsentSourceHigherPriority(int64_t source);
    static bool isAdStorageDenied();
    static bool isAnalyticsStorageDenied();

    // Only the "ad_storage" and "analytics_storage" entries of `dictionary`.
    static Dictionary consentSettingsFromDictionary(const Dictionary& dictionary);
    // The main bundle's defaults: each of the two keys holding a number gives "granted" or "denied".
    static Dictionary consentSettingsFromPlist();
    // Whether the settings in force deny a storage that `previous` (a dictionary or null) did not.
    static bool didWithdrawPreviousConsent(const Value& previous);
    // "G1" then, for ad and analytics storage in turn, '0' denied, '1' granted, '-' anything else.
    static std::string consentSignals();
    // "ad_storage is <value>. analytics_storage is <value>.", a missing value reading "granted".
    static std::string description();

    // Back to a fresh process's state: no settings, source kSourceNone.
    static void resetForTesting();
};
