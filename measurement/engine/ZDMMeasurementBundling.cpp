// Turning stored raw events into queued upload bundles. One call of bundleRawEvents makes at most
// one bundle in one database transaction, so a failure anywhere leaves the raw rows, counters,
// aggregates and the bundle index exactly as they were and the next upload tries again.
#include "measurement/engine/ZDMMeasurementBundling.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "measurement/engine/ZDMBundleIdentifiers.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMEngineAudience.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMMeasurementBundleFields.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/ZDMAEU.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMEventAggregates.h"
#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMRawEventData.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/dispatch/Clock.h"

using zdm_engine::log;

namespace {
constexpr int64_t kHourSeconds = 3600;

// UserAttribute fields by index.
constexpr int32_t kAttributeSetMillis = 0, kAttributeName = 1, kAttributeInt = 3;

std::optional<int64_t> integerParameter(const ZDMEvent& event, std::string_view name) {
    const Value* parameter = event.parameters().find(name);
    const auto value = parameter ? parameter->objectAs<ZDMValue>() : nullptr;
    if (!value || !value->isInt64()) return std::nullopt;
    return value->int64Value();
}

int64_t millis(double seconds) {
    return static_cast<int64_t>(seconds * 1000);
}

Value intValue(int64_t value) {
    return Value(ZDMValue::initWithInt64(value));
}

std::shared_ptr<ZDMEvent> withParameter(const ZDMEvent& event, const std::string& name, int64_t value) {
    Dictionary parameters = event.parameters();
    parameters.set(name, intValue(value));
    return ZDMEvent::initWithOrigin(event.origin(), false, event.name(), event.timestamp(),
                                    event.previousTimestamp(), parameters);
}
}  // namespace

// Rows up to the last one read, then the group's metadata once no row uses it any more; a failure
// leaves the caller's transaction to roll back.
bool ZDMDeleteProcessedRawEvents(ZDMDatabase& database, int64_t lastRowID, int64_t fingerprint) {
    Error error;
    if (!database.deleteRawEventsWithMaxRowID(lastRowID, &error)) {
        log(1, 23119, "Unable to delete raw events. RowID, error", Value(error.description));
        return false;
    }
    const auto inUse = database.containsRawEventWithMetadataFingerprint(fingerprint, &error);
    if (!inUse) {
        log(1, 23120, "Unable to query existence of raw event. Metadata, error", Value(error.description));
        return false;
    }
    if (!*inUse && !database.deleteRawEventMetadataWithMetadataFingerprint(fingerprint, &error)) {
        log(1, 23121, "Unable to delete raw event metadata. Metadata, error", Value(error.description));
        return false;
    }
    return true;
}

std::optional<ZDMMeasurement::RawEvents> ZDMMeasurement::rawEventsWithMetadataFingerprint(
    int64_t fingerprint) {
    const auto db = database();
    const auto config = remoteConfigInstance();
    if (!db || !config) return std::nullopt;
    const int64_t maxEvents = config->uploadMaxEventsPerBundle();
    const int64_t maxBytes = config->uploadMaxSizeLimitBytes();
    int64_t hour = -1;
    int64_t lastRowID = -1;
    int64_t totalBytes = 0;
    const auto filter = [&](int64_t index, const ZDMDatabase::Record& row) {
        if (index > 0 && index >= maxEvents) return false;
        Error error;
        const auto raw = db->rawEventDataFromDictionary(row, &error);
        if (!raw) {
            log(4, 23096, "Failed to filter raw event. Error", Value(error.description));
            return false;
        }
        const int64_t h = static_cast<int64_t>(std::floor(raw->rawEvent()->timestamp())) / kHourSeconds;
        if (index == 0) {
            hour = h;
        } else if (h != hour || raw->rowID() != lastRowID + 1) {
            return false;
        }
        const auto encoding = raw->rawEvent()->protoEvent()->protoBuffer();
        const auto size = static_cast<int64_t>(encoding ? encoding->size() : 0);
        // An event too large for any bundle still travels, alone: refusing the group's first row
        // would leave it first in line forever and stop every later bundle.
        if (index > 0 && totalBytes + size >= maxBytes) return false;
        totalBytes += size;
        lastRowID = raw->rowID();
        return true;
    };
    Error error;
    auto rows = db->rawEventsWithMetadataFingerprint(fingerprint, &error, filter);
    if (!rows || (rows->empty() && error.code != 0)) {
        log(1, 23097, "Inconsistent state, raw event is expected. Error", Value(error.description));
        return std::nullopt;
    }
    return rows;
}

std::optional<ZDMMeasurement::Events> ZDMMeasurement::processRawEvents(const RawEvents& rawEvents,
                                                                       int64_t fingerprint) {
    const auto db = database();
    const auto config = remoteConfigInstance();
    if (!db || !config || rawEvents.empty()) return std::nullopt;
    const auto& reservedNames = ZDMLoggableReservedEventNameMap();
    RawEvents kept;
    for (const auto& raw : rawEvents) {
        const auto& event = *raw->rawEvent();
        const Value* mapped = reservedNames.find(event.name());
        if (mapped && config->blocklistInternal() && !config->blocklistPublic()) {
            kept.push_back(raw);
            continue;
        }
        const bool blocked =
            config->isEventBlocklisted(event.name()) ||
            (mapped && mapped->isString() && config->isEventBlocklisted(*mapped->asString()));
        if (blocked) {
            log(4, 23099, "Rejected event. Event name", Value(event.name()));
            continue;
        }
        if (config->redundantEngagementRemovalEnabled() && event.name() == "_e") {
            if (integerParameter(event, "_fr") == 1) continue;
        }
        kept.push_back(raw);
    }
    if (kept.empty()) {
        if (!ZDMDeleteProcessedRawEvents(*db, rawEvents.back()->rowID(), fingerprint)) return std::nullopt;
        log(4, 23100, "Rejected all events.");
        return Events{};
    }
    Error error;
    auto counts = db->dailyCounts(&error);
    if (!counts) {
        log(1, 23101, "Failed to query daily event counts. Error", Value(error.description));
        return std::nullopt;
    }
    Events events;
    bool countsChanged = false;
    for (const auto& raw : kept) {
        auto event = internalEventFromPublicEvent(raw->rawEvent());
        countsChanged = checkConversion(*event, *counts) || countsChanged;
        countsChanged = checkRealtime(*event, *counts) || countsChanged;
        events.push_back(validatePurchaseEvent(event));
    }
    if (countsChanged && !db->updateDailyCounts(&*counts, &error)) {
        log(2, 23106, "Failed to update daily event counts. Name, error", Value(error.description));
        return std::nullopt;
    }
    return events;
}

std::shared_ptr<ZDMEvent> ZDMMeasurement::internalEventFromPublicEvent(
    const std::shared_ptr<ZDMEvent>& event) {
    const Value* internal = ZDMLoggableReservedEventNameMap().find(event->name());
    if (!internal || !internal->isString()) return event;
    auto renamed = ZDMEvent::initWithOrigin(event->origin(), false, *internal->asString(), event->timestamp(),
                                            event->previousTimestamp(), event->parameters());
    return renamed ? renamed : event;
}

bool ZDMMeasurement::checkConversion(ZDMEvent& event, ZDMDailyCounts& counts) {
    const auto config = remoteConfigInstance();
    if (config->isEventCustomConversion(event.name())) event.setConversion(true);
    if (!event.isConversion() || !ZDMIsPublicName(Value(event.name()))) return false;
    const int32_t limit = config->maxConversionsPerDay();
    if (counts.conversionsCount() < limit) {
        // Only the conversion count grows: the event was counted once when it was written.
        counts.incrementCountsForCurrentDay(database()->today(), false, true);
        counts.decrementAllEventsCount();
        return true;
    }
    event.setConversion(false);
    log(3, 23102, "Too many conversion events. Not logging event as conversion. Name, limit",
        Value(event.name()));
    return false;
}

bool ZDMMeasurement::checkRealtime(ZDMEvent& event, ZDMDailyCounts& counts) {
    if (!event.isRealtime() && !event.isConversion()) return false;
    if (!ZDMIsSubjectToRealtimeDailyLimit(event)) {
        event.setRealtime(true);
        log(7, 23105,
            "Event is not subject to real-time event count daily limit. Marking an event as real-time. Event "
            "name, parameters",
            Value(event.name()));
        return false;
    }
    if (counts.realtimeCount() < remoteConfigInstance()->maxRealtimeEventCountPerDay()) {
        counts.incrementRealtimeCountsForCurrentDay(database()->today());
        event.setRealtime(true);
        log(7, 23103,
            "Event is under real-time event count daily limit. Marking the event as real-time. Event name, "
            "parameters",
            Value(event.name()));
        return true;
    }
    event.setRealtime(false);
    log(4, 23104,
        "Number of real-time events is over the real-time event count daily limit. Event is no longer "
        "real-time. Event name, parameters",
        Value(event.name()));
    return false;
}

std::shared_ptr<ZDMEvent> ZDMMeasurement::validatePurchaseEvent(const std::shared_ptr<ZDMEvent>& event) {
    if (event->name() != "_iap" || !ZDMAEU::isASRS()) return event;
    auto sandbox = withParameter(*event, "sandbox", 1);
    return sandbox ? sandbox : event;
}

void ZDMMeasurement::evaluationTimeFromRawEvents(const RawEvents& rawEvents, ZDMPBMeasurementBundle& bundle) {
    const auto db = database();
    const bool sessionStart =
        std::ranges::any_of(rawEvents, [](const auto& raw) { return raw->rawEvent()->name() == "_s"; });
    if (sessionStart) {
        const auto evaluator = audience();
        if (evaluator) evaluator->clearEvaluationResultsForSessionScopedFilters();
        const auto attributes =
            ZDMPBGetArray(&bundle, kBundleUserAttributes, &ZDMPBUserAttribute::messageClass())
                .value_or(Value::Array{});
        for (const auto& element : attributes) {
            const auto attribute = element.objectAs<ZDMPBUserAttribute>();
            if (evaluator && attribute &&
                !evaluator->evaluateFiltersForNanoUserProperty(*attribute, nullptr, std::nullopt))
                return;
        }
        Error error;
        if (!db->clearCurrentSessionCounts(&error)) {
            log(1, 23185, "Failed to clear event session counts. Error", Value(error.description));
            return;
        }
    }
    int64_t sum = 0;
    for (const auto& raw : rawEvents) {
        const auto& event = *raw->rawEvent();
        if (event.parameters().contains("_fr")) continue;
        if (const auto engagement = integerParameter(event, "_et")) sum += *engagement;
    }
    if (!updateUserEngagement(sum, bundle, false)) return;
    Error error;
    if (sessionStart && !db->deleteUserAttributeWithName("_se", &error)) {
        log(1, 23188, "Unable to delete session engagement property on session start. Error",
            Value(error.description));
        return;
    }
    updateUserEngagement(sum, bundle, true);
}

bool ZDMMeasurement::updateUserEngagement(int64_t amount, ZDMPBMeasurementBundle& bundle,
                                          bool sessionScoped) {
    if (amount < 0) {
        log(2, 23186, "User engagement time is negative.");
        return false;
    }
    if (amount == 0) return true;
    const auto db = database();
    const std::string name = sessionScoped ? "_se" : "_lte";
    Error error;
    const auto stored = db->userAttributeWithName(name, &error);
    if (!stored && error.code != 0) {
        log(1, 23187, "Failed to query for user engagement user property. Name, error", Value(name));
        return false;
    }
    int64_t total = amount;
    if (stored && stored->value() && stored->value()->isInt64()) total += stored->value()->int64Value();
    const double now = Clock::current().now();
    const auto attribute =
        ZDMUserAttribute::initWithOrigin("auto", name, ZDMValue::initWithInt64(total), now);
    if (!attribute || !setUserPropertyInDatabaseOnWorkerQueue(attribute)) return false;

    auto attributes = ZDMPBGetArray(&bundle, kBundleUserAttributes, &ZDMPBUserAttribute::messageClass())
                          .value_or(Value::Array{});
    bool found = false;
    for (auto& element : attributes) {
        const auto entry = element.objectAs<ZDMPBUserAttribute>();
        if (!entry || ZDMPBGetString(entry.get(), kAttributeName) != name) continue;
        // Array elements are shared; the stored copy is changed on a copy of its own.
        auto copy = ZDMPBUserAttribute::initWithBuffer(*entry->protoBuffer());
        ZDMPBSetInt64(copy.get(), kAttributeInt, total);
        ZDMPBSetInt64(copy.get(), kAttributeSetMillis, millis(now));
        element = Value(std::static_pointer_cast<const Object>(copy));
        found = true;
    }
    if (!found)
        attributes.push_back(Value(std::static_pointer_cast<const Object>(attribute->protoUserAttribute())));
    ZDMPBSetArray(&bundle, kBundleUserAttributes, attributes);
    return true;
}

std::optional<ZDMMeasurement::Events> ZDMMeasurement::eventsAfterUpdatingEventAggregates(
    const Events& events, ZDMAudienceTimestampsCache* audienceTimestampsCache) {
    const auto db = database();
    const auto evaluator = audience();
    Events updated;
    for (const auto& event : events) {
        Error error;
        auto aggregates = db->eventAggregatesWithName(event->name(), &error);
        if (!aggregates && error.code != 0) {
            log(1, 23107, "Failed to query event aggregates. Name, error", Value(event->name()));
            return std::nullopt;
        }
        auto current = event;
        if (aggregates) {
            current = event->copyWithPreviousTimestamp(aggregates->lastFireTimestamp());
            aggregates->incrementCurrentBundleCount();
            aggregates->incrementLifetimeCount();
            aggregates->incrementCurrentSessionCount();
            aggregates->setLastFireTimestamp(event->timestamp());
        } else {
            aggregates = ZDMEventAggregates::initWithName(event->name(), 1, 1, 1, event->timestamp());
        }
        if (!current || !aggregates || !db->updateEventAggregates(aggregates.get(), &error)) {
            log(1, 23108, "Failed to update event aggregates. Error", Value(error.description));
            return std::nullopt;
        }
        if (evaluator &&
            !evaluator->evaluateFiltersForEvent(*current, aggregates.get(), audienceTimestampsCache))
            return std::nullopt;
        updated.push_back(current);
    }
    return updated;
}

bool ZDMMeasurement::updateAppMetadataForBundle(ZDMPBMeasurementBundle& bundle, double start, double end) {
    const auto db = database();
    Error error;
    auto metadata = db->queryAppMetadata(&error);
    if (!metadata) {
        log(1, 23111, "Unable to fetch app metadata for bundling events. Error", Value(error.description));
        return false;
    }
    const double previousEnd = metadata->lastBundleEndTimestamp();
    const double previousStart = metadata->lastBundleStartTimestamp();
    if (previousEnd > 0) ZDMPBSetInt64(&bundle, kBundlePreviousEndMillis, millis(previousEnd));
    if (previousStart > 0)
        ZDMPBSetInt64(&bundle, kBundlePreviousStartMillis, millis(previousStart));
    else if (previousEnd > 0)
        ZDMPBSetInt64(&bundle, kBundlePreviousStartMillis, millis(previousEnd));
    metadata->incrementLastBundleIndex();
    metadata->setLastBundleStartTimestamp(start);
    metadata->setLastBundleEndTimestamp(end);
    ZDMPBSetInt32(&bundle, kBundleIndex, metadata->lastBundleIndex());
    if (!db->updateAppMetadata(&*metadata, &error)) {
        log(1, 23112, "Unable to update the app metadata. Error", Value(error.description));
        return false;
    }
    return true;
}

void ZDMMeasurement::addBundleMetadataIntoBundle(ZDMPBMeasurementBundle& bundle, double start, double end) {
    const auto config = remoteConfigInstance();
    if (config) {
        const auto ids = config->experimentIDs();
        if (!ids.empty()) {
            Value::Array array;
            for (int64_t id : ids) array.push_back(Value(id));
            ZDMPBSetArray(&bundle, kBundleExperimentIDs, array);
        }
        const auto& persisted = persistedConfig();
        const auto sample = monitor()->monitoringDataForDispatchWithSamplePeriod(
            config->monitoringSamplePeriod(), persisted ? persisted->lastMonitorDataSampledTimestamp() : 0);
        if (sample && !sample->empty()) {
            ZDMPBSetString(&bundle, kBundleMonitoringData, *sample);
            if (persisted) persisted->setLastMonitorDataSampledTimestamp(Clock::current().now());
        }
        if (config->version() >= 0) ZDMPBSetInt64(&bundle, kBundleConfigVersion, config->version());
    }
    const auto appID = ZDMPBGetString(&bundle, kBundleAppID);
    if (!appID || appID->empty()) {
        const auto id = identity();
        std::string fallback = id ? id->appID() : std::string();
        if (!fallback.empty()) ZDMPBSetString(&bundle, kBundleAppID, fallback);
    }
    ZDMPBSetInt64(&bundle, kBundleStartMillis, millis(start));
    ZDMPBSetInt64(&bundle, kBundleEndMillis, millis(end));
}

bool ZDMMeasurement::bundleRawEvents() {
    const auto db = database();
    if (!db) return false;
    bool queued = false;
    db->performTransaction([&] {
        Error error;
        const auto next = db->nextMetadataFingerprintToProcess(&error);
        if (!next) {
            if (error.code != 0)
                log(1, 23095, "Unable to fetch next event metadata. Error", Value(error.description));
            return false;
        }
        const int64_t fingerprint = *next;
        const auto raw = rawEventsWithMetadataFingerprint(fingerprint);
        if (!raw || raw->empty()) return false;
        auto bundle = db->queryRawEventsMetadataWithFingerprint(fingerprint, &error);
        if (!bundle) {
            log(1, 23098, "Unable to fetch event metadata. Metadata fingerprint, error",
                Value(error.description));
            return false;
        }
        const auto processed = processRawEvents(*raw, fingerprint);
        if (!processed) return false;
        // Every event was rejected: the deletion of their rows is kept, no bundle is made.
        if (processed->empty()) return true;
        evaluationTimeFromRawEvents(*raw, *bundle);
        // One cache for the whole bundle: its events and then its user properties.
        const auto evaluator = audience();
        const auto cache = evaluator ? evaluator->makeTimestampsCache() : nullptr;
        const auto events = eventsAfterUpdatingEventAggregates(*processed, cache.get());
        if (!events) return false;

        WireEvents wire;
        bool realtime = false;
        for (const auto& event : *events) {
            wire.push_back(event->protoEvent());
            realtime = realtime || event->isRealtime();
        }
        const auto config = remoteConfigInstance();
        if (config && config->isEventSamplingEnabled() && !monitor()->isDebugModeEnabled()) {
            auto sampled = sampleEvents(wire, &error);
            if (!sampled) return false;
            if (sampled->empty()) {
                log(5, 23159, "No events left after sampling. Dropping bundle");
                if (!ZDMDeleteProcessedRawEvents(*db, raw->back()->rowID(), fingerprint)) return false;
                queued = true;
                return true;
            }
            wire = std::move(*sampled);
        }
        Value::Array wireArray;
        for (const auto& event : wire)
            wireArray.push_back(Value(std::static_pointer_cast<const Object>(event)));
        ZDMPBSetArray(bundle.get(), kBundleEvents, wireArray);

        double start = std::numeric_limits<double>::max();
        double end = std::numeric_limits<double>::min();
        for (const auto& record : *raw) {
            start = std::min(start, record->rawEvent()->timestamp());
            end = std::max(end, record->rawEvent()->timestamp());
        }
        if (!updateAppMetadataForBundle(*bundle, start, end)) return false;
        if (evaluator) {
            const auto attributes =
                ZDMPBGetArray(bundle.get(), kBundleUserAttributes, &ZDMPBUserAttribute::messageClass())
                    .value_or(Value::Array{});
            for (const auto& element : attributes) {
                const auto attribute = element.objectAs<ZDMPBUserAttribute>();
                if (attribute &&
                    !evaluator->evaluateFiltersForNanoUserProperty(*attribute, cache.get(), start))
                    return false;
            }
            std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>> results;
            if (!evaluator->resultsForBundling(&results)) {
                log(1, 23113, "Unable to read audience evaluation results");
                return false;
            }
            if (!results.empty()) {
                Value::Array array;
                for (const auto& result : results)
                    array.push_back(Value(std::static_pointer_cast<const Object>(result)));
                ZDMPBSetArray(bundle.get(), kBundleAudienceResults, array);
            }
        }
        addBundleMetadataIntoBundle(*bundle, start, end);
        if (!(config && config->sessionStitchingTokenFeatureEnabled() &&
              !ZDMConsentSettingsUtil::isAnalyticsStorageDenied()) &&
            ZDMPBHasField(bundle.get(), kBundleSessionStitchingToken))
            ZDMPBClearField(bundle.get(), kBundleSessionStitchingToken);
        if (!db->insertBundle(bundle.get(), realtime, &error)) {
            log(1, 23115, "Unable to insert bundle. Error", Value(error.description));
            return false;
        }
        log(8, 23221, ZDMConsentSettingsUtil::description());
        log(7, 23116, "Bundle added to the upload queue. BundleID, timestamp (ms)",
            Value(static_cast<int64_t>(ZDMPBGetInt32(bundle.get(), kBundleIndex))));
        if (!ZDMDeleteProcessedRawEvents(*db, raw->back()->rowID(), fingerprint)) return false;
        queued = true;
        return true;
    });
    if (queued) setSuspendedUploadTimestamp(0);
    return queued;
}
