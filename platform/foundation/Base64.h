#pragma once
// Standard Base64 (RFC 4648 alphabet with padding, no line breaks).
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Data.h"

std::string base64Encode(const Data& data);
// Strict decoding: nullopt on any character outside the alphabet or on bad padding.
std::optional<Data> base64Decode(std::string_view text);
// Lenient decoding: characters outside the alphabet (line breaks, spaces, junk) are skipped.
Data base64DecodeIgnoringUnknown(std::string_view text);
