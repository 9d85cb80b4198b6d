#pragma once
// Building and reading event parameters in tests: measurement values from plain ones and back.
#include <memory>
#include <ostream>
#include <string>

#include "measurement/foundation/ZDMDescription.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/foundation/Value.h"

inline Value measurementValue(const Value& plain) {
    return Value(std::shared_ptr<const Object>(ZDMValue::valueFromObject(plain, true)));
}

Dictionary plainParameters(const Dictionary& parameters);

// The plain value behind a measurement value, recursively through arrays of item dictionaries.
inline Value plainValue(const Value& value) {
    auto measurement = value.objectAs<ZDMValue>();
    const Value& inner = measurement ? measurement->value() : value;
    if (const Value::Array* array = inner.asArray()) {
        Value::Array items;
        for (const auto& item : *array)
            items.push_back(item.asDictionary() ? Value(plainParameters(*item.asDictionary()))
                                                : plainValue(item));
        return Value(std::move(items));
    }
    return inner;
}

inline Dictionary plainParameters(const Dictionary& parameters) {
    Dictionary out;
    for (const auto& [key, value] : parameters) out.set(key, plainValue(value));
    return out;
}

inline std::string repeated(const std::string& piece, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += piece;
    return out;
}

// Readable failures: gtest prints parameter dictionaries as text.
inline void PrintTo(const Dictionary& parameters, std::ostream* out) {
    *out << ZDMDescription(Value(plainParameters(parameters)));
}
