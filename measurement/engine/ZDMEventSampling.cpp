// Thinning of sampled events while a bundle is made. The first instance of a sampled name on each
// day of the analytics account is always kept and marked exempt, so the server sees every name
// daily; kept instances carry the rate so that the server can scale counts back up.
#include <cmath>
#include <map>

#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEventAggregates.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/security/SecRandom.h"

using zdm_engine::log;

namespace {
// Event and EventParam fields by index.
constexpr int32_t kEventParams = 0, kEventName = 1, kEventMillis = 2, kEventPreviousMillis = 3;
constexpr int32_t kParamName = 0, kParamInt = 2;

// The sampler's lines that have nothing to add still carry one context, a null one.
void logWithNullContext(int64_t level, int64_t code, const std::string& message) {
    log(level, code, message, Value());
}

// A uniform draw below `bound` from the system's cryptographic random bytes. Draws below
// 2^32 mod bound are thrown away so that every result is equally likely; a bound below 2 gives 0.
uint32_t uniformRandomBelow(uint32_t bound) {
    if (bound < 2) return 0;
    const uint32_t least = static_cast<uint32_t>(-bound) % bound;
    for (;;) {
        uint32_t draw = 0;
        if (SecRandomCopyBytes(kSecRandomDefault, sizeof draw, &draw) != 0) return 0;
        if (draw >= least) return draw % bound;
    }
}

int32_t accountDay(double seconds, int32_t offsetMinutes) {
    return static_cast<int32_t>(std::floor((seconds + offsetMinutes * 60.0) / 86400.0));
}

std::optional<int64_t> integerParameter(const ZDMPBEvent& event, const std::string& name) {
    const auto params =
        ZDMPBGetArray(&event, kEventParams, &ZDMPBEventParam::messageClass()).value_or(Value::Array{});
    for (const auto& element : params) {
        const auto param = element.objectAs<NANOMessageBase>();
        if (param && ZDMPBGetString(param.get(), kParamName) == name && ZDMPBHasField(param.get(), kParamInt))
            return ZDMPBGetInt64(param.get(), kParamInt);
    }
    return std::nullopt;
}

// Appends name = value unless a parameter of that name is there already.
void addParameter(ZDMPBEvent& event, const std::string& name, int64_t value, int64_t failureCode,
                  const std::string& failureText) {
    auto params =
        ZDMPBGetArray(&event, kEventParams, &ZDMPBEventParam::messageClass()).value_or(Value::Array{});
    for (const auto& element : params) {
        const auto param = element.objectAs<NANOMessageBase>();
        if (param && ZDMPBGetString(param.get(), kParamName) == name) {
            log(4, 23156, "Event parameter already exists. Parameter name", Value(name));
            return;
        }
    }
    const auto param = ZDMPBEventParam::initWithMessageInfo(nullptr);
    if (!param) {
        logWithNullContext(2, failureCode, failureText);
        return;
    }
    ZDMPBSetString(param.get(), kParamName, name);
    ZDMPBSetInt64(param.get(), kParamInt, value);
    params.push_back(Value(std::static_pointer_cast<const Object>(param)));
    ZDMPBSetArray(&event, kEventParams, params);
}
}  // namespace

bool ZDMMeasurement::canEventBeSampled(const ZDMPBEvent& event) {
    const auto config = remoteConfigInstance();
    const auto name = ZDMPBGetString(&event, kEventName).value_or("");
    if (!config || !config->isEventSamplingEnabled() || !config->eventHasSamplingRate(name)) return false;
    if (config->samplingRateForEvent(name) <= 1) {
        logWithNullContext(5, 23154, "Invalid sampling rate provided");
        return false;
    }
    return true;
}

bool ZDMMeasurement::isEventBundledAfterRoll(int32_t rate) {
    const uint32_t bound = rate > 0 ? static_cast<uint32_t>(rate) : 0;
    return (samplingRandom_ ? samplingRandom_(bound) : uniformRandomBelow(bound)) == 0;
}

std::optional<ZDMMeasurement::WireEvents> ZDMMeasurement::sampleEvents(const WireEvents& events,
                                                                       Error* error) {
    const auto db = database();
    const auto config = remoteConfigInstance();
    Error failure;
    const auto all = db->allEventAggregates(&failure);
    if (!all) {
        log(1, 23157, "Unable to query all event aggregates for cache. error", Value(failure.description));
        if (error) *error = failure;
        return std::nullopt;
    }
    std::map<std::string, std::shared_ptr<ZDMEventAggregates>> cache;
    for (const auto& aggregates : *all) cache[aggregates->name()] = aggregates;
    const int32_t offset = config->analyticsAccountTimeZoneOffsetMinutes();

    WireEvents kept;
    for (const auto& event : events) {
        const auto name = ZDMPBGetString(event.get(), kEventName).value_or("");
        if (name.empty()) {
            logWithNullContext(2, 23155, "Dropping event at sampling. Event has no name");
            continue;
        }
        const double t = static_cast<double>(ZDMPBGetInt64(event.get(), kEventMillis)) / 1000.0;
        const int32_t day = accountDay(t, offset);
        const auto found = cache.find(name);
        ZDMEventAggregates* c = found == cache.end() ? nullptr : found->second.get();
        const auto markBundled = [&] {
            if (!c) return;
            c->setLastBundledTimestamp(t);
            c->setLastBundledDay(day);
        };
        if (!canEventBeSampled(*event)) {
            markBundled();
            kept.push_back(event);
            continue;
        }
        const int32_t rate = config->samplingRateForEvent(name);
        if (isEventBundledAfterRoll(rate)) {
            if (c) {
                c->setLastSamplingRate(rate);
                c->setLastSampledComplexEventID(Value());
            }
            markBundled();
            addParameter(*event, "_sr", rate, 23153, "Failed to create sampling rate parameter");
            kept.push_back(event);
            continue;
        }
        int32_t bundledDay = c ? c->lastBundledDay() : 0;
        if (bundledDay == 0)
            bundledDay = accountDay(
                static_cast<double>(ZDMPBGetInt64(event.get(), kEventPreviousMillis)) / 1000.0, offset);
        if (bundledDay == day) {
            if (const auto complexID = integerParameter(*event, "_eid"); complexID && c)
                c->setLastSampledComplexEventID(Value(*complexID));
        } else {
            markBundled();
            addParameter(*event, "_sr", rate, 23153, "Failed to create sampling rate parameter");
            addParameter(*event, "_efs", 1, 23158, "Failed to create exempt from sampling parameter");
            if (c) c->setLastExemptFromSampling(true);
            kept.push_back(event);
        }
        if (c) c->setLastSamplingRate(rate);
    }

    for (const auto& [name, c] : cache) {
        auto stored = db->eventAggregatesWithName(name, &failure);
        if (!stored) {
            log(1, 23151, "Unable to query event aggregates to update database. Name, error", Value(name));
            if (error) *error = failure;
            return std::nullopt;
        }
        if (c->lastBundledTimestamp() != 0) stored->setLastBundledTimestamp(c->lastBundledTimestamp());
        stored->setLastSamplingRate(c->lastSamplingRate());
        stored->setLastSampledComplexEventID(c->lastSampledComplexEventID());
        stored->setLastExemptFromSampling(c->lastExemptFromSampling());
        stored->setLastBundledDay(c->lastBundledDay());
        if (!db->updateEventAggregates(stored.get(), &failure)) {
            log(1, 23152,
                "Failed to update event aggregates after removing removing events due to sampling. Error",
                Value(failure.description));
            if (error) *error = failure;
            return std::nullopt;
        }
    }
    return kept;
}
