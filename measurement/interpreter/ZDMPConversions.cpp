#include "measurement/interpreter/ZDMPConversions.h"

#include <unicode/uchar.h>
#include <unicode/unorm.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "measurement/interpreter/ZDMPRuntimeValue.h"
#include "platform/foundation/UnicodeText.h"

namespace {

std::u16string widened(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// "1.5e-07" → "1.5e-7", "1e+21" stays: the exponent without leading zeros.
std::string withShortExponent(std::string text) {
    const size_t e = text.find('e');
    if (e == std::string::npos || e + 2 > text.size()) return text;
    size_t digits = e + 2;
    size_t firstNonZero = digits;
    while (firstNonZero + 1 < text.size() && text[firstNonZero] == '0') ++firstNonZero;
    text.erase(digits, firstNonZero - digits);
    return text;
}

// The length of the decimal number at the start of `text` (sign, digits with an optional fraction,
// optional exponent), 0 when there is none. Only ASCII is accepted, so no other numeral form slips
// through.
size_t scanDecimal(std::u16string_view text) {
    size_t i = 0;
    auto digitsFrom = [&](size_t at) {
        size_t end = at;
        while (end < text.size() && text[end] >= u'0' && text[end] <= u'9') ++end;
        return end - at;
    };
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
    const size_t whole = digitsFrom(i);
    i += whole;
    size_t fraction = 0;
    if (i < text.size() && text[i] == u'.') {
        fraction = digitsFrom(i + 1);
        i += 1 + fraction;
    }
    if (whole == 0 && fraction == 0) return 0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) ++j;
        const size_t exponent = digitsFrom(j);
        if (exponent > 0) i = j + exponent;
    }
    return i;
}

// A decimal text from_chars refused as out of range: infinite when it has more integer digits than
// fraction zeros, else zero.
double outOfRange(const std::string& text) {
    const bool negative = text[0] == '-';
    size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    long magnitude = 0;
    bool seenNonZero = false;
    bool inFraction = false;
    for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
        if (text[i] == '.') {
            inFraction = true;
        } else if (text[i] != '0' || seenNonZero) {
            if (!seenNonZero && inFraction) break;
            seenNonZero = true;
            if (!inFraction) ++magnitude;
        } else if (inFraction) {
            --magnitude;
        }
    }
    const size_t e = text.find_first_of("eE");
    if (e != std::string::npos) {
        long exponent = 0;
        std::from_chars(text.data() + e + 1 + (text[e + 1] == '+'), text.data() + text.size(), exponent);
        magnitude += exponent;
    }
    const double value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

}  // namespace

std::u16string ZDMPNumberToText(double x) {
    if (std::isnan(x)) return u"NaN";
    if (std::isinf(x)) return x > 0 ? u"Infinity" : u"-Infinity";
    if (x == 0) return u"0";
    char buffer[400];
    const double magnitude = std::fabs(x);
    const auto format =
        magnitude >= 1e21 || magnitude < 1e-6 ? std::chars_format::scientific : std::chars_format::fixed;
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, x, format);
    std::string text(buffer, result.ptr);
    if (format == std::chars_format::scientific) return widened(withShortExponent(std::move(text)));
    if (magnitude >= 1e16) {
        // Fixed notation spells out every digit of the binary value (123456789012345683968); the
        // shortest digits that read back as the same number, padded with zeros, are what is wanted.
        const auto shortest = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::scientific);
        const std::string scientific(buffer, shortest.ptr);
        const size_t e = scientific.find('e');
        std::string digits;
        for (char c : scientific.substr(0, e)) {
            if (c != '.') digits += c;
        }
        const int exponent = std::stoi(scientific.substr(e + 1));
        const size_t sign = x < 0 ? 1 : 0;
        if (exponent + 1 + sign >= digits.size())
            text = digits + std::string(exponent + 1 + sign - digits.size(), '0');
    }
    return widened(text);
}

double ZDMPTextToNumber(std::u16string_view text) {
    const std::u16string_view trimmed = ZDMPTrimWhiteSpace(text);
    if (trimmed.empty()) return 0;
    if (trimmed == u"NaN") return std::numeric_limits<double>::quiet_NaN();
    if (trimmed == u"Infinity") return std::numeric_limits<double>::infinity();
    if (trimmed == u"-Infinity") return -std::numeric_limits<double>::infinity();
    if (scanDecimal(trimmed) != trimmed.size()) return std::numeric_limits<double>::quiet_NaN();
    std::string ascii(trimmed.begin(), trimmed.end());
    const size_t start = ascii[0] == '+' ? 1 : 0;
    double value = 0;
    const auto result = std::from_chars(ascii.data() + start, ascii.data() + ascii.size(), value);
    if (result.ec == std::errc::result_out_of_range) return outOfRange(ascii);
    return value;
}

int32_t ZDMPToInt32(double x) {
    if (!std::isfinite(x)) return 0;
    double r = std::fmod(std::trunc(x), 4294967296.0);
    if (r > 2147483647.0) r -= 4294967296.0;
    if (r < -2147483648.0) r += 4294967296.0;
    return static_cast<int32_t>(r);
}

uint32_t ZDMPToUint32(double x) {
    return static_cast<uint32_t>(ZDMPToInt32(x));
}

double ZDMPIntegerPart(double x) {
    if (std::isnan(x)) return 0;
    if (std::isinf(x) || x == 0) return x;
    return std::trunc(x);
}

bool ZDMPIsArrayIndex(const ZDMPRuntimeValue& value, double* index) {
    if (value.kind() != ZDMPValueKind::number && value.kind() != ZDMPValueKind::string) return false;
    Error error;
    const double number = value.doubleValueOrError(&error);
    if (ZDMPFailed(error) || !std::isfinite(number) || number < 0 || std::trunc(number) != number)
        return false;
    if (index) *index = number + 0.0;
    return true;
}

bool ZDMPIsWhiteSpace(char16_t unit) {
    return u_isUWhiteSpace(unit);
}

std::u16string_view ZDMPTrimWhiteSpace(std::u16string_view text) {
    while (!text.empty() && ZDMPIsWhiteSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && ZDMPIsWhiteSpace(text.back())) text.remove_suffix(1);
    return text;
}

int ZDMPCompareTexts(std::u16string_view a, std::u16string_view b) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t order =
        unorm_compare(reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                      reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()), 0, &status);
    if (U_FAILURE(status)) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::u16string ZDMPUtf16(std::string_view utf8) {
    return utf16String(utf8);
}

std::string ZDMPUtf8(std::u16string_view utf16) {
    return utf8String(utf16);
}

int64_t ZDMPInt64Part(double x) {
    if (std::isnan(x)) return 0;
    // 2^63 is exactly representable; every double below it in magnitude converts without overflow.
    constexpr double kLimit = 9223372036854775808.0;
    if (x >= kLimit) return std::numeric_limits<int64_t>::max();
    if (x < -kLimit) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(x);
}
