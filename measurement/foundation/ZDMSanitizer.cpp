#include "measurement/foundation/ZDMSanitizer.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMErrorEventParameters.h"
#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMInstalledRemoteConfig.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMStringAdditions.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/foundation/ValueClassName.h"

namespace {
constexpr int64_t kNameErrorLimit = 40;
constexpr int64_t kValueErrorLimit = 256;
constexpr size_t kCutErrorValueLength = kValueErrorLimit + 3;
constexpr const char* kErrorValueKey = "_ev";

Value objectValue(std::shared_ptr<const ZDMValue> value) {
    return Value(std::shared_ptr<const Object>(std::move(value)));
}

bool isCustomParameter(const std::string& name, bool itemMode) {
    return ZDMIsPublicName(Value(name)) && !(itemMode && ZDMIsEcommerceParameterName(name));
}

// An "_ev" longer than the limit is recorded in its cut form, unless it already is one.
void recordLongErrorValue(const ZDMValue& value, Dictionary& additions) {
    const auto text = value.stringValue();
    if (!text) return;
    const size_t length = zdm_UTF32Length(*text);
    if (length <= size_t(kValueErrorLimit)) return;
    if (length == kCutErrorValueLength && text->ends_with("...")) return;
    ZDMAddErrorEventParameters(additions, Value(*text), kValueErrorLimit, Value(*text));
}

// The limit on custom parameters of one item, and the error recorded when it is passed.
void limitItemParameters(Dictionary& working) {
    auto remoteConfig = ZDMInstalledRemoteConfig();
    const int64_t limit =
        remoteConfig->itemScopedCustomParameterEnabled() ? remoteConfig->maxItemScopedCustomParameters() : 0;
    if (int64_t(ZDMCountPublicParameters(working, true)) <= limit) return;
    ZDMTrimPublicParameters(working, limit, true);
    ZDMSetErrorCodeIfAbsent(working, limit != 0 ? 28 : 23);
    ZDMMonitor::sharedMonitor()->logWithLevel(0, 18016, "Item cannot contain custom parameters");
}

void limitEventParameters(Dictionary& working) {
    const int64_t limit = ZDMInstalledRemoteConfig()->maxPublicEventParams();
    if (int64_t(ZDMCountPublicParameters(working, false)) <= limit) return;
    ZDMTrimPublicParameters(working, limit, false);
    ZDMSetErrorCodeIfAbsent(working, 5);
    ZDMMonitor::sharedMonitor()->logWithLevel(
        1, 18017, "Event cannot contain more than " + std::to_string(limit) + " parameters");
}
}  // namespace

bool ZDMIsValidEventParameterName(const std::string& name, bool isPublic, Dictionary& errorParameters) {
    const Value nameValue(name);
    uint64_t failure = 0;
    const bool valid =
        (!isPublic || ZDMDataTypeValidator::isValidPublicEventParameterName(nameValue, &failure)) &&
        ZDMDataTypeValidator::isValidInternalEventParameterName(nameValue, &failure);
    if (!valid && failure != 0 && !errorParameters.contains("_err")) {
        const int64_t code = failure == ZDMDataTypeValidator::kReserved ? 14 : 3;
        const bool reportName = zdm_UTF32Length(name) > size_t(kNameErrorLimit);
        ZDMAddErrorParametersIfAbsent(errorParameters, code, nameValue, kNameErrorLimit,
                                      reportName ? nameValue : Value());
    }
    return valid;
}

std::optional<Dictionary> ZDMSanitizeEventParameters(const Dictionary& parameters,
                                                     const std::string& eventName, bool isPublic,
                                                     bool itemMode) {
    if (parameters.empty()) return std::nullopt;
    std::vector<std::string> removed;
    Dictionary additions;
    for (const auto& [key, original] : parameters) {
        if (!ZDMIsValidEventParameterName(key, isPublic, additions)) {
            removed.push_back(key);
            continue;
        }
        const bool heldAsValue = original.objectAs<ZDMValue>() != nullptr;
        auto value = ZDMValue::valueFromObject(original, true);
        if (!value) {
            removed.push_back(key);
            ZDMMonitor::sharedMonitor()->logWithLevel(
                3, 18015, "Event parameter value must be of type NSString, NSNumber or NSArray. Type",
                Value(classNameOf(original)));
            continue;
        }
        uint64_t failure = 0;
        bool refused =
            isPublic && !ZDMDataTypeValidator::isValidPublicEventParameterValue(objectValue(value), &failure);
        if (!refused && key == kErrorValueKey)
            recordLongErrorValue(*value, additions);
        else if (!refused)
            refused = !ZDMDataTypeValidator::isValidInternalEventParameterValue(objectValue(value), &failure);
        if (!refused && value->isArray() && !heldAsValue) {
            auto sanitized = ZDMSanitizeArrayParameter(*value->arrayValue(), key, eventName, additions,
                                                       itemMode, isPublic, &failure);
            if (sanitized)
                value = sanitized;
            else
                refused = true;
        }
        if (refused) {
            removed.push_back(key);
            if (failure == ZDMDataTypeValidator::kTooLong && !additions.contains("_err")) {
                const auto text = value->stringValue();
                ZDMAddErrorParametersIfAbsent(additions, 4, Value(key), kNameErrorLimit,
                                              text ? Value(*text) : Value());
            }
        }
        if (value->isArray() && failure != 0) ZDMAddArrayParameterError(additions, failure, key, eventName);
        // An error recorded under the same name (the cut "_ev") is the first problem and stays.
        if (!refused && !heldAsValue && !additions.contains(key)) additions.set(key, objectValue(value));
    }

    if (removed.size() == parameters.size()) return additions;
    Dictionary working = parameters;
    for (const auto& key : removed) working.erase(key);
    for (const auto& [key, value] : additions) working.set(key, value);
    if (itemMode)
        limitItemParameters(working);
    else
        limitEventParameters(working);
    return working;
}

std::shared_ptr<const ZDMValue> ZDMSanitizeArrayParameter(const Value::Array& array,
                                                          const std::string& parameterName,
                                                          const std::string& eventName,
                                                          Dictionary& errorParameters, bool nested,
                                                          bool isPublic, uint64_t* failureCode) {
    uint64_t failure = 0;
    const bool valid = ZDMDataTypeValidator::isValidArrayParamForEvent(eventName, parameterName, array.size(),
                                                                       nested, &failure);
    if (failureCode) *failureCode = failure;
    if (!valid && failure != ZDMDataTypeValidator::kTooManyArrayItems) return nullptr;
    const size_t count = std::min(array.size(), size_t(ZDMDataTypeValidator::kMaxArrayItems));

    Value::Array kept;
    for (size_t index = 0; index < count; ++index) {
        const Value& item = array[index];
        if (!ZDMDataTypeValidator::isValidArrayParamItem(item)) {
            ZDMAddErrorParametersIfAbsent(errorParameters, 4,
                                          Value(parameterName + "[" + std::to_string(index) + "]"),
                                          kNameErrorLimit);
            continue;
        }
        if (auto sanitized = ZDMSanitizeEventParameters(*item.asDictionary(), eventName, isPublic, true))
            kept.push_back(Value(std::move(*sanitized)));
    }
    return ZDMValue::initWithValueType(ZDMValue::kTypeArray, Value(std::move(kept)));
}

size_t ZDMCountPublicParameters(const Dictionary& parameters, bool itemMode) {
    size_t count = 0;
    for (const auto& [key, value] : parameters)
        if (isCustomParameter(key, itemMode)) ++count;
    return count;
}

void ZDMTrimPublicParameters(Dictionary& parameters, int64_t limit, bool itemMode) {
    size_t count = ZDMCountPublicParameters(parameters, itemMode);
    const size_t allowed = size_t(std::max<int64_t>(limit, 0));
    if (count <= allowed) return;
    std::vector<std::string> keys = parameters.keys();
    std::sort(keys.begin(), keys.end());
    for (auto key = keys.rbegin(); key != keys.rend() && count > allowed; ++key) {
        if (!isCustomParameter(*key, itemMode)) continue;
        parameters.erase(*key);
        --count;
    }
}

void ZDMTrimPublicParametersToCount(Dictionary& parameters, int64_t limit) {
    ZDMTrimPublicParameters(parameters, limit, false);
}

bool ZDMValidateValueAndCurrency(Dictionary& parameters) {
    const Value* value = parameters.find("value");
    if (!value) return true;
    if (!ZDMDataTypeValidator::isValidNumericValue(*value)) {
        parameters.erase("value");
        ZDMAddErrorParametersIfAbsent(parameters, 18, Value("value"), kValueErrorLimit);
        return false;
    }
    if (!ZDMDataTypeValidator::isValidCurrencyCode(std::as_const(parameters)["currency"])) {
        ZDMMonitor::sharedMonitor()->logWithLevel(
            3, 18014,
            "Value parameter discarded. You must also supply a 3-letter "
            "ISO_4217 currency code in the currency parameter.");
        parameters.erase("value");
        ZDMAddErrorParametersIfAbsent(parameters, 19, Value("currency"), kValueErrorLimit);
        return false;
    }
    return true;
}
