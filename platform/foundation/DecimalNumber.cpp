#include "platform/foundation/DecimalNumber.h"

#include <charconv>
#include <cstdint>

namespace {
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

std::optional<DecimalNumber> DecimalNumber::fromString(std::string_view text) {
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    DecimalNumber number;
    int significantDigits = 0;
    int64_t exponent = 0;  // wide: a long text must not overflow it before the range check
    bool anyDigit = false, seenPoint = false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '.' && !seenPoint) {
            seenPoint = true;
            continue;
        }
        if (!isDigit(c)) return std::nullopt;
        anyDigit = true;
        if (significantDigits == 0 && c == '0') {
            if (seenPoint) --exponent;
            continue;
        }
        if (significantDigits < kMaxDigits) {
            number.mantissa_ = number.mantissa_ * 10 + static_cast<unsigned>(c - '0');
            ++significantDigits;
            if (seenPoint) --exponent;
        } else if (!seenPoint) {
            ++exponent;  // an integer digit that does not fit still scales the value
        }
    }
    if (!anyDigit) return std::nullopt;
    if (number.mantissa_ == 0) return DecimalNumber();
    while (number.mantissa_ % 10 == 0) {
        number.mantissa_ /= 10;
        ++exponent;
    }
    if (exponent < kMinExponent || exponent > kMaxExponent) return std::nullopt;
    number.exponent_ = static_cast<int>(exponent);
    number.negative_ = negative;
    return number;
}

DecimalNumber DecimalNumber::absoluteValue() const {
    DecimalNumber copy = *this;
    copy.negative_ = false;
    return copy;
}

std::string DecimalNumber::stringValue() const {
    std::string digits;
    for (auto m = mantissa_; m != 0; m /= 10)
        digits.insert(digits.begin(), static_cast<char>('0' + int(m % 10)));
    if (digits.empty()) return "0";
    std::string out = negative_ ? "-" : "";
    if (exponent_ >= 0) return out + digits + std::string(static_cast<size_t>(exponent_), '0');
    const size_t fraction = static_cast<size_t>(-exponent_);
    if (fraction >= digits.size()) return out + "0." + std::string(fraction - digits.size(), '0') + digits;
    return out + digits.substr(0, digits.size() - fraction) + "." + digits.substr(digits.size() - fraction);
}

double DecimalNumber::doubleValue() const {
    const std::string text = stringValue();
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::optional<int64_t> DecimalNumber::int64ByMultiplyingBy(int64_t factor) const {
    const bool negative = negative_ != (factor < 0);
    const auto magnitude =
        static_cast<unsigned __int128>(factor < 0 ? -static_cast<__int128>(factor) : factor);
    unsigned __int128 product = 0;
    if (__builtin_mul_overflow(mantissa_, magnitude, &product)) return std::nullopt;
    for (int e = exponent_; e > 0; --e)
        if (__builtin_mul_overflow(product, 10, &product)) return std::nullopt;
    for (int e = exponent_; e < 0 && product != 0; ++e) product /= 10;
    const auto limit = static_cast<unsigned __int128>(INT64_MAX) + (negative ? 1 : 0);
    if (product > limit) return std::nullopt;
    return negative ? static_cast<int64_t>(-static_cast<__int128>(product)) : static_cast<int64_t>(product);
}
