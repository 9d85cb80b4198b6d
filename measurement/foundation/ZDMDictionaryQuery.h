#pragma once
// URL query texts to and from dictionaries.
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

// "key=value" pairs joined by "&", in the dictionary's order, each side its description
// percent-encoded for a query ("&" and "=" pass as they are, as callers' servers expect).
std::string zdm_queryString(const Dictionary& dictionary);
// Text keys to text values; the first occurrence of a repeated key wins, a piece without "=" has
// the empty value, and a side that does not unescape becomes the empty text.
Dictionary zdm_dictionaryWithHttpArgumentsString(std::string_view text);
