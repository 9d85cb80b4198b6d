// The reports a start makes on the worker queue (first open with its first session, app and OS
// updates, the ad-personalization property, the session number of older installs) and the lifetime
// value that purchase events add inside the write's transaction.
#include <charconv>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMLifetimeValueRecorder.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/engine/ZDMScreenViewReporter.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMDebugDescription.h"
#include "measurement/foundation/ZDMEnvironmentInfo.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMEventAggregates.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/Bundle.h"

using zdm_engine::log;
using zdm_engine::logError;

namespace {
constexpr const char* kAllowAdPersonalizationKey =
    "ZIZODA_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS";

Value int64Value(int64_t value) {
    return Value(ZDMValue::initWithInt64(value));
}

std::shared_ptr<ZDMUserAttribute> autoProperty(const std::string& name, int64_t value, double setTime) {
    return ZDMUserAttribute::initWithOrigin("auto", name, ZDMValue::initWithInt64(value), setTime);
}

// The stored count is kept as decimal text; none, or text that is no number, counts as 0.
int64_t parsedCount(const std::optional<std::string>& text) {
    int64_t count = 0;
    if (text) std::from_chars(text->data(), text->data() + text->size(), count);
    return count;
}

// The first open's events are dated at the engine's load, with the screen the app shows.
std::shared_ptr<ZDMEvent> firstOpenEvent(const std::string& name, const Dictionary& parameters,
                                         double timestamp) {
    auto event = ZDMEvent::initWithOrigin("auto", false, name, timestamp, 0, parameters);
    if (event) event->addScreenParameters(ZDMScreenViewReporter::sharedInstance()->screenParameters());
    return event;
}

struct Message {
    int64_t code;
    const char* text;
};

// Whether a property just written reads back; a failed read and a missing property are logged.
bool readsBack(ZDMDatabase& database, const std::string& name, Message failedRead, Message missing) {
    Error error;
    const auto stored = database.containsUserAttributeWithName(name, &error);
    if (!stored) {
        logError(1, failedRead.code, failedRead.text, error);
        return false;
    }
    if (!*stored) log(1, missing.code, missing.text);
    return *stored;
}

// An update of something the persisted configuration remembers: the new value is stored, and a
// change from a known one is reported with the one before.
void reportUpdate(const std::string& current, const std::optional<std::string>& stored,
                  const std::function<void(const std::string&)>& store, const char* eventName,
                  const char* previousKey) {
    if (stored && *stored == current) return;
    store(current);
    if (!stored || stored->empty()) return;
    ZDMAnalytics::logInternalEventWithOrigin(
        "auto", eventName, Dictionary{{previousKey, Value(ZDMValue::initWithString(Value(*stored)))}});
}
}  // namespace

void ZDMMeasurement::reportFirstOpenOnWorkerQueue() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("reportFirstOpenOnWorkerQueue");
    const auto db = database();
    if (!db) return;
    Error error;
    const auto hasFirstOpen = db->containsUserAttributeWithName("_fot", &error);
    if (!hasFirstOpen) {
        logError(1, 23019, "Failed to query first open property. Error", error);
        return;
    }
    const int64_t count = parsedCount(previousFirstOpenCount());
    if (*hasFirstOpen) {
        if (count < 1) setPreviousFirstOpenCount("1");
        ZDMAnalytics::setDeferredAnalyticsCollection(std::nullopt);
        reportSessionStartOnWorkerQueueWithTimestamp(initTimestamp_, false);
        persistedConfig_->setLoadTimestampValue(std::nullopt);
        return;
    }

    // A count kept from an earlier install says this is a reinstall, whatever the version says.
    const int64_t firstInstall = count > 0 || isVersionSameAsOriginalVersion() ? 1 : 0;
    const int64_t knownFirstOpenMillis = persistedConfig_->firstOpenTimestampMilliseconds();
    setUserAttributeOnWorkerQueue(autoProperty(
        "_fi", firstInstall, knownFirstOpenMillis != 0 ? knownFirstOpenMillis / 1000.0 : initTimestamp_));
    if (!readsBack(*db, "_fi",
                   {23161, "Failed to query first open after install property after setting it. Error"},
                   {23162, "Failed to set first open after install property"}))
        return;

    const auto millis = static_cast<int64_t>(initTimestamp_ * 1000);
    setUserAttributeOnWorkerQueue(
        autoProperty("_fot", timestampMillisRoundedUpToNextHour(millis), initTimestamp_));
    if (!readsBack(*db, "_fot", {23020, "Failed to query first open property after setting it. Error"},
                   {23021, "Failed to set first open property"}))
        return;

    const auto config = remoteConfigInstance();
    Dictionary parameters;
    if (previousZORAppID_ && !previousZORAppID_->empty())
        parameters.set("_pzor", Value(ZDMValue::initWithString(Value(*previousZORAppID_))));
    parameters.set("_pfo", int64Value(count > 0 ? count : 0));
    parameters.set("_uwa", int64Value(1 - firstInstall));
    if (ZDMAnalytics::deferredAnalyticsCollection().value_or(Value()).boolOr(false))
        parameters.set("_dac", int64Value(1));
    if (config->efficientEngagementReportingEnabled()) parameters.set("_et", int64Value(1));
    handleInternalEventOnWorkerQueue(firstOpenEvent("_f", parameters, initTimestamp_));

    ZDMAnalytics::setDeferredAnalyticsCollection(std::nullopt);
    persistedConfig_->setLoadTimestampValue(std::nullopt);
    reportSessionStartOnWorkerQueueWithTimestamp(initTimestamp_, false);

    if (!config->redundantEngagementRemovalEnabled()) {
        Dictionary engagement{{"_et", int64Value(1)}};
        if (config->efficientEngagementReportingEnabled()) engagement.set("_fr", int64Value(1));
        handleInternalEventOnWorkerQueue(firstOpenEvent("_e", engagement, initTimestamp_));
    }

    persistedConfig_->setFirstOpenTimestampMilliseconds(millis);
    reportStoredCampaignEventOnWorkerQueue(millis - 1);
}

bool ZDMMeasurement::isVersionSameAsOriginalVersion() {
    const auto bundle = Bundle::mainBundle();
    const auto original = bundle->originalApplicationVersion();
    // Without a record of the first version nothing says this is an update.
    return !original || *original == bundle->shortVersion();
}

void ZDMMeasurement::reportAppUpdateOnWorkerQueue() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("reportAppUpdateOnWorkerQueue");
    const auto id = identity();
    if (!id) return;
    reportUpdate(
        id->appVersion(), persistedConfig_->appVersion(),
        [this](const std::string& version) { persistedConfig_->setAppVersion(version); }, "_au", "_pv");
}

void ZDMMeasurement::reportOSUpdateOnWorkerQueue() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("reportOSUpdateOnWorkerQueue");
    reportUpdate(
        ZDMEnvironmentInfo::sharedInstance()->deviceOSVersion(), persistedConfig_->osVersion(),
        [this](const std::string& version) { persistedConfig_->setOSVersion(version); }, "_ou", "_po");
}

std::optional<bool> ZDMMeasurement::shouldDisableAdPersonalization() {
    if (const auto stored = persistedConfig_->allowPersonalizedAds(); stored && stored->isNumber())
        return !stored->boolOr(true);
    const auto fallback = Bundle::mainBundle()->objectForInfoDictionaryKey(kAllowAdPersonalizationKey);
    if (!fallback) return std::nullopt;
    if (fallback->isNumber()) return !fallback->boolOr(true);
    return false;
}

void ZDMMeasurement::setPersonalizedAdsUserPropertyOnWorkerQueue() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("setPersonalizedAdsUserPropertyOnWorkerQueue");
    const auto db = database();
    if (!db) return;
    Error error;
    const auto stored = db->userAttributeWithName("_npa", &error);
    if (!stored && !error.description.empty()) {
        logError(1, 23172, "Unable to read personalized ads user property. Error", error);
        return;
    }
    const auto desired = shouldDisableAdPersonalization();
    if (!desired) {
        if (!stored) return;
        if (Error removeError;
            db->deleteUserAttributeWithName("_npa", &removeError) || removeError.description.empty())
            log(4, 23180, "No value set for personalized ads. Removing user property.");
        else
            logError(1, 23173, "Unable to remove personalized ads user property in the database. Error",
                     removeError);
        return;
    }
    const int64_t value = *desired ? 1 : 0;
    if (stored && stored->value() && stored->value()->int64Value() == value) return;
    setUserAttributeOnWorkerQueue(autoProperty("_npa", value, Clock::current().now()));
}

void ZDMMeasurement::backfillSessionNumber() {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("backfillSessionNumber");
    const auto db = database();
    if (!db || persistedConfig_->sessionNumber() != 0) return;
    Error error;
    const auto aggregates = db->eventAggregatesWithName("_s", &error);
    if (!aggregates && !error.description.empty()) {
        ZDMMeasurement::monitor()->logWithLevel(1, 23063, "Unable to query event aggregates. Name, error",
                                                Value(ZDMEventNameForLog(Value("_s"))),
                                                ErrorObject::value(error));
        return;
    }
    persistedConfig_->setSessionNumber(aggregates ? aggregates->lifetimeCount() : 0);
}

bool ZDMMeasurement::updateLifetimeValueWithEvent(const ZDMEvent& event) {
    const auto db = database();
    if (!db || !ZDMLifetimeValueRecorder::isPurchaseEvent(event)) return true;
    if (ZDMLifetimeValueRecorder::recordLifetimeValueToDatabase(*db, event)) return true;
    ZDMMeasurement::monitor()->logWithLevel(
        1, 23053, "Cannot record lifetime value of event. Name, currency code, transaction value",
        Value(ZDMEventNameForLog(Value(event.name()))), event.parameters()["currency"],
        event.parameters()["value"]);
    return false;
}
