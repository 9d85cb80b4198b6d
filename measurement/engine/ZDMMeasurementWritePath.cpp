// The engine's event write path: every accepted event ends as one raw row that points at a
// metadata row. All of it runs on the serial worker queue, so it keeps no locks of its own.
#include <algorithm>
#include <cmath>
#include <limits>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMBundleIdentifiers.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMInstalledHook.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMMeasurementBundleFields.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/engine/ZDMScreenViewReporter.h"
#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/foundation/ZDMDailyCounts.h"
#include "measurement/foundation/ZDMDataMD5.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMDebugDescription.h"
#include "measurement/foundation/ZDMEnvironmentInfo.h"
#include "measurement/foundation/ZDMErrorEventParameters.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMEventAggregates.h"
#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMRemoteConfigEventEditing.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/dispatch/Clock.h"

using zdm_engine::engineMonitor;

namespace {

constexpr int32_t kMessageEveryRejections = 1000;

Value errorText(const Error& error) {
    return Value(error.description);
}

// The first rejection of a limit and every 1000th after it are worth a line; the rest would flood.
bool rejectionWorthLogging(int64_t count, int64_t limit) {
    return (count - limit) % kMessageEveryRejections == 0;
}

ZDMInstalledHook<ZDMMeasurement::ConditionalPropertyProcessor> conditionalProcessor;

std::optional<std::vector<std::shared_ptr<ZDMEvent>>> processConditionalProperties(
    const std::shared_ptr<ZDMEvent>& event) {
    const auto processor = conditionalProcessor.get();
    if (!processor) return std::vector<std::shared_ptr<ZDMEvent>>{};
    return processor(event);
}

std::optional<std::string> textParameter(const ZDMEvent& event, const std::string& key) {
    const Value& value = event.parameters()[key];
    if (const auto wrapped = value.objectAs<ZDMValue>()) return wrapped->stringValue();
    if (const auto* text = value.asString()) return *text;
    return std::nullopt;
}

bool nonEmpty(const std::optional<std::string>& text) {
    return text && !text->empty();
}
}  // namespace

int32_t ZDMMeasurement::currentDayNumber() {
    const double now = Clock::current().now();
    return static_cast<int32_t>(std::floor((now - persistedConfig_->midnightOffset()) / 86400.0));
}

void ZDMMeasurement::handleInternalEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("handleInternalEventOnWorkerQueue:");
    if (!event) return;
    // Error events describe the library itself; the app's defaults do not belong on them.
    if (!ZDMIsErrorEvent(event.get())) {
        if (auto defaults = persistedConfig_->defaultEventParameters()) event->applyParameters(*defaults);
    }
    handleEventOnWorkerQueue(event);
    ZDMAnalytics::notifyEventListeners(event);
}

std::shared_ptr<ZDMEvent> ZDMMeasurement::eventAfterSafelistingEvent(const std::shared_ptr<ZDMEvent>& event) {
    if (safelistedEvents_.empty()) return event;
    if (std::find(safelistedEvents_.begin(), safelistedEvents_.end(), event->name()) !=
        safelistedEvents_.end()) {
        Dictionary parameters = event->parameters();
        parameters.set("za_safelisted", Value(ZDMValue::initWithInt64(1)));
        return event->copyWithParameters(parameters);
    }
    engineMonitor().logWithLevel(3, 23174, "Event dropped. Reason: not in allowlist. Event name, origin",
                                 Value(event->name()), Value(event->origin()));
    return nullptr;
}

void ZDMMeasurement::handleEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& incoming) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("handleEventOnWorkerQueue:");
    if (!incoming) return;
    if (!isEnabled()) {
        engineMonitor().logWithLevel(7, 23049, "Analytics is disabled. Event not logged");
        return;
    }
    auto event = eventAfterSafelistingEvent(incoming);
    if (!event) return;
    processSessionFromEvent(event);
    if (!dedupeSubscriptionEvent(*event)) return;
    auto extraEvents = processConditionalProperties(event);
    if (!extraEvents) {
        engineMonitor().logWithLevel(4, 23050,
                                     "Unable to process conditional user property. Event name, origin",
                                     Value(event->name()), Value(event->origin()));
        extraEvents.emplace();
    }
    if (event->name() == "_ssr" && shouldDropDuplicatedSessionStartWithRolloutEvent(*event)) return;
    event = appExceptionEventWithZudedaroFeatureRollouts(event);
    writeEventOnWorkerQueue(event);
    writeSessionStartEventOnWorkerQueue(event);
    for (const auto& extra : *extraEvents) writeEventOnWorkerQueue(extra);
    updateSchedule();
}

void ZDMMeasurement::setConditionalPropertyProcessor(ConditionalPropertyProcessor processor) {
    conditionalProcessor.set(std::move(processor));
}

bool ZDMMeasurement::dedupeSubscriptionEvent(const ZDMEvent& event) {
    if (!ZDMIsSubscriptionPurchaseEvent(&event)) return true;
    const auto did = event.parameters()["_did"].objectAs<ZDMValue>();
    if (!did || did->valueType() != ZDMValue::kTypeInt64) return true;
    const auto db = database();
    if (!db) return true;
    Error error;
    const auto isNew = db->insertIfNotDuplicateSubscriptionID(std::to_string(did->int64Value()), &error);
    if (!isNew) {
        // Losing a purchase is worse than counting one twice.
        engineMonitor().logWithLevel(2, 23181, "Failed to save subscription ID. Product ID, error",
                                     Value(textParameter(event, "product_id").value_or("")),
                                     errorText(error));
        return true;
    }
    if (!*isNew) {
        engineMonitor().logWithLevel(
            4, 23182, "Event dropped. Reason: Subscription purchase is a duplicate. Product ID",
            Value(textParameter(event, "product_id").value_or("")));
        return false;
    }
    const auto deleted = db->deleteSubscriptionsOverLimit(&error);
    if (!deleted) {
        engineMonitor().logWithLevel(5, 23183, "Failed to delete older subscription records. Error",
                                     errorText(error));
        return false;
    }
    if (*deleted > 0)
        engineMonitor().logWithLevel(5, 23184, "Deleted older subscription records beyond limit",
                                     Value(*deleted));
    return true;
}

bool ZDMMeasurement::shouldDropDuplicatedSessionStartWithRolloutEvent(const ZDMEvent& event) {
    const Value& raw = event.parameters()["_ffr"];
    const bool present = !raw.isNull();
    const auto value = textParameter(event, "_ffr");
    const auto stored = persistedConfig_->zudedaroFeatureRollouts();
    const bool duplicate = stored ? (value && *value == *stored) : (!present || (value && value->empty()));
    if (duplicate) {
        engineMonitor().logWithLevel(8, 23191, "Feature rollouts value is a duplicate, dropping event");
        return true;
    }
    if (present && !value)
        engineMonitor().logWithLevel(2, 23190,
                                     "Unable to process zudedaro feature rollouts, value is not a string.");
    persistedConfig_->setZudedaroFeatureRollouts(nonEmpty(value) ? value : std::nullopt);
    return false;
}

std::shared_ptr<ZDMEvent> ZDMMeasurement::appExceptionEventWithZudedaroFeatureRollouts(
    const std::shared_ptr<ZDMEvent>& event) {
    if (event->name() != "_ae") return event;
    const auto stored = persistedConfig_->zudedaroFeatureRollouts();
    if (!stored) return event;
    Dictionary parameters = event->parameters();
    parameters.set("_ffr", Value(ZDMValue::initWithString(Value(*stored))));
    return event->copyWithParameters(parameters);
}

void ZDMMeasurement::writeSessionStartEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event) {
    if (event->name() != "_s") return;
    const auto stored = persistedConfig_->zudedaroFeatureRollouts();
    if (!stored) return;
    writeEventOnWorkerQueue(
        ZDMEvent::initWithOrigin("auto", false, "_ssr", Clock::current().now(), 0,
                                 Dictionary{{"_ffr", Value(ZDMValue::initWithString(Value(*stored)))}}));
}

void ZDMMeasurement::writeEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("writeEventOnWorkerQueue:");
    if (!event) return;
    engineMonitor().logWithLevel(7, 23051, "Logging event: origin, name, params", Value(event->origin()),
                                 Value(ZDMEventNameForLog(Value(event->name()))),
                                 Value(ZDMParametersDescriptionForLog(Value(event->parameters()))));
    const auto config = remoteConfigInstance();
    if (config && config->isEventBlocklisted(event->name())) {
        engineMonitor().logWithLevel(5, 23052, "Rejected event. Event name", Value(event->name()));
        // Under a global blocklist every such event would raise one more error event; an error
        // event about an error event would loop.
        if (!config->blocklistInternal() && !config->blocklistPublic() && !ZDMIsErrorEvent(event.get()))
            ZDMLogErrorEventWithParameter(11, Value(event->name()), 40, Value());
        return;
    }
    const auto editing = config && config->eesFeatureEnabled() ? config->eventEditing() : nullptr;
    if (!editing) {
        writeFilteredEventOnWorkerQueue(event);
        return;
    }
    ZDMRemoteConfigEventEditing::EditedEvents edited;
    Error error;
    if (!editing->editEvent(*event, &edited, &error)) {
        // A program that fails must not cost the app its event: it is stored as received.
        writeFilteredEventOnWorkerQueue(event);
        engineMonitor().logWithLevel(1, 23223, "Event editing failed. Event name", Value(event->name()));
        return;
    }
    writeFilteredEventOnWorkerQueue(edited.editedEvent ? edited.editedEvent : event);
    for (const auto& created : edited.createdEvents)
        if (created) writeFilteredEventOnWorkerQueue(created);
}

void ZDMMeasurement::writeFilteredEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("writeFilteredEventOnWorkerQueue:");
    const auto db = database();
    if (!event || !db) return;
    if (const auto id = identity()) id->updateIdentifiers();
    if (ZDMIsConversionEventName(event->name())) event->setConversion(true);
    db->performTransaction([&] {
        if (!updateLifetimeValueWithEvent(*event)) return false;
        const bool isPublic = ZDMIsPublicName(Value(event->name()));
        Error error;
        auto counts = db->dailyCounts(&error);
        if (!counts) {
            engineMonitor().logWithLevel(1, 23054, "Data loss. Unable to query daily event counts. Error",
                                         errorText(error));
            return false;
        }
        const bool process = shouldProcessEvent(*event, *counts, isPublic);
        const bool realtime = isRealtimeEvent(*event, *counts);
        if (!db->updateDailyCounts(&*counts, &error)) {
            engineMonitor().logWithLevel(1, 23061,
                                         "Data loss. Unable to update daily event counts. Name, error",
                                         Value(event->name()), errorText(error));
            return false;
        }
        return process ? writeEvent(*event, isPublic, realtime) : true;
    });
}

bool ZDMMeasurement::shouldProcessEvent(const ZDMEvent& event, ZDMDailyCounts& counts, bool isPublicEvent) {
    const auto config = remoteConfigInstance();
    const int32_t day = currentDayNumber();
    if (day != counts.day()) counts.resetWithNewDay(day);
    const bool isError = ZDMIsErrorEvent(&event);
    bool rejected = false;
    bool rejectedBelowAllLimit = false;
    const int64_t all = counts.allEventsCount();
    if (all >= config->maxEventsPerDay()) {
        rejected = true;
        if (rejectionWorthLogging(all, config->maxEventsPerDay()))
            engineMonitor().logWithLevel(1, 23055, "Data loss. Too many events logged. Name, limit",
                                         Value(event.name()), Value(int64_t{config->maxEventsPerDay()}));
    } else if (isError) {
        if (counts.errorEventsCount() >= config->maxErrorEventsPerDay()) {
            rejected = rejectedBelowAllLimit = true;
            if (rejectionWorthLogging(counts.errorEventsCount(), config->maxErrorEventsPerDay()))
                engineMonitor().logWithLevel(1, 23056, "Too many error events logged. Error code, limit",
                                             event.parameters()["_err"],
                                             Value(int64_t{config->maxErrorEventsPerDay()}));
        }
    } else if (isPublicEvent && counts.publicEventsCount() >= config->maxPublicEventsPerDay()) {
        rejected = rejectedBelowAllLimit = true;
        if (rejectionWorthLogging(counts.publicEventsCount(), config->maxPublicEventsPerDay())) {
            engineMonitor().logWithLevel(1, 23057, "Data loss. Too many public events logged. Name, limit",
                                         Value(event.name()),
                                         Value(int64_t{config->maxPublicEventsPerDay()}));
            ZDMLogErrorEvent(16);
        }
    }
    // Rejected events are counted too, so the limits see every attempt of the day.
    if (isError) {
        counts.incrementErrorEventsCountForCurrentDay(day);
    } else {
        const int64_t effective = 1 + ZDMEventArrayParameterItemCount(&event);
        counts.incrementCountsForCurrentDay(
            day, isPublicEvent, false,
            static_cast<int32_t>(std::min<int64_t>(effective, std::numeric_limits<int32_t>::max())));
    }
    // A rejection by a narrower limit must not use up the all-events allowance for the day.
    if (rejectedBelowAllLimit) counts.decrementAllEventsCount();
    return !rejected;
}

bool ZDMMeasurement::isRealtimeEvent(ZDMEvent& event, const ZDMDailyCounts& counts) {
    const auto config = remoteConfigInstance();
    const int32_t limit = config->maxRealtimeEventCountPerDay();
    const bool subject = ZDMIsSubjectToRealtimeDailyLimit(event);
    const bool conversion = event.isConversion() || config->isEventCustomConversion(event.name());
    const bool conversionRealtime = conversion && (counts.realtimeCount() < limit || !subject);
    if (event.isRealtime() && subject && counts.realtimeCount() >= limit) {
        event.setRealtime(false);
        engineMonitor().logWithLevel(
            4, 23060, "Too many real-time events. Event is no longer real-time. Event name, parameters",
            Value(event.name()), Value(ZDMParametersDescriptionForLog(Value(event.parameters()))));
    }
    if (engineMonitor().isDebugModeEnabled()) {
        event.setRealtime(true);
        event.setDebug(true);
        engineMonitor().logWithLevel(
            7, 23073, "Debug mode is enabled. Marking event as debug and real-time. Event name, parameters",
            Value(event.name()), Value(ZDMParametersDescriptionForLog(Value(event.parameters()))));
    }
    return conversionRealtime || event.isRealtime();
}

bool ZDMMeasurement::writeEvent(ZDMEvent& event, bool isPublicEvent, bool isRealtime) {
    const auto db = database();
    const auto config = remoteConfigInstance();
    Error error;
    const auto aggregates = db->eventAggregatesWithName(event.name(), &error);
    if (!aggregates && !error.description.empty()) {
        engineMonitor().logWithLevel(1, 23063, "Cannot query event aggregates. Name, error",
                                     Value(event.name()), errorText(error));
        return false;
    }
    if (!aggregates) {
        if (isPublicEvent) {
            const auto count = db->publicEventCount(&error);
            if (!count) {
                engineMonitor().logWithLevel(1, 23064, "Cannot query event count. Error", errorText(error));
                return false;
            }
            if (*count >= config->maxEventNameCardinality()) {
                engineMonitor().logWithLevel(1, 23065, "Cannot set event. Reached limit on set events. Name",
                                             Value(event.name()));
                ZDMLogErrorEvent(8);
                return false;
            }
        }
        const auto fresh = ZDMEventAggregates::initWithName(event.name(), 0, 0, 0, 0);
        if (!fresh || !db->updateEventAggregates(fresh.get(), &error)) {
            engineMonitor().logWithLevel(1, 23066, "Data loss. Cannot record event aggregates. Error",
                                         errorText(error));
            return false;
        }
    }
    if (const auto id = identity(); id && id->shouldSetLastAdvertisingIDResetUserProperty())
        setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
    const auto attributes = db->userAttributesIncludingInternal(true, &error);
    if (!attributes) {
        engineMonitor().logWithLevel(1, 23067, "Data loss. Cannot query user properties. Error",
                                     errorText(error));
        return false;
    }
    const auto metadata = createRawEventMetadataWithUserAttributes(*attributes);
    if (ZDMPBHasField(metadata.get(), kBundleResettableDeviceID)) {
        if (persistedConfig_->unmatchedFirstOpenWithoutIDFA()) logFirstOpenConsentedEvent(event.timestamp());
    } else if (event.name() == "_f") {
        persistedConfig_->setUnmatchedFirstOpenWithoutIDFA(true);
    }
    if (!db->insertIfNotExistsRawEventMetadata(metadata.get(), &error)) {
        engineMonitor().logWithLevel(1, 23068, "Data loss. Cannot record event metadata. Error",
                                     errorText(error));
        return false;
    }
    const auto deleted = db->deleteRawEventsOverAbsoluteLimit(&error);
    if (!deleted) {
        engineMonitor().logWithLevel(1, 23069, "Data loss. Unable to check raw event storage limit. Error",
                                     errorText(error));
        return false;
    }
    if (*deleted != 0)
        engineMonitor().logWithLevel(4, 23070, "Data loss. Too many events stored on disk. Deleted count",
                                     Value(*deleted));
    const auto encoding = metadata->protoBuffer();
    const int64_t fingerprint = encoding ? zdm_64LSBMD5(*encoding) : 0;
    if (!db->insertRawEvent(&event, fingerprint, isRealtime, &error)) {
        engineMonitor().logWithLevel(1, 23071, "Data loss. Cannot record raw event. Error", errorText(error));
        return false;
    }
    if (event.name() == "_f") {
        const auto stored = previousFirstOpenCount();
        int64_t count = 0;
        try {
            count = stored ? std::max<int64_t>(std::stoll(*stored), 0) : 0;
        } catch (...) {
            count = 0;
        }
        if (count < std::numeric_limits<int64_t>::max()) ++count;
        setPreviousFirstOpenCount(std::to_string(count));
    }
    engineMonitor().logWithLevel(7, 23072, "Event logged. Event name, event params", Value(event.name()),
                                 Value(ZDMParametersDescriptionForLog(Value(event.parameters()))));
    return true;
}

std::shared_ptr<ZDMPBMeasurementBundle> ZDMMeasurement::createRawEventMetadataWithUserAttributes(
    const std::vector<std::shared_ptr<ZDMUserAttribute>>& userAttributes) {
    auto bundle = ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
    const auto id = identity();
    ZDMPBSetInt32(bundle.get(), kBundleProtocolVersion, 1);
    ZDMPBSetString(bundle.get(), kBundlePlatform, "macos");
    ZDMPBSetString(bundle.get(), kBundleAppID, id->appID());
    if (!id->isFromAppStore()) ZDMPBSetString(bundle.get(), kBundleAppStore, "manual_install");
    ZDMPBSetString(bundle.get(), kBundleAppVersion, id->appVersion());
    if (const auto zor = id->appIDFromZOR(); nonEmpty(zor))
        ZDMPBSetString(bundle.get(), kBundleZORAppID, *zor);
    else if (const auto adSdk = id->appIDFromAdSdk(); nonEmpty(adSdk))
        ZDMPBSetString(bundle.get(), kBundleAdSdkAppID, *adSdk);
    ZDMPBSetInt64(bundle.get(), kBundleLibraryVersion, ZDMIdentity::didAdirezaridoLibraryVersion());
    if (const auto installation = id->zudedaroInstallationID())
        ZDMPBSetString(bundle.get(), kBundleInstallationID, *installation);
    const bool userIDAvailable = hasUserPropertyUserIDOnWorkerQueue();
    const auto reporter = sessionReporter();
    const auto token = id->sessionStitchingTokenWithSessionNumber(
        persistedConfig_->sessionNumber(), reporter ? reporter->isSessionExpired() : true, userIDAvailable);
    if (nonEmpty(token)) ZDMPBSetString(bundle.get(), kBundleSessionStitchingToken, *token);
    if (const auto major = id->appVersionMajor())
        ZDMPBSetInt32(bundle.get(), kBundleAppVersionMajor, int32_t(*major));
    if (const auto minor = id->appVersionMinor())
        ZDMPBSetInt32(bundle.get(), kBundleAppVersionMinor, int32_t(*minor));
    if (const auto release = id->appVersionRelease())
        ZDMPBSetInt32(bundle.get(), kBundleAppVersionRelease, int32_t(*release));
    ZDMStampBundleIdentifiers(*bundle, ZDMConsentSettingsUtil::consentSignals(),
                              remoteConfigInstance()->gateIDFAOnATTMASEnabled(), *id);
    const auto environment = ZDMEnvironmentInfo::sharedInstance();
    ZDMPBSetString(bundle.get(), kBundleDeviceModel, environment->deviceModel());
    ZDMPBSetString(bundle.get(), kBundleOSVersion, environment->deviceOSVersion());
    ZDMPBSetInt32(bundle.get(), kBundleTimeZoneOffset, environment->timeZoneOffsetMinutes());
    if (const auto language = environment->userDefaultLanguage())
        ZDMPBSetString(bundle.get(), kBundleLanguage, *language);
    if (!userAttributes.empty()) {
        Value::Array protos;
        for (const auto& attribute : userAttributes)
            if (attribute)
                if (auto proto = attribute->protoUserAttribute()) protos.push_back(Value(proto));
        if (!protos.empty()) ZDMPBSetArray(bundle.get(), kBundleUserAttributes, protos);
    }
    return bundle;
}

void ZDMMeasurement::processSessionFromEvent(const std::shared_ptr<ZDMEvent>& event) {
    const auto reporter = sessionReporter();
    if (!reporter || ZDMIsAppActive()) return;
    if (const Value* extend = event->parameters().find("extend_session")) {
        const auto wrapped = extend->objectAs<ZDMValue>();
        if (wrapped && wrapped->valueType() == ZDMValue::kTypeInt64 && wrapped->int64Value() == 1) {
            if (reporter->isSessionExpired())
                reportSessionStartOnWorkerQueueWithTimestamp(event->timestamp(), true);
            else
                reporter->extendSession();
        } else {
            engineMonitor().logWithLevel(
                3, 23179,
                "extend_session is a reserved parameter. To extend or start a session in "
                "the background, set an event parameter {@'extend_session': @1}");
        }
    }
    if (!reporter->isSessionExpired()) return;
    const auto db = database();
    if (!db) return;
    db->performTransaction([&] {
        struct Removal {
            const char* name;
            int64_t code;
            const char* message;
        };
        static constexpr Removal kRemovals[] = {
            {"_sid", 23177, "Failed to remove session ID user property on session expiration. Error"},
            {"_sno", 23178, "Failed to remove session number user property on session expiration. Error"},
            {"_se", 23192,
             "Failed to remove session user engagement user property on session expiration. Error"},
        };
        for (const auto& removal : kRemovals) {
            Error error;
            if (!db->deleteUserAttributeWithName(removal.name, &error)) {
                engineMonitor().logWithLevel(2, removal.code, removal.message, errorText(error));
                return false;
            }
        }
        return true;
    });
}

void ZDMMeasurement::reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground) {
    const auto reporter = sessionReporter();
    const auto db = database();
    if (!reporter || !db || !reporter->isSessionExpired()) return;
    reporter->updatePropertiesForNewSessionStart();
    for (const auto& property :
         {reporter->sessionIDPropertyWithTimestamp(timestamp), reporter->sessionNumberProperty()})
        if (property) setUserAttributeOnWorkerQueue(property);
    Dictionary parameters{
        {"_sid", Value(ZDMValue::initWithInt64(static_cast<int64_t>(timestamp)))},
        {"_sno", Value(ZDMValue::initWithInt64(persistedConfig_->sessionNumber()))},
    };
    if (appInBackground && remoteConfigInstance()->appInBackgroundParameterEnabled())
        parameters.set("_aib", Value(ZDMValue::initWithInt64(1)));
    else
        for (const auto& [key, value] : ZDMScreenViewReporter::sharedInstance()->screenParameters())
            parameters.set(key, value);
    handleInternalEventOnWorkerQueue(ZDMEvent::initWithOrigin("auto", false, "_s", timestamp, 0, parameters));
}

void ZDMMeasurement::logFirstOpenConsentedEvent(double firstOpenTimestamp) {
    persistedConfig_->setUnmatchedFirstOpenWithoutIDFA(false);
    // Queued behind the write under way, so "_fx" follows the event that found the advertising ID.
    scheduleOnWorkerQueue("ZDMMeasurement:886", [firstOpenTimestamp](ZDMMeasurement& engine) {
        auto event = ZDMEvent::initWithOrigin("auto", false, "_fx", firstOpenTimestamp, 0, {});
        if (!event) return;
        event->setRealtime(true);
        engine.writeEventOnWorkerQueue(event);
    });
}
