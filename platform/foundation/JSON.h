#pragma once
// JSON text of a Value and back. Dictionaries keep their key order; Data is written as Base64 and
// dates as Unix milliseconds, since JSON has neither.
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace json {
enum class Style { Compact, Pretty };
// An object held in the value (which JSON has no form for) is written as null.
std::string write(const Value& value, Style style = Style::Compact);
// The same, refusing a value that holds an object: nullopt and an Error (code kJSONWriteInvalidError).
std::optional<std::string> write(const Value& value, Style style, Error* error);
inline constexpr int64_t kJSONWriteInvalidError = 3852;
// nullopt and an Error (domain kFoundationErrorDomain, code 3840 as the platform uses) on malformed text.
std::optional<Value> parse(std::string_view text, Error* error = nullptr);
}  // namespace json
