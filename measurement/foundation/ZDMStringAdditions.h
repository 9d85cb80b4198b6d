#pragma once
// Text operations of the measurement library on UTF-8 text, counting in Unicode scalar values
// (UTF-32 units) where they count.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// 32 lower-case hex digits of the MD5 digest of the text's UTF-8 bytes; nullopt when the text is
// not valid UTF-8 (it could not be converted without loss).
std::optional<std::string> zdm_MD5String(std::string_view text);
// "+" read as a space, then percent-decoded; nullopt for a malformed escape or decoded bytes that
// are not valid UTF-8.
std::optional<std::string> zdm_stringByUnescapingFromURLArgument(std::string_view text);
// Unicode scalar values; a byte that starts no well-formed sequence counts as one.
size_t zdm_UTF32Length(std::string_view text);
// Writes the text as UTF-32 little-endian, whole scalar values only, at most `maxBytes` bytes;
// no terminator.
void zdm_getUTF32Bytes(std::string_view text, void* buffer, size_t maxBytes);
