#include "DudIzizoz/Internals/Model/DIZTypedProperty.h"

#include "DudIzizoz/Internals/Util/DIZUtility.h"

std::optional<Dictionary> DIZTypedProperty::serializeToDictionary() const {
    Dictionary dictionary;
    DIZSetIfPresent(dictionary, "type", type_);
    DIZSetIfPresent(dictionary, "name", name_);
    return dictionary;
}

bool DIZTypedProperty::isEqual(const DIZTypedProperty& other) const {
    return type_ == other.type_;
}

void DIZTypedProperty::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(DIZArchived(type_), "type");
    coder.encodeObject(DIZArchived(name_), "name");
}

bool DIZTypedProperty::initWithCoder(KeyedUnarchiver& coder) {
    type_ = coder.decodeString("type");
    name_ = coder.decodeString("name");
    return true;
}

// Each kind: the base's part plus "value", written and compared as the kind demands.
#define DIZ_TYPED_PROPERTY_COMMON(Class)                                                      \
    bool Class::isEqual(const DIZTypedProperty& other) const {                                \
        const auto* same = dynamic_cast<const Class*>(&other);                                \
        return same && DIZTypedProperty::isEqual(other) && valuesEqual(value_, same->value_); \
    }                                                                                         \
    std::optional<Dictionary> Class::serializeToDictionary() const {                          \
        auto dictionary = DIZTypedProperty::serializeToDictionary();                          \
        if (auto json = jsonValue(value_)) dictionary->set("value", std::move(*json));        \
        return dictionary;                                                                    \
    }                                                                                         \
    bool Class::initWithCoder(KeyedUnarchiver& coder) {                                       \
        if (!DIZTypedProperty::initWithCoder(coder)) return false;                            \
        decodeValue(coder, value_);                                                           \
        return true;                                                                          \
    }                                                                                         \
    void Class::encodeWithCoder(KeyedArchiver& coder) const {                                 \
        DIZTypedProperty::encodeWithCoder(coder);                                             \
        encodeValue(coder, value_);                                                           \
    }

namespace {
constexpr const char* kValueKey = "value";

template <class T>
bool valuesEqual(const T& a, const T& b) {
    return a == b;  // for doubles a NaN compares unequal to everything, itself included
}

std::optional<Value> jsonValue(const std::optional<std::string>& v) {
    return v ? std::optional<Value>(*v) : std::nullopt;
}
std::optional<Value> jsonValue(int64_t v) {
    return Value(v);
}
std::optional<Value> jsonValue(double v) {
    return Value(v);
}
std::optional<Value> jsonValue(bool v) {
    return Value(v);
}
std::optional<Value> jsonValue(const std::optional<Date>& v) {
    return v ? std::optional<Value>(DIZUtility::dateToISO8601(*v)) : std::nullopt;
}

void encodeValue(KeyedArchiver& c, const std::optional<std::string>& v) {
    c.encodeObject(DIZArchived(v), kValueKey);
}
void encodeValue(KeyedArchiver& c, int64_t v) {
    c.encodeInt64(v, kValueKey);
}
void encodeValue(KeyedArchiver& c, double v) {
    c.encodeDouble(v, kValueKey);
}
void encodeValue(KeyedArchiver& c, bool v) {
    c.encodeBool(v, kValueKey);
}
void encodeValue(KeyedArchiver& c, const std::optional<Date>& v) {
    c.encodeObject(DIZArchived(v), kValueKey);
}

void decodeValue(KeyedUnarchiver& c, std::optional<std::string>& v) {
    v = c.decodeString(kValueKey);
}
void decodeValue(KeyedUnarchiver& c, int64_t& v) {
    v = c.decodeInt64(kValueKey);
}
void decodeValue(KeyedUnarchiver& c, double& v) {
    v = c.decodeDouble(kValueKey);
}
void decodeValue(KeyedUnarchiver& c, bool& v) {
    v = c.decodeBool(kValueKey);
}
void decodeValue(KeyedUnarchiver& c, std::optional<Date>& v) {
    v = c.decodeDate(kValueKey);
}
}  // namespace

DIZ_TYPED_PROPERTY_COMMON(DIZStringTypedProperty)
DIZ_TYPED_PROPERTY_COMMON(DIZLongTypedProperty)
DIZ_TYPED_PROPERTY_COMMON(DIZDoubleTypedProperty)
DIZ_TYPED_PROPERTY_COMMON(DIZBooleanTypedProperty)
DIZ_TYPED_PROPERTY_COMMON(DIZDateTimeTypedProperty)
