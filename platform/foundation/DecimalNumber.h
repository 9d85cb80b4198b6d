#pragma once
// An exact base-10 number, as the platform's decimal number type holds it: a mantissa of at most 38
// decimal digits and an exponent from -128 to 127. Digits beyond the 38th are dropped on parsing,
// which the caller can detect by comparing the rendering with the text it came from.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class DecimalNumber {
  public:
    static constexpr int kMaxDigits = 38;
    static constexpr int kMinExponent = -128;
    static constexpr int kMaxExponent = 127;

    DecimalNumber() = default;
    // Plain decimal text with "." as the separator whatever the locale: an optional sign, digits,
    // an optional point and fraction (at least one digit in all). nullopt for anything else, and
    // when the value's exponent falls outside the range.
    static std::optional<DecimalNumber> fromString(std::string_view text);

    bool isNegative() const { return negative_; }
    DecimalNumber absoluteValue() const;
    // Canonical plain form: no exponent, no leading zeros, no trailing zeros after the point,
    // "-" for a negative number; zero is "0".
    std::string stringValue() const;
    double doubleValue() const;
    // This number times `factor`, truncated toward zero, computed exactly (money in micro-units
    // must not lose the cent a double would); nullopt when it does not fit 64 bits or the exact
    // product exceeds 128 bits on the way.
    std::optional<int64_t> int64ByMultiplyingBy(int64_t factor) const;
    bool operator==(const DecimalNumber&) const = default;

  private:
    unsigned __int128 mantissa_ = 0;  // no trailing decimal zeros, so every value has one form
    int exponent_ = 0;
    bool negative_ = false;
};
