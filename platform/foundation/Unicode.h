#pragma once
// UTF-8 text measured and cut the way the platform's strings count characters: in UTF-16 code
// units, one for a code point below U+10000 and two (a surrogate pair) above. A byte that starts no
// well-formed sequence counts as a character of its own, of one unit, so that text from outside is
// measured and cut without failing and without growing.
#include <cstddef>
#include <string>
#include <string_view>

// Byte length of the well-formed UTF-8 sequence at `offset`, or 0 when none starts there (a stray
// continuation byte, an overlong form, a surrogate, a code point beyond U+10FFFF, a truncated one).
size_t utf8SequenceLength(std::string_view text, size_t offset = 0);
bool isValidUtf8(std::string_view text);
// The code point at `offset`, moving `offset` past it; U+FFFD, one byte long, for a byte that starts
// no well-formed sequence. `offset` must be inside `text`.
char32_t decodeUtf8(std::string_view text, size_t& offset);
// Where the last character of `text` starts: its size when the text is empty.
size_t lastCharacterStart(std::string_view text);

size_t utf16Length(std::string_view text);
// The longest prefix of at most `units` UTF-16 code units that does not split a character.
std::string prefixOfUtf16Length(std::string_view text, size_t units);
