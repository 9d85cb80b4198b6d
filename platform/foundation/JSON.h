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
std::string write(const Value& value, Style style = Style::Compact);
// nullopt and an Error (domain kFoundationErrorDomain, code 3840 as the platform uses) on malformed text.
std::optional<Value> parse(std::string_view text, Error* error = nullptr);
}  // namespace json
