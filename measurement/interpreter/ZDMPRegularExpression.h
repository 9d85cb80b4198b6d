#pragma once
// Server-sent patterns compiled with the platform's regular-expression syntax and no options, under
// a time and a stack limit, so that a pattern with catastrophic backtracking fails instead of
// stalling the worker queue.
#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/foundation/Error.h"

// Errors of the regular-expression engine: the code is the engine's status, the description its name.
inline constexpr const char* kZDMPRegularExpressionErrorDomain = "ICURegularExpressionErrorDomain";

struct ZDMPRegularExpressionMatch {
    size_t location;
    size_t length;
};

// The first match of `pattern` in the whole of `text`: nullopt when there is none, or when the pattern
// does not compile or the match passes a limit (then with the engine's error).
std::optional<ZDMPRegularExpressionMatch> ZDMPFirstRegularExpressionMatch(std::u16string_view pattern,
                                                                          std::u16string_view text,
                                                                          Error* error);
