#pragma once
// One dynamically typed value for JSON, property lists and dictionaries of mixed values
// (the design's NSNumber, NSString, NSData, NSDate, NSArray and NSDictionary), and a reference to
// any other object the design passes around as `id` (an error, an exception, a library's own value
// class). Dictionaries keep their keys in insertion order.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Object.h"

class Value;

// An insertion-ordered string-keyed map. Lookup and insertion take constant time on average, so
// building or reading a dictionary of n keys costs O(n) however large it grows.
class Dictionary {
  public:
    using Entry = std::pair<std::string, Value>;
    Dictionary() = default;
    Dictionary(std::initializer_list<Entry> entries);

    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    // Sets or replaces; a new key goes to the end.
    void set(std::string key, Value value);
    Value& operator[](std::string_view key);
    // A null Value when absent.
    const Value& operator[](std::string_view key) const;
    bool erase(std::string_view key);
    // Defined below Value: their bodies need Value complete.
    size_t size() const;
    bool empty() const;
    std::vector<std::string> keys() const;
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;
    bool operator==(const Dictionary& other) const;

  private:
    struct KeyHash {
        using is_transparent = void;
        size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
    };
    // Most dictionaries hold a handful of keys, where a scan beats hashing and an index would
    // only cost memory and copies; from this size on every key is indexed by its position.
    static constexpr size_t kIndexedFrom = 16;

    const Entry* entry(std::string_view key) const;
    Value& append(std::string key, Value value);

    std::vector<Entry> entries_;
    // Empty while the dictionary is small; otherwise holds every key.
    std::unordered_map<std::string, size_t, KeyHash, std::equal_to<>> index_;
};

class Value {
  public:
    enum class Type { Null, Bool, Integer, Real, String, Data, Date, Array, Dictionary, Object };
    using ObjectPtr = std::shared_ptr<const ::Object>;
    using Array = std::vector<Value>;

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(int64_t{i}) {}
    Value(unsigned i) : v_(int64_t{i}) {}
    Value(long i) : v_(int64_t(i)) {}
    Value(long long i) : v_(int64_t(i)) {}
    Value(unsigned long i) : v_(int64_t(i)) {}
    Value(unsigned long long i) : v_(int64_t(i)) {}
    Value(double d) : v_(d) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(::Data d) : v_(std::move(d)) {}
    Value(::Date d) : v_(d) {}
    Value(Array a) : v_(std::move(a)) {}
    Value(::Dictionary d) : v_(std::move(d)) {}
    // A null pointer makes a null Value.
    Value(ObjectPtr o) {
        if (o) v_ = std::move(o);
    }

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isReal() const { return type() == Type::Real; }
    bool isNumber() const { return isInteger() || isReal() || isBool(); }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isObject() const { return type() == Type::Object; }

    // Typed reads: nullopt/nullptr when the value is of another type. Numbers convert among
    // bool, integer and real as NSNumber does.
    std::optional<bool> asBool() const;
    std::optional<int64_t> asInteger() const;
    std::optional<double> asReal() const;
    const std::string* asString() const { return std::get_if<std::string>(&v_); }
    const ::Data* asData() const { return std::get_if<::Data>(&v_); }
    std::optional<::Date> asDate() const;
    const Array* asArray() const { return std::get_if<Array>(&v_); }
    Array* asArray() { return std::get_if<Array>(&v_); }
    const ::Dictionary* asDictionary() const { return std::get_if<::Dictionary>(&v_); }
    ::Dictionary* asDictionary() { return std::get_if<::Dictionary>(&v_); }
    // The object, or nullptr when this holds none.
    std::shared_ptr<const ::Object> asObject() const;
    // The object when it is of class T.
    template <class T>
    std::shared_ptr<const T> objectAs() const {
        return std::dynamic_pointer_cast<const T>(asObject());
    }

    // Convenience with defaults, for reading settings.
    bool boolOr(bool fallback) const { return asBool().value_or(fallback); }
    int64_t integerOr(int64_t fallback) const { return asInteger().value_or(fallback); }
    double realOr(double fallback) const { return asReal().value_or(fallback); }
    std::string stringOr(std::string fallback) const { return asString() ? *asString() : fallback; }

    // Dictionary member access: a null Value when absent or when this is no dictionary.
    const Value& operator[](std::string_view key) const;

    bool operator==(const Value& other) const;

  private:
    std::variant<std::monostate, bool, int64_t, double, std::string, ::Data, ::Date, Array, ::Dictionary,
                 std::shared_ptr<const ::Object>>
        v_;
};

inline size_t Dictionary::size() const {
    return entries_.size();
}
inline bool Dictionary::empty() const {
    return entries_.empty();
}
inline std::vector<Dictionary::Entry>::const_iterator Dictionary::begin() const {
    return entries_.begin();
}
inline std::vector<Dictionary::Entry>::const_iterator Dictionary::end() const {
    return entries_.end();
}
