#include "measurement/audiences/filters/ZDMAudienceFilterMatching.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMDebugDescription.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMNumericUtil.h"
#include "measurement/wire/ZDMPBAccessors.h"

namespace {

// Field indexes of the filter messages.
constexpr int32_t kEventFilterNameIndex = 1;
constexpr int32_t kEventFilterFiltersIndex = 2;
constexpr int32_t kEventFilterCountFilterIndex = 4;
constexpr int32_t kEventFilterSessionScopedIndex = 7;
constexpr int32_t kPropertyFilterNameIndex = 1;
constexpr int32_t kPropertyFilterFilterIndex = 2;
constexpr int32_t kFilterStringFilterIndex = 0;
constexpr int32_t kFilterNumberFilterIndex = 1;
constexpr int32_t kFilterComplementIndex = 2;
constexpr int32_t kFilterParameterNameIndex = 3;
constexpr int32_t kNumberComparisonTypeIndex = 0;
constexpr int32_t kNumberValueIndex = 2;
constexpr int32_t kNumberMinIndex = 3;
constexpr int32_t kNumberMaxIndex = 4;

enum ComparisonType : int32_t { kLessThan = 1, kGreaterThan = 2, kEqual = 3, kBetween = 4 };

constexpr const char* kNotEvaluated = ". Audience filter will not be evaluated";

void log(int64_t level, int64_t code, const std::string& message, const Value::Array& contexts = {}) {
    ZDMMeasurement::monitor()->logWithContexts(level, code, message, contexts);
}

// Logging is rare, so a context is a copy rather than a reason to share every message.
template <class Message>
Value context(const Message* message) {
    return message ? Value(Value::ObjectPtr(Message::initWithMessageInfo(message->messageInfo()))) : Value();
}

Value context(const ZDMValue* value) {
    return value ? Value(Value::ObjectPtr(value->copy())) : Value();
}

template <class Message>
std::shared_ptr<Message> subMessage(const NANOMessageBase* message, int32_t index) {
    return ZDMPBHasField(message, index) ? ZDMPBGetMessage<Message>(message, index) : nullptr;
}

// The sign of a - b, exactly: both render in the decimal type's canonical plain form.
int compareDecimals(const DecimalNumber& a, const DecimalNumber& b) {
    if (a.isNegative() != b.isNegative()) return a.isNegative() ? -1 : 1;
    const auto split = [](const std::string& text) {
        const size_t point = text.find('.');
        return point == std::string::npos ? std::pair{text, std::string()}
                                          : std::pair{text.substr(0, point), text.substr(point + 1)};
    };
    auto [xi, xf] = split(a.absoluteValue().stringValue());
    auto [yi, yf] = split(b.absoluteValue().stringValue());
    int magnitude = 0;
    if (xi.size() != yi.size()) {
        magnitude = xi.size() < yi.size() ? -1 : 1;
    } else {
        xf.resize(std::max(xf.size(), yf.size()), '0');
        yf.resize(xf.size(), '0');
        const int order = (xi + xf).compare(yi + yf);
        magnitude = order < 0 ? -1 : order > 0 ? 1 : 0;
    }
    return a.isNegative() ? -magnitude : magnitude;
}

std::optional<std::string> numberText(const ZDMPBNumberFilter* filter, int32_t index) {
    return ZDMPBHasField(filter, index) ? ZDMPBGetString(filter, index) : std::nullopt;
}

bool isDecimalText(const ZDMPBNumberFilter* filter, int32_t index) {
    const auto text = numberText(filter, index);
    return text && ZDMIsDecimalNumberString(*text);
}

// Any text that passes the decimal check parses to its value whatever the process locale; the
// leading "+" the check allows is not something from_chars accepts, so it is dropped first.
std::optional<double> parseDouble(const std::optional<std::string>& text) {
    if (!text || !ZDMIsDecimalNumberString(*text)) return std::nullopt;
    std::string_view digits(*text);
    if (digits.starts_with('+')) digits.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<DecimalNumber> parseDecimal(const ZDMPBNumberFilter* filter, int32_t index) {
    const auto text = numberText(filter, index);
    return text ? ZDMDecimalNumberFromString(*text) : std::nullopt;
}

std::optional<bool> compareDouble(double x, const ZDMPBNumberFilter* filter, int32_t type) {
    if (type == kBetween) {
        const auto minimum = parseDouble(numberText(filter, kNumberMinIndex));
        const auto maximum = parseDouble(numberText(filter, kNumberMaxIndex));
        if (!minimum || !maximum) return std::nullopt;
        return *minimum <= x && x <= *maximum;
    }
    const auto value = parseDouble(numberText(filter, kNumberValueIndex));
    if (!value) return std::nullopt;
    if (type == kLessThan) return x < *value;
    if (type == kGreaterThan) return x > *value;
    const double infinity = std::numeric_limits<double>::infinity();
    const double lo = std::nextafter(std::nextafter(*value, -infinity), -infinity);
    const double hi = std::nextafter(std::nextafter(*value, infinity), infinity);
    return lo < x && x < hi;
}

std::optional<bool> evaluateNumberFilterForValue(const ZDMPBFilter* filter,
                                                 const ZDMPBNumberFilter* numberFilter,
                                                 const ZDMValue* value) {
    if (!value) return std::nullopt;
    if (value->isString()) {
        const std::string text = value->stringValue().value_or("");
        if (!ZDMIsDecimalNumberString(text)) {
            log(3, 7001,
                "String value is not a numeric value" + std::string(kNotEvaluated) + ". Value, filter",
                {context(value), context(filter)});
            return std::nullopt;
        }
        const auto decimal = ZDMDecimalNumberFromString(text);
        if (!decimal) return std::nullopt;
        return ZDMEvaluateNumberFilterWithDecimal(numberFilter, *decimal);
    }
    if (value->isDouble()) {
        if (!std::isfinite(value->doubleValue())) {
            log(3, 7002, "Value is not within double range" + std::string(kNotEvaluated),
                {context(value), context(filter)});
            return std::nullopt;
        }
        return ZDMEvaluateNumberFilterWithDouble(numberFilter, value->doubleValue());
    }
    if (value->isInt64()) return ZDMEvaluateNumberFilterWithInt64(numberFilter, value->int64Value());
    return std::nullopt;
}

const ZDMValue* parameterValue(const Dictionary& parameters, const std::string& name) {
    const Value* entry = parameters.find(name);
    return entry ? dynamic_cast<const ZDMValue*>(entry->asObject().get()) : nullptr;
}

}  // namespace

std::optional<bool> ZDMEvaluateEventFilter(const ZDMPBEventFilter* filter, const std::string& eventName,
                                           const Dictionary& parameters,
                                           const std::optional<ZDMEventFilterCounts>& aggregates) {
    const Value nameForLog(ZDMEventNameForLog(Value(eventName)));
    if (!filter) {
        log(1, 7004, "Event filter is nil" + std::string(kNotEvaluated), {nameForLog});
        return std::nullopt;
    }
    if (eventName.empty()) {
        log(1, 7005, "Event name is nil" + std::string(kNotEvaluated), {context(filter)});
        return std::nullopt;
    }
    if (ZDMPBGetString(filter, kEventFilterNameIndex) != eventName) {
        log(1, 7006, "Event filter name does not match event name" + std::string(kNotEvaluated),
            {nameForLog});
        return std::nullopt;
    }
    const auto countFilter = subMessage<ZDMPBNumberFilter>(filter, kEventFilterCountFilterIndex);
    const auto parameterFilters =
        ZDMPBGetArray(filter, kEventFilterFiltersIndex, &ZDMPBFilter::messageClass())
            .value_or(Value::Array());
    if (!countFilter && parameterFilters.empty()) return true;
    if (countFilter) {
        if (!aggregates || aggregates->name != eventName) {
            const Value aggregatesName =
                aggregates ? Value(ZDMEventNameForLog(Value(aggregates->name))) : Value();
            log(1, 7007, "Event aggregates name does not match event name" + std::string(kNotEvaluated),
                {aggregatesName, nameForLog, context(filter)});
            return std::nullopt;
        }
        const int32_t count = ZDMPBGetBool(filter, kEventFilterSessionScopedIndex)
                                  ? aggregates->currentSessionCount
                                  : aggregates->lifetimeCount;
        const auto result = ZDMEvaluateNumberFilterWithInt64(countFilter.get(), count);
        if (result != true) return result;
    }
    for (const Value& element : parameterFilters) {
        const auto parameterFilter = element.objectAs<ZDMPBFilter>();
        if (!parameterFilter) return std::nullopt;
        const auto parameterName = ZDMPBGetString(parameterFilter.get(), kFilterParameterNameIndex);
        if (!parameterName) {
            log(1, 7008, "Event filter does not have parameter name" + std::string(kNotEvaluated),
                {nameForLog, context(filter)});
            return std::nullopt;
        }
        const ZDMValue* value = parameterValue(parameters, *parameterName);
        if (!parameters.contains(*parameterName)) {
            log(3, 7009, "Event does not have parameter required by filter" + std::string(kNotEvaluated),
                {nameForLog, Value(ZDMParametersDescriptionForLog(Value(parameters))),
                 context(parameterFilter.get())});
            return std::nullopt;
        }
        if (value && value->isString() && !ZDMPBHasField(parameterFilter.get(), kFilterStringFilterIndex)) {
            log(3, 7010,
                "Event param is a string and the filter does not have a string filter" +
                    std::string(kNotEvaluated) + ". Event name, event params, filter",
                {nameForLog, Value(ZDMParametersDescriptionForLog(Value(parameters))),
                 context(parameterFilter.get())});
            return std::nullopt;
        }
        const auto result = ZDMEvaluateFilterForValue(parameterFilter.get(), value);
        if (result != true) return result;
    }
    return true;
}

std::optional<bool> ZDMEvaluatePropertyFilter(const ZDMPBPropertyFilter* filter, const std::string* name,
                                              const ZDMValue* value) {
    const Value nameForLog = name ? Value(ZDMUserPropertyNameForLog(Value(*name))) : Value();
    if (!filter) {
        log(1, 7011, "Property filter is nil" + std::string(kNotEvaluated), {nameForLog});
        return std::nullopt;
    }
    if (!name) {
        log(1, 7012, "User property is nil" + std::string(kNotEvaluated), {context(filter)});
        return std::nullopt;
    }
    if (ZDMPBGetString(filter, kPropertyFilterNameIndex) != *name) {
        log(1, 7013, "User property name does not match property filter name" + std::string(kNotEvaluated),
            {nameForLog, context(filter)});
        return std::nullopt;
    }
    const auto valueFilter = subMessage<ZDMPBFilter>(filter, kPropertyFilterFilterIndex);
    if (!valueFilter) {
        log(1, 7014, "Property filter does not have filter" + std::string(kNotEvaluated),
            {nameForLog, context(filter)});
        return std::nullopt;
    }
    if (!value || !(value->isString() || value->isInt64() || value->isDouble())) {
        log(1, 7015, "Unknown user property type" + std::string(kNotEvaluated) + ". Property Name",
            {nameForLog});
        return std::nullopt;
    }
    return ZDMEvaluateFilterForValue(valueFilter.get(), value);
}

std::optional<bool> ZDMEvaluateFilterForValue(const ZDMPBFilter* filter, const ZDMValue* value) {
    if (!filter) return std::nullopt;
    std::optional<bool> result;
    if (const auto numberFilter = subMessage<ZDMPBNumberFilter>(filter, kFilterNumberFilterIndex)) {
        result = evaluateNumberFilterForValue(filter, numberFilter.get(), value);
    } else if (const auto stringFilter = subMessage<ZDMPBStringFilter>(filter, kFilterStringFilterIndex)) {
        if (!value || !value->isString()) {
            log(3, 7003, "Value is not a string" + std::string(kNotEvaluated),
                {context(value), context(filter)});
            return std::nullopt;
        }
        const std::string text = value->stringValue().value_or("");
        result = ZDMEvaluateStringFilter(stringFilter.get(), &text);
    } else {
        log(1, 7000, "Filter has neither a number nor string filter" + std::string(kNotEvaluated),
            {context(value), context(filter)});
        return std::nullopt;
    }
    // The complement inverts an answer; "not evaluable" stays so.
    if (result && ZDMPBGetBool(filter, kFilterComplementIndex)) result = !*result;
    return result;
}

bool ZDMIsValidNumberFilter(const ZDMPBNumberFilter* filter) {
    const Value filterContext = context(filter);
    if (!filter || !ZDMPBHasField(filter, kNumberComparisonTypeIndex)) {
        log(1, 8006, "Number filter has no comparison type", {filterContext});
        return false;
    }
    switch (ZDMPBGetInt32(filter, kNumberComparisonTypeIndex)) {
        case 0:
            log(1, 8007, "Number filter has unknown comparison type", {filterContext});
            return false;
        case kLessThan:
        case kGreaterThan:
        case kEqual:
            if (isDecimalText(filter, kNumberValueIndex)) return true;
            log(1, 8008, "Numeric filter does not have a valid comparison value. Filter", {filterContext});
            return false;
        case kBetween: {
            // Both bounds are checked so that one report names every fault of the definition.
            const bool minimumValid = isDecimalText(filter, kNumberMinIndex);
            if (!minimumValid)
                log(1, 8009, "Numeric filter does not have a valid min comparison value. Filter",
                    {filterContext});
            const bool maximumValid = isDecimalText(filter, kNumberMaxIndex);
            if (!maximumValid)
                log(1, 8010, "Numeric filter does not have a valid max comparison value. Filter",
                    {filterContext});
            return minimumValid && maximumValid;
        }
        default:
            log(1, 8011, "Number filter has a real unknown comparison type", {filterContext});
            return false;
    }
}

std::optional<bool> ZDMEvaluateNumberFilterWithDecimal(const ZDMPBNumberFilter* filter,
                                                       const DecimalNumber& value) {
    if (!ZDMIsValidNumberFilter(filter)) return std::nullopt;
    const int32_t type = ZDMPBGetInt32(filter, kNumberComparisonTypeIndex);
    ZDMAudienceComparisonValues values;
    if (type == kBetween) {
        values.minComparisonValue = parseDecimal(filter, kNumberMinIndex);
        if (!values.minComparisonValue) {
            log(1, 8004, "Number filter min comparison value is not a number", {context(filter)});
            values.valid = false;
        } else {
            values.maxComparisonValue = parseDecimal(filter, kNumberMaxIndex);
            if (!values.maxComparisonValue) {
                log(1, 8005, "Number filter max comparison value is not a number", {context(filter)});
                values.valid = false;
            }
        }
    } else {
        values.comparisonValue = parseDecimal(filter, kNumberValueIndex);
        if (!values.comparisonValue) {
            log(1, 8002, "Number filter comparison value is not a number", {context(filter)});
            values.valid = false;
        }
    }
    if (!values.isValid()) {
        log(1, 8015,
            "Parsed decimal number comparison values are not valid" + std::string(kNotEvaluated) + ". Filter",
            {context(filter)});
        return std::nullopt;
    }
    switch (type) {
        case kLessThan:
            return compareDecimals(value, *values.comparisonValue) < 0;
        case kGreaterThan:
            return compareDecimals(value, *values.comparisonValue) > 0;
        case kEqual:
            return compareDecimals(value, *values.comparisonValue) == 0;
        default:
            return compareDecimals(*values.minComparisonValue, value) <= 0 &&
                   compareDecimals(value, *values.maxComparisonValue) <= 0;
    }
}

std::optional<bool> ZDMEvaluateNumberFilterWithInt64(const ZDMPBNumberFilter* filter, int64_t value) {
    // Nineteen digits at most, so the decimal type holds every int64 exactly.
    return ZDMEvaluateNumberFilterWithDecimal(filter, *DecimalNumber::fromString(std::to_string(value)));
}

std::optional<bool> ZDMEvaluateNumberFilterWithDouble(const ZDMPBNumberFilter* filter, double value) {
    if (!ZDMIsValidNumberFilter(filter)) return std::nullopt;
    const auto result = compareDouble(value, filter, ZDMPBGetInt32(filter, kNumberComparisonTypeIndex));
    if (!result)
        log(1, 8012,
            "Number filter is invalid, the comparison filter is not valid" + std::string(kNotEvaluated),
            {context(filter)});
    return result;
}
