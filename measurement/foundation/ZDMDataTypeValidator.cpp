#include "measurement/foundation/ZDMDataTypeValidator.h"

#include <array>

#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMNameMaps.h"
#include "measurement/foundation/ZDMStringAdditions.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/foundation/CharacterSet.h"
#include "platform/foundation/Unicode.h"
#include "platform/foundation/UnicodeText.h"
#include "platform/foundation/ValueClassName.h"

namespace {
constexpr int64_t kLevelError = 0;
constexpr int64_t kLevelWarning = 3;
constexpr int64_t kNameLength = 40;
constexpr int64_t kUserPropertyNameLength = 24;
constexpr int64_t kOriginLength = 32;
constexpr int64_t kCurrencyLength = 3;

const char* const kReservedPrefixes[] = {"zudedaro_", "zizoda_", "za_"};
const char* const kLongUserPropertyValueNames[] = {"_id", "_zbraid", "_psmvalue"};

std::string kindText(int64_t type) {
    static const std::array<const char*, 10> texts = {
        "Event name",
        "Event origin",
        "Event parameter name",
        "Event parameter value",
        "User property name",
        "User property value",
        "Screen parameter value",
        "Conditional user property origin",
        "Conditional user property name",
        "Conditional user property value",
    };
    return type >= 0 && type < int64_t(texts.size()) ? texts[size_t(type)] : "Object";
}

// Values are warnings: the application's event still goes on without them.
bool isValueKind(int64_t type) {
    return type == ZDMDataTypeValidator::kEventParameterValue ||
           type == ZDMDataTypeValidator::kUserPropertyValue;
}

void log(int64_t level, int64_t code, const std::string& message) {
    ZDMMonitor::sharedMonitor()->logWithLevel(level, code, message);
}

void log(int64_t level, int64_t code, const std::string& message, const Value& context) {
    ZDMMonitor::sharedMonitor()->logWithLevel(level, code, message, context);
}

bool refuse(uint64_t* failureCode, uint64_t code) {
    if (failureCode) *failureCode = code;
    return false;
}

bool isNameCharacter(char32_t character) {
    return character == U'_' || isLetterCharacter(character) || isDecimalDigitCharacter(character);
}

bool hasOnlyNameCharacters(const std::string& name) {
    for (size_t offset = 0; offset < name.size();)
        if (!isNameCharacter(decodeUtf8(name, offset))) return false;
    return true;
}

// The first scalar value, read through its UTF-32 form.
bool startsWithLetter(const std::string& name) {
    uint8_t bytes[4] = {};
    zdm_getUTF32Bytes(name, bytes, sizeof bytes);
    const char32_t first =
        char32_t(bytes[0]) | char32_t(bytes[1]) << 8 | char32_t(bytes[2]) << 16 | char32_t(bytes[3]) << 24;
    return isLetterCharacter(first);
}

// Counted in UTF-16 units, one per unit, so a surrogate pair is two non-letters.
bool isThreeLetterCode(const std::string& text) {
    const std::u16string units = utf16String(text);
    if (units.size() != size_t(kCurrencyLength)) return false;
    for (char16_t unit : units)
        if (!isLetterCharacter(unit)) return false;
    return true;
}

// The measurement value rule shared by value, numeric and currency checks.
std::shared_ptr<const ZDMValue> measurementValue(const Value& object, int64_t type, uint64_t* failureCode) {
    if (object.isNull()) {
        refuse(failureCode, ZDMDataTypeValidator::kMissing);
        log(kLevelWarning, 13004, kindText(type) + " cannot be nil");
        return nullptr;
    }
    auto value = object.objectAs<ZDMValue>();
    if (!value) {
        refuse(failureCode, ZDMDataTypeValidator::kWrongType);
        log(kLevelWarning, 13005, kindText(type) + " must be a ZDMValue instance. value",
            Value(classNameOf(object)));
    }
    return value;
}
}  // namespace

bool ZDMDataTypeValidator::hasReservedPrefixes(const std::string& name) {
    for (const char* prefix : kReservedPrefixes)
        if (name.starts_with(prefix)) return true;
    return false;
}

bool ZDMDataTypeValidator::isValidString(const Value& object, int64_t minLength, int64_t maxLength,
                                         int64_t type, uint64_t* failureCode) {
    if (failureCode) *failureCode = kNoFailure;
    const int64_t level = isValueKind(type) ? kLevelWarning : kLevelError;
    if (object.isNull()) {
        log(level, 13001, kindText(type) + " is required and can't be nil");
        return refuse(failureCode, kMissing);
    }
    const std::string* text = object.asString();
    if (!text) {
        log(level, 13000, kindText(type) + " must be of type NSString", object);
        return refuse(failureCode, kWrongType);
    }
    // Empty means no UTF-16 units, i.e. no bytes.
    if (text->empty() && minLength >= 1) {
        if (!isValueKind(type)) log(level, 13001, kindText(type) + " is required and can't be empty");
        return refuse(failureCode, kMissing);
    }
    const int64_t length = int64_t(zdm_UTF32Length(*text));
    if (length > maxLength) {
        log(level, 13000,
            kindText(type) + " is too long. The maximum supported length is " + std::to_string(maxLength),
            object);
        return refuse(failureCode, kTooLong);
    }
    if (length < minLength) {
        log(level, 13000,
            kindText(type) + " is too short. The minimum supported length is " + std::to_string(minLength),
            object);
        return refuse(failureCode, kTooShort);
    }
    return true;
}

bool ZDMDataTypeValidator::isValidInternalName(const Value& name, int64_t maxLength, int64_t type,
                                               uint64_t* failureCode) {
    if (!isValidString(name, 1, maxLength, type, failureCode)) return false;
    if (!hasOnlyNameCharacters(*name.asString())) {
        log(kLevelError, 13002, kindText(type) + " must contain only letters, numbers, or underscores", name);
        return refuse(failureCode, kInvalidCharacter);
    }
    return true;
}

bool ZDMDataTypeValidator::isValidPublicName(const Value& name, int64_t maxLength, int64_t type,
                                             uint64_t* failureCode) {
    if (!isValidInternalName(name, maxLength, type, failureCode)) return false;
    if (!startsWithLetter(*name.asString())) {
        log(kLevelError, 13003, kindText(type) + " must start with a letter", name);
        return refuse(failureCode, kInvalidCharacter);
    }
    return true;
}

bool ZDMDataTypeValidator::isValidValue(const Value& object, int64_t minLength, int64_t maxLength,
                                        int64_t type, uint64_t* failureCode) {
    if (failureCode) *failureCode = kNoFailure;
    auto value = measurementValue(object, type, failureCode);
    if (!value) return false;
    if (value->isString()) return isValidString(value->value(), minLength, maxLength, type, failureCode);
    return true;
}

bool ZDMDataTypeValidator::isValidPublicEventName(const Value& name, uint64_t* failureCode) {
    if (!isValidPublicName(name, kNameLength, kEventName, failureCode)) return false;
    const std::string& text = *name.asString();
    if (text == "screen_view") return true;
    if (ZDMPublicToInternalEventNameMap().contains(text) &&
        !ZDMLoggableReservedEventNameMap().contains(text)) {
        log(kLevelError, 13006, "Event name is reserved. Ignoring event", name);
        return refuse(failureCode, kReserved);
    }
    if (hasReservedPrefixes(text)) {
        log(kLevelError, 13007, "Event name uses reserved prefix. Ignoring event", name);
        return refuse(failureCode, kReserved);
    }
    return true;
}

bool ZDMDataTypeValidator::isValidInternalEventName(const Value& name, uint64_t* failureCode) {
    return isValidInternalName(name, kNameLength, kEventName, failureCode);
}

bool ZDMDataTypeValidator::isValidPublicEventParameterName(const Value& name, uint64_t* failureCode) {
    if (!isValidPublicName(name, kNameLength, kEventParameterName, failureCode)) return false;
    if (hasReservedPrefixes(*name.asString())) {
        log(kLevelError, 13008, "Parameter name uses reserved prefix. Ignoring parameter", name);
        return refuse(failureCode, kReserved);
    }
    return true;
}

bool ZDMDataTypeValidator::isValidInternalEventParameterName(const Value& name, uint64_t* failureCode) {
    return isValidInternalName(name, kNameLength, kEventParameterName, failureCode);
}

bool ZDMDataTypeValidator::isValidPublicEventParameterValue(const Value& value, uint64_t* failureCode) {
    return isValidValue(value, 0, 100, kEventParameterValue, failureCode);
}

bool ZDMDataTypeValidator::isValidInternalEventParameterValue(const Value& value, uint64_t* failureCode) {
    return isValidValue(value, 0, 256, kEventParameterValue, failureCode);
}

bool ZDMDataTypeValidator::isValidInternalEventOrigin(const Value& origin, uint64_t* failureCode) {
    return isValidInternalName(origin, kOriginLength, kEventOrigin, failureCode);
}

bool ZDMDataTypeValidator::isValidForwardedEventOrigin(const Value& origin, uint64_t* failureCode) {
    static constexpr std::string_view kSuffix = "+ztm";
    if (failureCode) *failureCode = kNoFailure;
    const std::string* text = origin.asString();
    if (origin.isNull() || (text && text->empty())) return refuse(failureCode, kMissing);
    if (!text || !text->ends_with(kSuffix)) return refuse(failureCode, kNotForwardedOrigin);
    const Value stem(text->substr(0, text->size() - kSuffix.size()));
    return isValidInternalName(stem, kOriginLength, kEventOrigin, failureCode);
}

bool ZDMDataTypeValidator::isValidPublicUserAttributeName(const Value& name, uint64_t* failureCode) {
    if (!isValidPublicName(name, kUserPropertyNameLength, kUserPropertyName, failureCode)) return false;
    const std::string& text = *name.asString();
    if (ZDMPublicToInternalUserPropertyNameMap().contains(text)) {
        log(kLevelError, 13009, "User property name is reserved. Ignoring user property", name);
        return refuse(failureCode, kReserved);
    }
    if (hasReservedPrefixes(text)) {
        log(kLevelError, 13010, "User property name uses reserved prefix. Ignoring user property", name);
        return refuse(failureCode, kReserved);
    }
    return true;
}

bool ZDMDataTypeValidator::isValidInternalUserAttributeName(const Value& name, uint64_t* failureCode) {
    return isValidInternalName(name, kUserPropertyNameLength, kUserPropertyName, failureCode);
}

bool ZDMDataTypeValidator::isValidPublicUserAttributeValue(const Value& value, uint64_t* failureCode) {
    return isValidValue(value, 1, 36, kUserPropertyValue, failureCode);
}

bool ZDMDataTypeValidator::isValidInternalUserAttributeValue(const Value& value, const std::string& name,
                                                             uint64_t* failureCode) {
    bool longValue = false;
    for (const char* longName : kLongUserPropertyValueNames) longValue = longValue || name == longName;
    return isValidValue(value, 1, longValue ? 256 : 36, kUserPropertyValue, failureCode);
}

bool ZDMDataTypeValidator::isValidScreenParameterValue(const Value& value, uint64_t* failureCode) {
    return isValidString(value, 1, 100, kScreenParameterValue, failureCode);
}

bool ZDMDataTypeValidator::isValidConditionalUserPropertyOrigin(const Value& origin, uint64_t* failureCode) {
    return isValidInternalName(origin, kOriginLength, kConditionalUserPropertyOrigin, failureCode);
}

bool ZDMDataTypeValidator::isValidConditionalUserPropertyName(const Value& name, uint64_t* failureCode) {
    return isValidInternalName(name, kUserPropertyNameLength, kConditionalUserPropertyName, failureCode);
}

bool ZDMDataTypeValidator::isValidConditionalUserPropertyValue(const Value& value, uint64_t* failureCode) {
    return isValidValue(value, 1, 36, kConditionalUserPropertyValue, failureCode);
}

bool ZDMDataTypeValidator::isValidNumericValue(const Value& value, uint64_t* failureCode) {
    if (failureCode) *failureCode = kNoFailure;
    auto measurement = measurementValue(value, kEventParameterValue, failureCode);
    if (!measurement) return false;
    if (measurement->isInt64() || measurement->isDouble()) return true;
    log(kLevelWarning, 13011,
        kindText(kEventParameterValue) + " must be specified with a numeric type. value",
        Value(measurement->description()));
    return refuse(failureCode, kNotNumeric);
}

bool ZDMDataTypeValidator::isValidCurrencyCode(const Value& value, uint64_t* failureCode) {
    if (failureCode) *failureCode = kNoFailure;
    auto measurement = measurementValue(value, kEventParameterValue, failureCode);
    if (!measurement) return false;
    const auto text = measurement->stringValue();
    if (text && isThreeLetterCode(*text)) return true;
    log(kLevelWarning, 13012,
        kindText(kEventParameterValue) + " must contain a " + std::to_string(kCurrencyLength) +
            "-letter ISO_4217 currency code. value",
        value);
    return refuse(failureCode, kInvalidCurrency);
}

bool ZDMDataTypeValidator::isValidArrayParamForEvent(const std::string& eventName,
                                                     const std::string& paramName, uint64_t arrayCount,
                                                     bool isNestedArrayParam, uint64_t* failureCode) {
    if (failureCode) *failureCode = kNoFailure;
    if (isNestedArrayParam) {
        log(kLevelError, 13013, "Nested array parameters are not allowed. Name", Value(paramName));
        return refuse(failureCode, kNestedArray);
    }
    if (!ZDMIsEcommerceEventName(eventName)) {
        log(kLevelError, 13013,
            "Only ecommerce events are allowed to contain array parameters. Invalid ecommerce name",
            Value(eventName));
        return refuse(failureCode, kArrayOnNonEcommerceEvent);
    }
    if (paramName != "items") {
        log(kLevelError, 13013,
            kindText(kEventParameterName) +
                " is an invalid ecommerce items. The name of array parameters for ecommerce should be "
                "\"items\". Invalid parameter name",
            Value(paramName));
        return refuse(failureCode, kArrayNotNamedItems);
    }
    if (arrayCount > uint64_t(kMaxArrayItems)) {
        log(kLevelError, 13013,
            "Array parameter has too many items. The maximum number of supported items is " +
                std::to_string(kMaxArrayItems) + ". Invalid array size",
            Value(arrayCount));
        return refuse(failureCode, kTooManyArrayItems);
    }
    return true;
}

bool ZDMDataTypeValidator::isValidArrayParamItem(const Value& item, uint64_t* failureCode) {
    if (failureCode) *failureCode = kNoFailure;
    if (item.isDictionary()) return true;
    log(kLevelError, 13014, "Array param must be a dictionary. Parameters", item);
    return refuse(failureCode, kArrayItemNotDictionary);
}
