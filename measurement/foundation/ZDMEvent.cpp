#include "measurement/foundation/ZDMEvent.h"

#include <cfloat>
#include <cmath>

#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMDebugDescription.h"
#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMNumericUtil.h"
#include "measurement/foundation/ZDMSanitizer.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"

namespace {

// Event fields by index.
constexpr int32_t kEventParams = 0;
constexpr int32_t kEventName = 1;
constexpr int32_t kEventTimestamp = 2;
constexpr int32_t kEventPreviousTimestamp = 3;
// EventParam fields by index.
constexpr int32_t kParamName = 0;
constexpr int32_t kParamString = 1;
constexpr int32_t kParamInt64 = 2;
constexpr int32_t kParamDouble = 4;
constexpr int32_t kParamChildren = 5;

constexpr int64_t kConversionEventLimitReached = 10;

ZDMMonitor& monitor() {
    return *ZDMMonitor::sharedMonitor();
}

Value int64Value(int64_t v) {
    return Value(ZDMValue::initWithInt64(v));
}

std::optional<std::string> screenText(const Value& value) {
    if (const std::string* text = value.asString()) return *text;
    if (auto z = value.objectAs<ZDMValue>(); z && z->isString()) return z->stringValue();
    return std::nullopt;
}

bool validScreenText(const Value& given, int64_t code, const char* message,
                     std::optional<std::string>& text) {
    text = screenText(given);
    if (!text) return false;
    if (!ZDMDataTypeValidator::isValidScreenParameterValue(Value(*text))) {
        monitor().logWithLevel(3, code, message, given);
        return false;
    }
    return true;
}

}  // namespace

std::shared_ptr<ZDMEvent> ZDMEvent::initWithOrigin(const std::string& origin, bool isPublic,
                                                   const std::string& name, double timestamp,
                                                   double previousTimestamp, const Dictionary& parameters) {
    std::shared_ptr<ZDMEvent> event(new ZDMEvent);
    return event->initialize(origin, isPublic, name, timestamp, previousTimestamp, parameters) ? event
                                                                                               : nullptr;
}

std::shared_ptr<ZADERodez> ZADERodez::initWithOrigin(const std::string& origin, bool isPublic,
                                                     const std::string& name, double timestamp,
                                                     double previousTimestamp, const Dictionary& parameters) {
    std::shared_ptr<ZADERodez> event(new ZADERodez);
    return event->initialize(origin, isPublic, name, timestamp, previousTimestamp, parameters) ? event
                                                                                               : nullptr;
}

bool ZDMEvent::initialize(const std::string& origin, bool isPublic, const std::string& name, double timestamp,
                          double previousTimestamp, const Dictionary& parameters) {
    uint64_t failureCode = 0;
    // A forwarded origin ends in "+ztm"; any other must be a valid internal origin.
    if (!ZDMDataTypeValidator::isValidForwardedEventOrigin(Value(origin), &failureCode) &&
        (failureCode != 6 || !ZDMDataTypeValidator::isValidInternalEventOrigin(Value(origin))))
        return false;
    if (isPublic && !ZDMDataTypeValidator::isValidPublicEventName(Value(name))) return false;
    if (!ZDMDataTypeValidator::isValidInternalEventName(Value(name))) return false;
    if (previousTimestamp > timestamp)
        monitor().logWithLevel(5, 16002, "Event created with previous timestamp after current timestamp");
    origin_ = origin;
    name_ = name;
    timestamp_ = timestamp;
    previousTimestamp_ = previousTimestamp;
    isPublic_ = isPublic;
    parameters_ = ZDMSanitizeEventParameters(parameters, name, isPublic, false).value_or(Dictionary());
    parameters_.set("_o", Value(ZDMValue::initWithString(Value(origin))));
    if (shouldValidateParams() && !ZDMValidateValueAndCurrency(parameters_)) parameters_.erase("_c");
    return true;
}

std::shared_ptr<ZDMEvent> ZDMEvent::copy() const {
    return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp_, parameters_);
}

std::shared_ptr<ZDMEvent> ZDMEvent::copyWithPreviousTimestamp(double previousTimestamp) const {
    return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp, parameters_);
}

std::shared_ptr<ZDMEvent> ZDMEvent::copyWithParameters(const Dictionary& parameters) const {
    return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp_, parameters);
}

bool ZDMEvent::hasInt64One(std::string_view key) const {
    auto value = parameters_[key].objectAs<ZDMValue>();
    return value && value->isInt64() && value->int64Value() == 1;
}

void ZDMEvent::setFlag(const char* key, bool on) {
    if (on)
        parameters_.set(key, int64Value(1));
    else
        parameters_.erase(key);
}

bool ZDMEvent::isConversion() const {
    return hasInt64One("_c");
}

void ZDMEvent::setConversion(bool conversion) {
    if (conversion) {
        if (!ZDMValidateValueAndCurrency(parameters_)) return;
        parameters_.set("_c", int64Value(1));
        auto error = parameters_["_err"].objectAs<ZDMValue>();
        if (error && error->isInt64() && error->int64Value() == kConversionEventLimitReached)
            parameters_.erase("_err");
        return;
    }
    if (!parameters_.contains("_c")) return;
    parameters_.erase("_c");
    if (!parameters_.contains("_err")) parameters_.set("_err", int64Value(kConversionEventLimitReached));
}

bool ZDMEvent::isRealtime() const {
    const Value& flag = parameters_["_r"];
    if (flag.isNull()) return false;
    auto value = flag.objectAs<ZDMValue>();
    if (!value || !value->isInt64()) {
        monitor().logWithLevel(2, 16006, "Realtime parameter must be an int64. Event name", Value(name_));
        return false;
    }
    return value->int64Value() == 1;
}

void ZDMEvent::setRealtime(bool realtime) {
    setFlag("_r", realtime);
}

bool ZDMEvent::isDebug() const {
    return hasInt64One("_dbg");
}

void ZDMEvent::setDebug(bool debug) {
    setFlag("_dbg", debug);
}

bool ZDMEvent::shouldValidateParams() const {
    return isConversion() || name_ == "ad_impression" || name_ == "_ai";
}

void ZDMEvent::applyParameters(const Dictionary& defaults) {
    if (defaults.empty()) return;
    auto merged = ZDMSanitizeEventParameters(defaults, "", true, false);
    if (!merged || merged->empty()) return;
    for (const auto& [key, value] : parameters_) merged->set(key, value);
    parameters_ = std::move(*merged);
}

bool ZDMEvent::addScreenParameters(const Dictionary& screenParameters) {
    if (screenParameters.empty() || ZDMParametersContainScreenParameters(parameters_) ||
        !screenParameters.contains("_si"))
        return false;
    std::optional<std::string> screenClass, screenName;
    if (screenParameters.contains("_sc") &&
        !validScreenText(screenParameters["_sc"], 16003, "Received invalid screen class", screenClass))
        return false;
    const Value& screenID = screenParameters["_si"];
    auto idValue = screenID.objectAs<ZDMValue>();
    if (!(idValue ? idValue->isInt64() : screenID.isNumber())) return false;
    if (screenParameters.contains("_sn") &&
        !validScreenText(screenParameters["_sn"], 16004, "Received invalid screen name", screenName))
        return false;
    auto id = ZDMValue::valueFromObject(screenID);
    if (!id) return false;
    parameters_.set("_si", Value(id));
    if (screenClass) parameters_.set("_sc", Value(ZDMValue::initWithString(Value(*screenClass))));
    if (screenName) parameters_.set("_sn", Value(ZDMValue::initWithString(Value(*screenName))));
    return true;
}

std::shared_ptr<ZDMPBEventParam> ZDMEvent::eventParam(const std::string& name, const Value& value,
                                                      bool nested) const {
    auto z = value.objectAs<ZDMValue>();
    if (!z) {
        monitor().logWithLevel(2, 16005, "Invalid event param value. Event name, param name",
                               Value(ZDMEventNameForLog(Value(name_))),
                               Value(ZDMParameterNameForLog(Value(name))));
        return nullptr;
    }
    if (z->isArray() && nested) {
        monitor().logWithLevel(
            2, 16007, "Nested params cannot have more than 1 level. Event name, param name",
            Value(ZDMEventNameForLog(Value(name_))), Value(ZDMParameterNameForLog(Value(name))));
        return nullptr;
    }
    auto param = ZDMPBEventParam::initWithMessageInfo(nullptr);
    ZDMPBSetString(param.get(), kParamName, name);
    if (z->isDouble()) {
        ZDMPBSetDouble(param.get(), kParamDouble, z->doubleValue());
    } else if (z->isInt64()) {
        ZDMPBSetInt64(param.get(), kParamInt64, z->int64Value());
    } else if (z->isString()) {
        ZDMPBSetString(param.get(), kParamString, z->stringValue());
    } else if (const Value::Array* items = z->arrayValue()) {
        // One nameless parameter per item, holding the item's own entries.
        Value::Array elements;
        for (const Value& item : *items) {
            const Dictionary* entries = item.asDictionary();
            if (!entries) continue;
            Value::Array children;
            for (const auto& [key, entry] : *entries)
                if (auto child = eventParam(key, entry, true))
                    children.push_back(Value(std::shared_ptr<const Object>(child)));
            auto element = ZDMPBEventParam::initWithMessageInfo(nullptr);
            ZDMPBSetArray(element.get(), kParamChildren, children);
            elements.push_back(Value(std::shared_ptr<const Object>(element)));
        }
        ZDMPBSetArray(param.get(), kParamChildren, elements);
    }
    return param;
}

std::shared_ptr<ZDMPBEvent> ZDMEvent::protoEvent() const {
    auto event = ZDMPBEvent::initWithMessageInfo(nullptr);
    ZDMPBSetString(event.get(), kEventName, name_);
    if (previousTimestamp_ > DBL_EPSILON)
        ZDMPBSetInt64(event.get(), kEventPreviousTimestamp, ZDMMillisecondsFromSeconds(previousTimestamp_));
    ZDMPBSetInt64(event.get(), kEventTimestamp, ZDMMillisecondsFromSeconds(timestamp_));
    Value::Array params;
    for (const auto& [key, value] : parameters_)
        if (auto param = eventParam(key, value, false))
            params.push_back(Value(std::shared_ptr<const Object>(param)));
    ZDMPBSetArray(event.get(), kEventParams, params);
    return event;
}

std::shared_ptr<ZDMEvent> ZDMEvent::initWithEventProto(const ZDMPBEvent* proto) {
    if (!proto) return nullptr;
    const std::string name = ZDMPBGetString(proto, kEventName).value_or("");
    const double timestamp = static_cast<double>(ZDMPBGetInt64(proto, kEventTimestamp)) / 1000.0;
    const double previous = static_cast<double>(ZDMPBGetInt64(proto, kEventPreviousTimestamp)) / 1000.0;
    std::string origin;
    Dictionary parameters;
    const auto params =
        ZDMPBGetArray(proto, kEventParams, &ZDMPBEventParam::messageClass()).value_or(Value::Array());
    for (const Value& element : params) {
        auto param = element.objectAs<ZDMPBEventParam>();
        if (!param) continue;
        const auto paramName = ZDMPBGetString(param.get(), kParamName);
        if (!paramName) {
            monitor().logWithLevel(2, 15000, "Ignoring parameter. Parameter name is nil. Event name",
                                   Value(name));
            continue;
        }
        if (*paramName == "_o") {
            const auto text = ZDMPBGetString(param.get(), kParamString);
            if (!text) {
                monitor().logWithLevel(
                    2, 15001,
                    "Cannot create an event from event proto. Origin parameter is not a string. Event name",
                    Value(name));
                return nullptr;
            }
            origin = *text;
            continue;
        }
        std::shared_ptr<const ZDMValue> value;
        if (auto text = ZDMPBGetString(param.get(), kParamString))
            value = ZDMValue::initWithString(Value(*text));
        else if (ZDMPBHasField(param.get(), kParamInt64))
            value = ZDMValue::initWithInt64(ZDMPBGetInt64(param.get(), kParamInt64));
        else if (ZDMPBHasField(param.get(), kParamDouble))
            value = ZDMValue::initWithDouble(ZDMPBGetDouble(param.get(), kParamDouble));
        if (!value) {
            monitor().logWithLevel(5, 15002,
                                   "Unknown event parameter type from converting an event proto into "
                                   "ZDMEvent instance. Event param name",
                                   Value(ZDMParameterNameForLog(Value(*paramName))));
            continue;
        }
        parameters.set(*paramName, Value(value));
    }
    return initWithOrigin(origin, false, name, timestamp, previous, parameters);
}

bool ZDMIsErrorEvent(const ZDMEvent* event) {
    if (!event) return false;
    if (event->name().empty()) {
        ZDMMonitor::sharedMonitor()->logWithLevel(2, 18004, "Cannot check the event name. Name is empty");
        return false;
    }
    return event->name() == "_err";
}

bool ZDMIsSubscriptionPurchaseEvent(const ZDMEvent* event) {
    if (!event) return false;
    const std::string& name = event->name();
    if (name == "_assc" || name == "_assr") return true;
    if (name != "_iap") return false;
    auto subscription = event->parameters()["subscription"].objectAs<ZDMValue>();
    return subscription && subscription->isInt64() && subscription->int64Value() == 1;
}

int64_t ZDMEventArrayParameterItemCount(const ZDMEvent* event) {
    if (!event) return 0;
    int64_t count = 0;
    for (const auto& [key, value] : event->parameters())
        if (auto z = value.objectAs<ZDMValue>(); z && z->isArray())
            count += static_cast<int64_t>(z->arrayValue()->size());
    return count;
}
