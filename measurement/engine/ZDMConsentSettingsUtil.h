#pragma once
// The consent settings in force for the whole process ("ad_storage" and "analytics_storage", each
// "granted" or "denied"), kept on the serial queue "ZDMConsentSettingsUtilQueue". For now only the
// settings and the two questions the library asks of them.
#include <optional>

#include "platform/foundation/Value.h"

class ZDMConsentSettingsUtil {
  public:
    static std::optional<Dictionary> consentSettings();
    static void setConsentSettings(const std::optional<Dictionary>& settings);
    // True when the entry is a text reading "denied" in any case.
    static bool isAdStorageDenied();
    static bool isAnalyticsStorageDenied();
};
