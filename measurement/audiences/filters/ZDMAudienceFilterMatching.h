#pragma once
// Whether one audience filter matches one event or one user property. Every evaluation answers
// YES, NO or nullopt ("not evaluable", logged on the measurement monitor); a caller never changes a
// stored result for nullopt. Pure functions of their arguments apart from logging.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measurement/foundation/ZDMRegularExpression.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "platform/foundation/DecimalNumber.h"
#include "platform/foundation/Value.h"

// The parsed texts of one decimal comparison; valid until one of them does not parse.
struct ZDMAudienceComparisonValues {
    std::optional<DecimalNumber> comparisonValue;
    std::optional<DecimalNumber> minComparisonValue;
    std::optional<DecimalNumber> maxComparisonValue;
    bool valid = true;
    bool isValid() const { return valid; }
};

// The counters of an event name that an event-count filter reads.
struct ZDMEventFilterCounts {
    std::string name;
    int32_t lifetimeCount = 0;
    int32_t currentSessionCount = 0;
};

// `parameters` maps parameter names to ZDMValue objects.
std::optional<bool> ZDMEvaluateEventFilter(const ZDMPBEventFilter* filter, const std::string& eventName,
                                           const Dictionary& parameters,
                                           const std::optional<ZDMEventFilterCounts>& aggregates);
// Any aggregates record with name(), lifetimeCount() and currentSessionCount(); nullptr for none.
template <class Aggregates>
std::optional<bool> ZDMEvaluateEventFilter(const ZDMPBEventFilter* filter, const std::string& eventName,
                                           const Dictionary& parameters, const Aggregates* aggregates) {
    std::optional<ZDMEventFilterCounts> counts;
    if (aggregates)
        counts = ZDMEventFilterCounts{aggregates->name(), aggregates->lifetimeCount(),
                                      aggregates->currentSessionCount()};
    return ZDMEvaluateEventFilter(filter, eventName, parameters, counts);
}

// `name` nullptr stands for a missing user property.
std::optional<bool> ZDMEvaluatePropertyFilter(const ZDMPBPropertyFilter* filter, const std::string* name,
                                              const ZDMValue* value);
// Any user attribute record with name() and value() (a ZDMValue pointer); nullptr for none.
template <class Attribute>
std::optional<bool> ZDMEvaluatePropertyFilter(const ZDMPBPropertyFilter* filter, const Attribute* attribute) {
    if (!attribute) return ZDMEvaluatePropertyFilter(filter, nullptr, nullptr);
    const std::string name = attribute->name();
    return ZDMEvaluatePropertyFilter(filter, &name, &*attribute->value());
}

// A number filter, when present, wins over a string filter.
std::optional<bool> ZDMEvaluateFilterForValue(const ZDMPBFilter* filter, const ZDMValue* value);

// Logs every failing check (8006-8011).
bool ZDMIsValidNumberFilter(const ZDMPBNumberFilter* filter);
std::optional<bool> ZDMEvaluateNumberFilterWithDecimal(const ZDMPBNumberFilter* filter,
                                                       const DecimalNumber& value);
// Exact, through the decimal type.
std::optional<bool> ZDMEvaluateNumberFilterWithInt64(const ZDMPBNumberFilter* filter, int64_t value);
// "Equal" holds within two representable steps either way, so that sums like 0.1 + 0.2 match 0.3.
std::optional<bool> ZDMEvaluateNumberFilterWithDouble(const ZDMPBNumberFilter* filter, double value);

// Logs the first failing check (9000-9004); a regular-expression filter hands out its compiled
// pattern when `regex` is given.
bool ZDMValidateStringFilter(const ZDMPBStringFilter* filter,
                             std::unique_ptr<ZDMRegularExpression>* regex = nullptr);
bool ZDMIsValidStringFilter(const ZDMPBStringFilter* filter);
// `value` nullptr stands for a missing text. Case-insensitive unless the filter asks otherwise.
std::optional<bool> ZDMEvaluateStringFilter(const ZDMPBStringFilter* filter, const std::string* value);
