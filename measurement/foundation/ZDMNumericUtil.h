#pragma once
// Checking and exactly parsing decimal-number texts, and random 64-bit integers.
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/foundation/DecimalNumber.h"

// An optional sign, then digits with an optional trailing point, or optional digits, a point and
// at least one digit. No exponent, grouping or spaces.
bool ZDMIsDecimalNumberString(std::string_view text);
// The exact number of a text that passes the check; nullopt (logged) for any other text and for
// one whose digits the decimal type cannot hold exactly.
std::optional<DecimalNumber> ZDMDecimalNumberFromString(std::string_view text);
// Seconds to whole milliseconds, truncated toward zero; a time no int64 holds (or NaN) is clamped
// rather than converted with undefined behaviour.
int64_t ZDMMillisecondsFromSeconds(double seconds);

class ZDMNumericUtil {
  public:
    // From the system's secure random source. When that fails it logs and answers what the source
    // left in the zeroed buffer.
    static int64_t randomInt64();
};
