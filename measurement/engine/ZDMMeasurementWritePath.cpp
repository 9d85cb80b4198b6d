// The engine's event write path: every accepted event ends as one raw row that points at a
// metadata row. All of it runs on the serial worker queue, so it keeps no locks of its own.
#include <algorithm>
#include <cmath>
#include <limits>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMBundleIdentifiers.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
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

namespace {
// MeasurementBundle fields by index (the wire tag after each).
enum MetadataField : int32_t {
    kProtocolVersion = 0,         // tag 1
    kUserAttributes = 2,          // tag 3
    kPlatform = 8,                // tag 8
    kOSVersion = 9,               // tag 9
    kDeviceModel = 10,            // tag 10
    kLanguage = 11,               // tag 11
    kTimeZoneOffset = 12,         // tag 12
    kAppStore = 13,               // tag 13
    kAppID = 14,                  // tag 14
    kAppVersion = 16,             // tag 16
    kLibraryVersion = 17,         // tag 17
    kResettableDeviceID = 19,     // tag 19
    kZORAppID = 26,               // tag 25
    kInstallationID = 29,         // tag 30
    kAppVersionMajor = 30,        // tag 31
    kAppVersionMinor = 31,        // tag 32
    kAppVersionRelease = 32,      // tag 33
    kAdSdkAppID = 36,             // tag 41
    kSessionStitchingToken = 43,  // tag 63
};

constexpr int32_t kMessageEveryRejections = 1000;

ZDMMonitor& engineMonitor() {
    return *ZDMMeasurement::monitor();
}

Value errorText(const Error& error) {
    return Value(error.description);
}

// The first rejection of a limit and every 1000th after it are worth a line; the rest would flood.
bool rejectionWorthLogging(int64_t count, int64_t limit) {
    return (count - limit) % kMessageEveryRejections == 0;
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
    const auto event = eventAfterSafelistingEvent(incoming);
    if (!event) return;
    writeEventOnWorkerQueue(event);
    updateSchedule();
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
    const auto attributes = db->userAttributesIncludingInternal(true, &error);
    if (!attributes) {
        engineMonitor().logWithLevel(1, 23067, "Data loss. Cannot query user properties. Error",
                                     errorText(error));
        return false;
    }
    const auto metadata = createRawEventMetadataWithUserAttributes(*attributes);
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
    engineMonitor().logWithLevel(7, 23072, "Event logged. Event name, event params", Value(event.name()),
                                 Value(ZDMParametersDescriptionForLog(Value(event.parameters()))));
    return true;
}

std::shared_ptr<ZDMPBMeasurementBundle> ZDMMeasurement::createRawEventMetadataWithUserAttributes(
    const std::vector<std::shared_ptr<ZDMUserAttribute>>& userAttributes) {
    auto bundle = ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
    const auto id = identity();
    ZDMPBSetInt32(bundle.get(), kProtocolVersion, 1);
    ZDMPBSetString(bundle.get(), kPlatform, "macos");
    ZDMPBSetString(bundle.get(), kAppID, id->appID());
    if (!id->isFromAppStore()) ZDMPBSetString(bundle.get(), kAppStore, "manual_install");
    ZDMPBSetString(bundle.get(), kAppVersion, id->appVersion());
    if (const auto zor = id->appIDFromZOR(); nonEmpty(zor))
        ZDMPBSetString(bundle.get(), kZORAppID, *zor);
    else if (const auto adSdk = id->appIDFromAdSdk(); nonEmpty(adSdk))
        ZDMPBSetString(bundle.get(), kAdSdkAppID, *adSdk);
    ZDMPBSetInt64(bundle.get(), kLibraryVersion, ZDMIdentity::didAdirezaridoLibraryVersion());
    if (const auto installation = id->zudedaroInstallationID())
        ZDMPBSetString(bundle.get(), kInstallationID, *installation);
    const bool userIDAvailable = std::ranges::any_of(
        userAttributes, [](const auto& attribute) { return attribute && attribute->name() == "_id"; });
    const auto reporter = sessionReporter();
    const auto token = id->sessionStitchingTokenWithSessionNumber(
        persistedConfig_->sessionNumber(), reporter ? reporter->isSessionExpired() : true, userIDAvailable);
    if (nonEmpty(token)) ZDMPBSetString(bundle.get(), kSessionStitchingToken, *token);
    if (const auto major = id->appVersionMajor())
        ZDMPBSetInt32(bundle.get(), kAppVersionMajor, int32_t(*major));
    if (const auto minor = id->appVersionMinor())
        ZDMPBSetInt32(bundle.get(), kAppVersionMinor, int32_t(*minor));
    if (const auto release = id->appVersionRelease())
        ZDMPBSetInt32(bundle.get(), kAppVersionRelease, int32_t(*release));
    ZDMStampBundleIdentifiers(*bundle, ZDMConsentSettingsUtil::consentSignals(),
                              remoteConfigInstance()->gateIDFAOnATTMASEnabled(), *id);
    const auto environment = ZDMEnvironmentInfo::sharedInstance();
    ZDMPBSetString(bundle.get(), kDeviceModel, environment->deviceModel());
    ZDMPBSetString(bundle.get(), kOSVersion, environment->deviceOSVersion());
    ZDMPBSetInt32(bundle.get(), kTimeZoneOffset, environment->timeZoneOffsetMinutes());
    if (const auto language = environment->userDefaultLanguage())
        ZDMPBSetString(bundle.get(), kLanguage, *language);
    if (!userAttributes.empty()) {
        Value::Array protos;
        for (const auto& attribute : userAttributes)
            if (attribute)
                if (auto proto = attribute->protoUserAttribute()) protos.push_back(Value(proto));
        if (!protos.empty()) ZDMPBSetArray(bundle.get(), kUserAttributes, protos);
    }
    return bundle;
}
