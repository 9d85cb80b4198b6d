#pragma once
// Property lists of Values: binary (the default written form) and XML, read in either form.
// PropertyListEncoder/Decoder are the typed wrappers that small coded types use.
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace plist {
enum class Format { Binary, XML };
// nullopt with an Error when the value holds what a property list cannot (null).
std::optional<Data> write(const Value& value, Format format = Format::Binary, Error* error = nullptr);
// nullopt with an Error on anything that is not a well-formed property list.
std::optional<Value> read(const Data& data, Error* error = nullptr);
}  // namespace plist

// A type coded as a property list writes itself to a Value and reads itself back from one.
// T needs `Value encode() const` and `static std::optional<T> decode(const Value&)`.
struct PropertyListEncoder {
    template <class T>
    std::optional<Data> encode(const T& object, Error* error = nullptr) const {
        return plist::write(object.encode(), plist::Format::Binary, error);
    }
};

struct PropertyListDecoder {
    template <class T>
    std::optional<T> decode(const Data& data, Error* error = nullptr) const {
        auto value = plist::read(data, error);
        if (!value) return std::nullopt;
        auto object = T::decode(*value);
        if (!object)
            setError(error, Error(kFoundationErrorDomain, 4864, "The data isn't in the correct format."));
        return object;
    }
};
