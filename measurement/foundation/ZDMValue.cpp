#include "measurement/foundation/ZDMValue.h"

#include <typeinfo>

#include "measurement/foundation/ZDMDescription.h"
#include "measurement/foundation/ZDMMonitor.h"

namespace {
void logError(int64_t code, const std::string& message, const Value* context = nullptr) {
    auto monitor = ZDMMonitor::sharedMonitor();
    if (context)
        monitor->logWithLevel(0, code, message, *context);
    else
        monitor->logWithLevel(0, code, message);
}

size_t hashOf(const Value& value) {
    if (auto text = value.asString()) return std::hash<std::string>{}(*text);
    if (value.isReal()) return std::hash<double>{}(*value.asReal());
    if (value.isInteger() || value.isBool()) return std::hash<int64_t>{}(*value.asInteger());
    // An array hashes by its count: cheap, and equal arrays have equal counts.
    if (auto array = value.asArray()) return array->size();
    return 0;
}
}  // namespace

std::shared_ptr<const ZDMValue> ZDMValue::valueFromObject(const Value& object, bool allowArray) {
    if (auto value = object.objectAs<ZDMValue>()) return value;
    if (object.isString()) return initWithValueType(kTypeString, object);
    if (object.isReal()) return initWithDouble(*object.asReal());
    if (object.isInteger() || object.isBool()) return initWithInt64(*object.asInteger());
    if (object.isArray() && allowArray) return initWithArray(object);
    if (object.isNull()) {
        logError(35000, "Cannot create Value type with nil value");
    } else {
        logError(35001,
                 "Cannot create Value type with unsupported value. The Value has to be NSNumber, NSString or "
                 "NSArray (if supported). Value",
                 &object);
    }
    return nullptr;
}

std::shared_ptr<const ZDMValue> ZDMValue::initWithDouble(double value) {
    return initWithValueType(kTypeDouble, value);
}

std::shared_ptr<const ZDMValue> ZDMValue::initWithInt64(int64_t value) {
    return initWithValueType(kTypeInt64, value);
}

std::shared_ptr<const ZDMValue> ZDMValue::initWithString(const Value& string) {
    if (string.isNull()) {
        logError(35002, "Cannot create String value with nil");
        return nullptr;
    }
    if (!string.isString()) {
        logError(35003, "Cannot create String value with non-string value. Value", &string);
        return nullptr;
    }
    return initWithValueType(kTypeString, string);
}

std::shared_ptr<const ZDMValue> ZDMValue::initWithArray(const Value& array) {
    if (array.isNull()) {
        logError(35004, "Cannot create Array value with nil");
        return nullptr;
    }
    if (!array.isArray()) {
        logError(35005, "Cannot create Array value with non-array value. Value", &array);
        return nullptr;
    }
    return initWithValueType(kTypeArray, array);
}

std::shared_ptr<const ZDMValue> ZDMValue::initWithValueType(int64_t valueType, Value value) {
    return std::shared_ptr<const ZDMValue>(new ZDMValue(valueType, std::move(value)));
}

double ZDMValue::doubleValue() const {
    return isDouble() ? value_.realOr(0.0) : 0.0;
}

int64_t ZDMValue::int64Value() const {
    return isInt64() ? value_.integerOr(0) : 0;
}

std::optional<std::string> ZDMValue::stringValue() const {
    if (!isString() || !value_.asString()) return std::nullopt;
    return *value_.asString();
}

const Value::Array* ZDMValue::arrayValue() const {
    return isArray() ? value_.asArray() : nullptr;
}

std::shared_ptr<const ZDMValue> ZDMValue::copy() const {
    return initWithValueType(valueType_, value_);
}

std::string ZDMValue::description() const {
    return ZDMDescription(value_);
}

bool ZDMValue::isEqual(const Object& other) const {
    if (typeid(*this) != typeid(ZDMValue) || typeid(other) != typeid(ZDMValue)) return false;
    const auto& that = static_cast<const ZDMValue&>(other);
    return valueType_ == that.valueType_ && value_ == that.value_;
}

size_t ZDMValue::hash() const {
    return static_cast<size_t>(valueType_ * 31) ^ hashOf(value_);
}

std::shared_ptr<const ZUDAValue> ZUDAValue::initWithValueType(int64_t valueType, Value value) {
    return std::shared_ptr<const ZUDAValue>(new ZUDAValue(valueType, std::move(value)));
}
