#pragma once
// Text operations that need the Unicode tables: case mapping without a locale (as the platform's
// lowercaseString does), walking text by user-perceived characters (composed character sequences),
// and UTF-16 ↔ UTF-8. Malformed input becomes U+FFFD instead of failing.
#include <string>
#include <string_view>
#include <vector>

std::string lowercaseString(std::string_view text);
std::string uppercaseString(std::string_view text);

// "e" + combining acute is one sequence, as is a surrogate pair or "?⃝".
std::vector<std::string> composedCharacterSequences(std::string_view text);

std::u16string utf16String(std::string_view text);
std::string utf8String(std::u16string_view text);
