#pragma once
// Property-list files as configuration files are often written: besides binary and XML, the old
// text form of dictionaries { key = value; }, arrays ( a, b ), quoted and bare strings, with /* */
// and // comments. Its strings are all that the text form holds.
#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace plist {
// nullopt with an Error naming the line on anything that is not well formed.
std::optional<Value> readText(std::string_view text, Error* error = nullptr);
}  // namespace plist

// The dictionary a property-list file holds, in any of the three forms; nullopt with an Error when
// the file cannot be read or holds no dictionary.
std::optional<Dictionary> dictionaryWithContentsOfURL(const std::filesystem::path& url,
                                                      Error* error = nullptr);
