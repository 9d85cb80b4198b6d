// The engine's caller-side operations and the worker-queue steps they hand over to. A caller's
// thread only checks what needs no state and schedules a block under the operation's block ID;
// answers go out on the background global queue, so no caller ever runs on the worker queue.
#include <utility>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMDebugDescription.h"
#include "measurement/foundation/ZDMErrorEventParameters.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMSanitizer.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/DispatchQueue.h"

using zdm_engine::engineMonitor;

namespace {
// Error events of a refused default-parameter update.
constexpr int64_t kErrorTooManyDefaultParameters = 26;
constexpr int64_t kErrorArrayDefaultParameter = 27;

bool failed(const Error& error) {
    return !error.domain.empty() || !error.description.empty();
}

// Answers never reach the caller's thread or the worker queue.
template <class Callback, class Answer>
void answerInBackground(Callback callback, Answer answer) {
    DispatchQueue::global(DispatchQueue::Priority::Background)
        ->async([callback = std::move(callback), answer = std::move(answer)] { callback(answer); });
}

// Events of the mobile-ads library and the ad-exposure events are the library's own bookkeeping,
// not something the app's listeners or interceptor were registered for.
bool isListenerExempt(const ZDMEvent& event) {
    return event.origin() == "am" || event.name() == "_xa" || event.name() == "_xu";
}

// Only texts, doubles and 64-bit integers are what the app can have set as a property.
std::optional<Value> propertyValueForCaller(const ZDMValue& value) {
    if (value.isString()) return Value(value.stringValue().value_or(std::string()));
    if (value.isDouble()) return Value(value.doubleValue());
    if (value.isInt64()) return Value(value.int64Value());
    return std::nullopt;
}
}  // namespace

void ZDMMeasurement::logEventWithOrigin(const std::string& origin, bool isPublicEvent,
                                        const std::string& name, const std::optional<Dictionary>& parameters,
                                        double timestamp, bool enabled, bool ignoreEnabled,
                                        bool ignoreInterceptor, EventInterceptor interceptor,
                                        const Dictionary& addedScreenParameters) {
    // The only block that keeps the engine alive: an event handed over is never lost to a teardown.
    auto self = shared_from_this();
    scheduler_->scheduleOnWorkerQueueBlockID(
        "ZDMMeasurement:2270",
        [self, origin, isPublicEvent, name, parameters, timestamp, enabled, ignoreEnabled, ignoreInterceptor,
         interceptor = std::move(interceptor), addedScreenParameters] {
            self->logEventOnWorkerQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, enabled,
                                                  ignoreEnabled, ignoreInterceptor, interceptor,
                                                  addedScreenParameters);
        });
}

void ZDMMeasurement::logEventOnWorkerQueueWithOrigin(
    const std::string& origin, bool isPublicEvent, const std::string& name,
    const std::optional<Dictionary>& parameters, double timestamp, bool enabled, bool ignoreEnabled,
    bool ignoreInterceptor, const EventInterceptor& interceptor, const Dictionary& addedScreenParameters) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName(
        "logEventOnWorkerQueueWithOrigin:isPublicEvent:name:parameters:timestamp:enabled:ignoreEnabled:"
        "ignoreInterceptor:interceptor:addedScreenParameters:");
    Dictionary eventParameters = parameters.value_or(Dictionary{});
    // An error event describes the library, and an event that bypasses the interceptor is the
    // library's own: the app's defaults belong on neither.
    if (!ignoreInterceptor && name != "_err")
        eventParameters = parametersWithAddedDefaultEventParameters(eventParameters);

    auto event = ZDMEvent::initWithOrigin(origin, isPublicEvent, name, timestamp, 0, eventParameters);
    if (!event) {
        engineMonitor().logWithLevel(1, 23219, "Attempted to log nil event. Origin, name, parameters",
                                     Value(origin), Value(ZDMEventNameForLog(Value(name))),
                                     Value(eventParameters));
        return;
    }
    if (!addedScreenParameters.empty()) event->addScreenParameters(addedScreenParameters);

    if (!enabled && !ignoreEnabled) return logEventOnWorkerQueue(event, false);
    if (isListenerExempt(*event)) return logEventOnWorkerQueue(event, false);
    if (event->isPublic() && !ignoreInterceptor && interceptor) {
        // The interceptor takes the event over whole: the engine neither stores nor announces it.
        for (const auto& [key, value] : addedScreenParameters) eventParameters.set(key, value);
        interceptor(origin, name, eventParameters, timestamp);
        return;
    }
    logEventOnWorkerQueue(event, true);
}

void ZDMMeasurement::logEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event,
                                           bool notifyEventListeners) {
    if (!event) return;
    if (!notifyEventListeners) return handleEventOnWorkerQueue(event);
    // Handling may mark the event (realtime, debug, allow-list); listeners hear it as it was logged.
    const auto announced = event->copy();
    handleEventOnWorkerQueue(event);
    if (announced) ZDMAnalytics::notifyEventListeners(announced);
}

void ZDMMeasurement::logEvent(const std::shared_ptr<ZDMEvent>& event) {
    if (!event) return engineMonitor().logWithLevel(4, 23048, "Attempted to log nil event");
    scheduleOnWorkerQueue("ZDMMeasurement:2376",
                          [event](ZDMMeasurement& self) { self.handleEventOnWorkerQueue(event); });
}

void ZDMMeasurement::setDefaultEventParameters(const std::optional<Dictionary>& parameters) {
    scheduleOnWorkerQueue("ZDMMeasurement:2385", [parameters](ZDMMeasurement& self) {
        self.handleSetDefaultEventParametersOnWorkerQueue(parameters);
    });
}

void ZDMMeasurement::handleSetDefaultEventParametersOnWorkerQueue(
    const std::optional<Dictionary>& parameters) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("handleSetDefaultEventParametersOnWorkerQueue:");
    if (!isEnabled()) {
        engineMonitor().logWithLevel(7, 23211, "Analytics is disabled. Default event parameters not updated");
        return;
    }
    // No dictionary at all clears every default; a dictionary edits the stored ones.
    Dictionary defaults =
        parameters ? persistedConfig_->defaultEventParameters().value_or(Dictionary{}) : Dictionary{};
    for (const auto& [key, value] : parameters.value_or(Dictionary{})) {
        // Null deletes; only scalars can be defaults.
        if (!value.isNull() && !value.isNumber() && !value.isString()) {
            if (value.isArray()) ZDMLogErrorEvent(kErrorArrayDefaultParameter);
            engineMonitor().logWithLevel(4, 23213,
                                         "Invalid key in default event parameters. Parameter ignored.");
            continue;
        }
        if (!ZDMDataTypeValidator::isValidPublicEventParameterName(Value(key))) {
            engineMonitor().logWithLevel(4, 23214, "Invalid default event parameter name. Name", Value(key));
            continue;
        }
        if (value.isNull()) {
            defaults.erase(key);
            continue;
        }
        const auto wrapped = ZDMValue::valueFromObject(value);
        if (wrapped && ZDMDataTypeValidator::isValidPublicEventParameterValue(Value(wrapped)))
            defaults.set(key, value);
    }
    const int64_t limit = remoteConfigInstance()->maxPublicEventParams();
    if (static_cast<int64_t>(defaults.size()) > limit) {
        ZDMTrimPublicParametersToCount(defaults, limit);
        ZDMLogErrorEvent(kErrorTooManyDefaultParameters);
        engineMonitor().logWithLevel(
            4, 23215,
            "Too many default event parameters set. Discarding beyond event parameter "
            "limit");
    }
    engineMonitor().logWithLevel(7, 23216, "Updating default event parameters. Parameters", Value(defaults));
    persistedConfig_->setDefaultEventParameters(defaults);
}

Dictionary ZDMMeasurement::parametersWithAddedDefaultEventParameters(const Dictionary& parameters) {
    auto merged = persistedConfig_->defaultEventParameters();
    if (!merged) return parameters;
    for (const auto& [key, value] : parameters) merged->set(key, value);
    return std::move(*merged);
}

void ZDMMeasurement::setUserAttribute(const std::shared_ptr<ZDMUserAttribute>& attribute) {
    if (!attribute) return engineMonitor().logWithLevel(3, 23079, "Attempted to set nil user property");
    scheduleOnWorkerQueue("ZDMMeasurement:2612", [attribute](ZDMMeasurement& self) {
        self.setUserAttributeOnWorkerQueue(attribute);
    });
}

void ZDMMeasurement::removeUserAttribute(const std::shared_ptr<ZDMUserAttribute>& attribute) {
    if (!attribute) return engineMonitor().logWithLevel(3, 23074, "Attempted to remove nil user property");
    scheduleOnWorkerQueue("ZDMMeasurement:2567", [attribute](ZDMMeasurement& self) {
        self.removeUserAttributeOnWorkerQueue(attribute);
    });
}

void ZDMMeasurement::userAttributeWithName(const std::string& name,
                                           std::function<void(std::shared_ptr<ZDMUserAttribute>)> callback) {
    if (!callback) return engineMonitor().logWithLevel(0, 23088, "userAttributeWithName callback is nil");
    scheduleOnWorkerQueue(
        "ZDMMeasurement:2749", [name, callback = std::move(callback)](ZDMMeasurement& self) {
            std::shared_ptr<ZDMUserAttribute> attribute;
            Error error;
            if (const auto db = self.database()) attribute = db->userAttributeWithName(name, &error);
            if (!attribute && failed(error))
                engineMonitor().logWithLevel(1, 23089, "Unable to get user attribute by name. Name",
                                             Value(ZDMUserPropertyNameForLog(Value(name))));
            answerInBackground(callback, std::move(attribute));
        });
}

void ZDMMeasurement::userPropertiesIncludingInternal(bool includeInternal,
                                                     std::function<void(const Dictionary&)> callback) {
    if (!callback)
        return engineMonitor().logWithLevel(0, 23090, "Unable to retrieve user properties. Callback is nil");
    scheduleOnWorkerQueue("ZDMMeasurement:2804", [includeInternal,
                                                  callback = std::move(callback)](ZDMMeasurement& self) {
        std::optional<std::vector<std::shared_ptr<ZDMUserAttribute>>> attributes;
        Error error;
        if (const auto db = self.database())
            attributes = db->userAttributesIncludingInternal(includeInternal, &error);
        if (!attributes && failed(error))
            engineMonitor().logWithLevel(1, 23091, "Unable to retrieve user properties. Error",
                                         Value(error.description));
        Dictionary properties;
        for (const auto& attribute : attributes.value_or(std::vector<std::shared_ptr<ZDMUserAttribute>>{})) {
            if (!attribute || attribute->name().empty() || !attribute->value()) {
                engineMonitor().logWithLevel(3, 23092,
                                             "Cannot add invalid public user property name or value.");
                continue;
            }
            if (auto value = propertyValueForCaller(*attribute->value()))
                properties.set(attribute->name(), std::move(*value));
        }
        answerInBackground(callback, std::move(properties));
    });
}

void ZDMMeasurement::maxUserPropertiesForOrigin(const std::string& origin,
                                                std::function<void(int64_t)> callback) {
    if (origin.empty())
        return engineMonitor().logWithLevel(0, 23093, "Origin for querying MaxUserProperties cannot be nil");
    if (!callback)
        return engineMonitor().logWithLevel(0, 23094, "MaxUserProperties callback cannot be nil. Origin",
                                            Value(origin));
    // Every origin gets the same budget; the answer still goes out like any other query's.
    answerInBackground(std::move(callback), kMaxUserPropertiesPerOrigin);
}
