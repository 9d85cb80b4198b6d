// The facade's consent, the reset that starts the user over, and the identity questions.
#include <mutex>
#include <utility>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMAnalyticsState.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMErrors.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"

namespace {
constexpr int64_t kSessionIDErrorCode = 13;

struct AppInstanceIDSource {
    std::mutex mutex;
    std::function<std::string()> make;
};
AppInstanceIDSource& appInstanceIDSource() {
    static auto* source = new AppInstanceIDSource;
    return *source;
}

std::string newAppInstanceID() {
    std::function<std::string()> make;
    {
        std::lock_guard lock(appInstanceIDSource().mutex);
        make = appInstanceIDSource().make;
    }
    return make ? make() : ZDMIdentity::randomAppInstanceID();
}

std::shared_ptr<ZDMMeasurement> initializedEngine() {
    if (!ZDMMeasurement::hasSharedInstance()) return nullptr;
    auto engine = ZDMMeasurement::sharedInstance();
    return engine->didInitializeComponents() ? engine : nullptr;
}

bool isConsentValue(const Value& value) {
    const auto* text = value.asString();
    return text && (*text == ZDMConsentSettingsUtil::kGranted || *text == ZDMConsentSettingsUtil::kDenied);
}
}  // namespace

void ZDMAnalyticsSetAppInstanceIDMakerForTesting(std::function<std::string()> make) {
    std::lock_guard lock(appInstanceIDSource().mutex);
    appInstanceIDSource().make = std::move(make);
}

void ZDMAnalytics::setConsent(const Dictionary& consent) {
    setConsent(consent, kConsentSettingsKey);
}

void ZDMAnalytics::setConsent(const Dictionary& consent, const std::string& key) {
    if (ZDMConsentSettingsUtil::consentSource() == ZDMConsentSettingsUtil::kSourceNone)
        loadPersistedConsentSettings();
    Dictionary settings;
    for (const auto& [name, value] : ZDMConsentSettingsUtil::consentSettingsFromDictionary(consent)) {
        if (isConsentValue(value)) {
            settings.set(name, value);
            continue;
        }
        ZDMAnalyticsLog(3, 25042,
                        "Valid consent values are 'granted' and 'denied'. Ignoring invalid consent setting",
                        value);
    }
    if (settings.empty()) return ZDMAnalyticsLog(3, 25041, "Discarding empty consent settings");
    const int64_t source = key == kConsentSettings3PKey ? ZDMConsentSettingsUtil::kSourceThirdParty
                                                        : ZDMConsentSettingsUtil::kSourceApp;
    if (!ZDMConsentSettingsUtil::isConsentSourceHigherPriority(source))
        return ZDMAnalyticsLog(3, 25043, "Ignoring lower priority consent settings");

    const auto previous = key == kConsentSettings3PKey ? consentSettings3P() : consentSettings1P();
    ZDMConsentSettingsUtil::updateSettings(settings);
    ZDMConsentSettingsUtil::setConsentSource(source);
    persistConsentSettings(ZDMConsentSettingsUtil::consentSettings().value_or(Dictionary{}), source);
    if (!ZDMConsentSettingsUtil::didWithdrawPreviousConsent(previous ? Value(*previous) : Value())) return;
    setAppInstanceIDAfterReset(std::nullopt);
    if (initializedEngine()) return resetAnalyticsData();
    // The engine resets at its start, once it has its database.
    ZDMAnalyticsStoreDeferredConsentReset();
}

void ZDMAnalytics::resetAnalyticsData() {
    setLoadTimestamp(Clock::current().now());
    setResetRetryCount(resetRetryCount() + 1);
    setNeedFirstOpenAfterReset(true);
    std::optional<std::string> appInstanceID = newAppInstanceID();
    if (appInstanceID->empty()) return ZDMAnalyticsLog(1, 25039, "Cannot generate a new app instance ID");
    if (ZDMConsentSettingsUtil::isAnalyticsStorageDenied())
        appInstanceID.reset();
    else
        setAppInstanceIDAfterReset(appInstanceID);
    queueOperationWithBlock([appInstanceID] {
        const auto engine = ZDMMeasurement::hasSharedInstance() ? ZDMMeasurement::sharedInstance() : nullptr;
        // The bookkeeping stays behind for the engine's next start to finish the reset.
        if (!engine || !engine->resetAnalyticsDataWithAppInstanceID(appInstanceID))
            return ZDMAnalyticsLog(1, 25037, "Failed to reset Analytics data");
        setResetRetryCount(0);
        if (appInstanceID && appInstanceIDAfterReset() == appInstanceID)
            setAppInstanceIDAfterReset(std::nullopt);
    });
}

void ZDMAnalytics::sessionIDWithCompletion(
    std::function<void(int64_t sessionID, std::optional<Error> error)> completion) {
    if (!completion) return ZDMAnalyticsLog(1, 25050, "Analytics sessionID completion cannot be nil");
    // Never on the caller's thread, never on the engine's: the caller may hold either.
    auto answer = [completion = std::move(completion)](int64_t sessionID, const std::optional<Error>& error) {
        DispatchQueue::global()->async([completion, sessionID, error] { completion(sessionID, error); });
    };
    dispatchAsyncOnSerialQueue([answer = std::move(answer)] {
        const auto engine = initializedEngine();
        if (!engine) return answer(0, zdm_errorWithCode(kSessionIDErrorCode, "Analytics uninitialized"));
        if (!engine->remoteConfigInstance()->isSessionIDEnabled())
            return answer(0, zdm_errorWithCode(kSessionIDErrorCode, "Session ID API disabled"));
        engine->sessionIDWithCompletion(answer);
    });
}

std::optional<std::string> ZDMAnalytics::appInstanceID() {
    if (ZDMConsentSettingsUtil::isAnalyticsStorageDenied()) return std::nullopt;
    if (auto afterReset = appInstanceIDAfterReset(); afterReset && !afterReset->empty()) return afterReset;
    return ZDMIdentity::sharedInstance()->appInstanceID();
}
