#pragma once
// Every rule a name or value must meet before the measurement library keeps it. Each check answers
// YES or NO, writes its failure code (0 on entry) through the optional out-parameter, and logs one
// line through the monitor on refusal: level 0 for names, 3 for values. An object argument is a
// Value; a measurement value travels as its object (ZDMValue).
//
// Lengths count Unicode scalar values, so a name of 40 supplementary-plane letters is 40 long;
// only the empty test and the currency check count UTF-16 units, as the platform's strings do.
// Letters are those of any script without combining marks; name characters add decimal digits of
// any script and "_". Pure apart from logging: callable from any thread.
#include <cstdint>
#include <string>

#include "platform/foundation/Value.h"

class ZDMDataTypeValidator {
  public:
    enum FailureCode : uint64_t {
        kNoFailure = 0,
        kMissing = 1,
        kTooLong = 2,
        kInvalidCharacter = 3,
        kReserved = 4,
        kWrongType = 5,
        kNotForwardedOrigin = 6,
        kTooShort = 7,
        kNotNumeric = 8,
        kInvalidCurrency = 9,
        kArrayOnNonEcommerceEvent = 10,
        kArrayNotNamedItems = 11,
        kTooManyArrayItems = 12,
        kNestedArray = 13,
        kArrayItemNotDictionary = 14,
    };
    // Kinds of checked item; each selects the text that opens its messages.
    enum Kind : int64_t {
        kEventName = 0,
        kEventOrigin = 1,
        kEventParameterName = 2,
        kEventParameterValue = 3,
        kUserPropertyName = 4,
        kUserPropertyValue = 5,
        kScreenParameterValue = 6,
        kConditionalUserPropertyOrigin = 7,
        kConditionalUserPropertyName = 8,
        kConditionalUserPropertyValue = 9,
    };
    static constexpr int64_t kMaxArrayItems = 200;

    // "zudedaro_", "zizoda_" or "za_".
    static bool hasReservedPrefixes(const std::string& name);
    static bool isValidString(const Value& object, int64_t minLength, int64_t maxLength, int64_t type,
                              uint64_t* failureCode = nullptr);
    static bool isValidInternalName(const Value& name, int64_t maxLength, int64_t type,
                                    uint64_t* failureCode = nullptr);
    static bool isValidPublicName(const Value& name, int64_t maxLength, int64_t type,
                                  uint64_t* failureCode = nullptr);
    static bool isValidValue(const Value& object, int64_t minLength, int64_t maxLength, int64_t type,
                             uint64_t* failureCode = nullptr);

    static bool isValidPublicEventName(const Value& name, uint64_t* failureCode = nullptr);
    static bool isValidInternalEventName(const Value& name, uint64_t* failureCode = nullptr);
    static bool isValidPublicEventParameterName(const Value& name, uint64_t* failureCode = nullptr);
    static bool isValidInternalEventParameterName(const Value& name, uint64_t* failureCode = nullptr);
    static bool isValidPublicEventParameterValue(const Value& value, uint64_t* failureCode = nullptr);
    static bool isValidInternalEventParameterValue(const Value& value, uint64_t* failureCode = nullptr);
    static bool isValidInternalEventOrigin(const Value& origin, uint64_t* failureCode = nullptr);
    // Only "<internal name>+ztm"; code 1 (empty) and 6 (no suffix) are not logged, since the event
    // then tries the internal-origin rule.
    static bool isValidForwardedEventOrigin(const Value& origin, uint64_t* failureCode = nullptr);
    static bool isValidPublicUserAttributeName(const Value& name, uint64_t* failureCode = nullptr);
    static bool isValidInternalUserAttributeName(const Value& name, uint64_t* failureCode = nullptr);
    static bool isValidPublicUserAttributeValue(const Value& value, uint64_t* failureCode = nullptr);
    // Up to 256 for "_id", "_zbraid" and "_psmvalue", else up to 36.
    static bool isValidInternalUserAttributeValue(const Value& value, const std::string& name,
                                                  uint64_t* failureCode = nullptr);
    static bool isValidScreenParameterValue(const Value& value, uint64_t* failureCode = nullptr);
    static bool isValidConditionalUserPropertyOrigin(const Value& origin, uint64_t* failureCode = nullptr);
    static bool isValidConditionalUserPropertyName(const Value& name, uint64_t* failureCode = nullptr);
    static bool isValidConditionalUserPropertyValue(const Value& value, uint64_t* failureCode = nullptr);
    static bool isValidNumericValue(const Value& value, uint64_t* failureCode = nullptr);
    static bool isValidCurrencyCode(const Value& value, uint64_t* failureCode = nullptr);
    // An empty event name stands for none.
    static bool isValidArrayParamForEvent(const std::string& eventName, const std::string& paramName,
                                          uint64_t arrayCount, bool isNestedArrayParam,
                                          uint64_t* failureCode = nullptr);
    static bool isValidArrayParamItem(const Value& item, uint64_t* failureCode = nullptr);
};
