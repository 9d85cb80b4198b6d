#include "measurement/engine/ZDMConsentSettingsUtil.h"

#include <algorithm>
#include <cctype>

#include "measurement/foundation/ZDMConsentQueries.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"

namespace {
struct ConsentState {
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::serial("ZDMConsentSettingsUtilQueue");
    std::optional<Dictionary> settings;  // on the queue only
};
constinit SharedInstance<ConsentState> sharedState;

bool isDenied(const char* key) {
    const auto settings = ZDMConsentSettingsUtil::consentSettings();
    const Value* value = settings ? settings->find(key) : nullptr;
    if (!value || !value->asString()) return false;
    std::string text = *value->asString();
    std::ranges::transform(text, text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text == "denied";
}

// The identity below the engine asks these questions through its own seam.
const bool consentQueriesInstalled = [] {
    ZDMInstallConsentQueries(&ZDMConsentSettingsUtil::isAdStorageDenied,
                             &ZDMConsentSettingsUtil::isAnalyticsStorageDenied);
    return true;
}();
}  // namespace

std::optional<Dictionary> ZDMConsentSettingsUtil::consentSettings() {
    const auto state = sharedState.get();
    std::optional<Dictionary> settings;
    state->queue->sync([&] { settings = state->settings; });
    return settings;
}

void ZDMConsentSettingsUtil::setConsentSettings(const std::optional<Dictionary>& settings) {
    const auto state = sharedState.get();
    state->queue->sync([&] { state->settings = settings; });
}

bool ZDMConsentSettingsUtil::isAdStorageDenied() {
    return isDenied("ad_storage");
}

bool ZDMConsentSettingsUtil::isAnalyticsStorageDenied() {
    return isDenied("analytics_storage");
}
