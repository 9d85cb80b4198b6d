#pragma once
// Helpers for the models' accessors, field comparison, JSON and archiving.
#include <memory>
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Util/DIZCoding.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/Value.h"

// `name()` and `setName(value)` over the member `name_`.
#define DIZ_PROPERTY(Type, name, Name) \
    const Type& name() const {         \
        return name##_;                \
    }                                  \
    void set##Name(Type value) {       \
        name##_ = std::move(value);    \
    }

// Two absent values are equal; an absent and a present one are not.
template <class T>
bool DIZEqualObjects(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    if (!a || !b) return !a && !b;
    return a->isEqual(*b);
}

inline void DIZSetIfPresent(Dictionary& dictionary, const char* key, const std::optional<std::string>& text) {
    if (text) dictionary.set(key, Value(*text));
}

inline void DIZSetIfPresent(Dictionary& dictionary, const char* key, const std::optional<int64_t>& number) {
    if (number) dictionary.set(key, Value(*number));
}

inline Archived DIZArchived(const std::optional<int64_t>& number) {
    return number ? Archived(Value(*number)) : Archived();
}

inline std::optional<int64_t> DIZDecodeNumber(KeyedUnarchiver& coder, std::string_view key) {
    Archived object = coder.decodeObject(key);
    return object.value() ? object.value()->asInteger() : std::nullopt;
}

// Logs, at verbose level, that `field` of an object of `className` keeps it from being valid.
void DIZLogInvalidField(const std::string& className, const char* field);
