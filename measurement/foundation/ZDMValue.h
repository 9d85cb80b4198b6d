#pragma once
// The typed value of every event parameter and user property: a double (type 0), a 64-bit integer
// (1), a text (2) or an array of item dictionaries (3), whose values are plain Values or ZDMValues.
// Immutable once made, so shared freely between threads.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class ZDMValue : public Object {
  public:
    static constexpr int64_t kTypeDouble = 0;
    static constexpr int64_t kTypeInt64 = 1;
    static constexpr int64_t kTypeString = 2;
    static constexpr int64_t kTypeArray = 3;

    // A ZDMValue (or ZUDAValue) in the object comes back as the same object; a real number is type
    // 0, an integer or a boolean type 1, a text type 2, an array type 3 when allowed. Anything else
    // logs and answers nullptr.
    static std::shared_ptr<const ZDMValue> valueFromObject(const Value& object, bool allowArray = false);
    static std::shared_ptr<const ZDMValue> initWithDouble(double value);
    static std::shared_ptr<const ZDMValue> initWithInt64(int64_t value);
    // Log and answer nullptr unless given a text, respectively an array.
    static std::shared_ptr<const ZDMValue> initWithString(const Value& string);
    static std::shared_ptr<const ZDMValue> initWithArray(const Value& array);
    // Stores both without checks.
    static std::shared_ptr<const ZDMValue> initWithValueType(int64_t valueType, Value value);

    int64_t valueType() const { return valueType_; }
    const Value& value() const { return value_; }
    bool isDouble() const { return valueType_ == kTypeDouble; }
    bool isInt64() const { return valueType_ == kTypeInt64; }
    bool isString() const { return valueType_ == kTypeString; }
    bool isArray() const { return valueType_ == kTypeArray; }
    // No conversion between types: each answers its empty result for a value of another type.
    double doubleValue() const;
    int64_t int64Value() const;
    std::optional<std::string> stringValue() const;
    const Value::Array* arrayValue() const;

    // Always a plain ZDMValue sharing the same content.
    std::shared_ptr<const ZDMValue> copy() const;

    std::string className() const override { return "ZDMValue"; }
    std::string description() const override;
    // Equal only between two plain ZDMValues of the same type and content: a ZUDAValue is never
    // equal to anything, not even its own kind, as the connector relies on.
    bool isEqual(const Object& other) const override;
    size_t hash() const override;

  protected:
    ZDMValue(int64_t valueType, Value value) : valueType_(valueType), value_(std::move(value)) {}

  private:
    const int64_t valueType_;
    const Value value_;
};

// The analytics connector's name for the same value.
class ZUDAValue : public ZDMValue {
  public:
    static std::shared_ptr<const ZUDAValue> initWithValueType(int64_t valueType, Value value);
    std::string className() const override { return "ZUDAValue"; }

  private:
    using ZDMValue::ZDMValue;
};
