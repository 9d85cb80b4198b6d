#include "measurement/foundation/ZDMNumericUtil.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <system_error>

#include "measurement/foundation/ZDMMonitor.h"
#include "platform/security/SecRandom.h"

namespace {
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

size_t skipDigits(std::string_view text, size_t at) {
    while (at < text.size() && isDigit(text[at])) ++at;
    return at;
}
}  // namespace

// A linear scan rather than a regular expression: the texts come from servers and callers, and a
// backtracking matcher recurses on long input.
bool ZDMIsDecimalNumberString(std::string_view text) {
    size_t at = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    const size_t integerEnd = skipDigits(text, at);
    const bool integerDigits = integerEnd > at;
    at = integerEnd;
    if (at == text.size()) return integerDigits;
    if (text[at] != '.') return false;
    const size_t fractionEnd = skipDigits(text, at + 1);
    const bool fractionDigits = fractionEnd > at + 1;
    return fractionEnd == text.size() && (integerDigits || fractionDigits);
}

std::optional<DecimalNumber> ZDMDecimalNumberFromString(std::string_view text) {
    auto monitor = ZDMMonitor::sharedMonitor();
    if (!ZDMIsDecimalNumberString(text)) {
        monitor->logWithLevel(2, 26001, "String value does not represent a numeric value. Value",
                              std::string(text));
        return std::nullopt;
    }
    const auto number = DecimalNumber::fromString(text);
    if (!number) {
        monitor->logWithLevel(2, 26002, "Unable to create a NSDecimalNumber from string value. Value",
                              std::string(text));
        return std::nullopt;
    }
    // A parse that dropped digits renders differently from the text; ".5" renders as "0.5", so the
    // text is read with the zero the rendering has.
    const size_t point = text.find('.');
    const bool bareFraction = point == 0 || (point == 1 && !isDigit(text[0]));
    const std::string compared =
        bareFraction ? std::string(text.substr(0, point)) + "0" + std::string(text.substr(point))
                     : std::string(text);
    if (compared.find(number->absoluteValue().stringValue()) == std::string::npos) {
        monitor->logWithLevel(
            2, 26003, "Unable to create a NSDecimalNumber from string value: loss of precision. Value",
            std::string(text));
        return std::nullopt;
    }
    return number;
}

int64_t ZDMNumericUtil::randomInt64() {
    int64_t value = 0;
    if (SecRandomCopyBytes(kSecRandomDefault, sizeof value, &value) != errSecSuccess) {
        const int error = errno;
        ZDMMonitor::sharedMonitor()->logWithLevel(5, 26004, "Unable to generate random integer",
                                                  std::generic_category().message(error));
    }
    return value;
}

int64_t ZDMMillisecondsFromSeconds(double seconds) {
    const double millis = seconds * 1000.0;
    if (std::isnan(millis)) return 0;
    if (millis >= 9.2233720368547758e18) return INT64_MAX;
    if (millis <= -9.2233720368547758e18) return INT64_MIN;
    return static_cast<int64_t>(millis);
}
