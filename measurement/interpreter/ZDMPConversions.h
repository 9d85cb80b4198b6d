#pragma once
// The conversions and text services every value class and evaluator shares: number ↔ text, the
// 32-bit and integer conversions, the array-index test, white space and text ordering.
#include <cstdint>
#include <string>
#include <string_view>

class ZDMPRuntimeValue;

// NaN, "Infinity", "-Infinity"; ±0 as "0"; |x| ≥ 1e21 or < 1e-6 in scientific form ("1e+21",
// "1.5e-7"); otherwise plain decimal without grouping. Digits are the shortest that read back as x.
std::u16string ZDMPNumberToText(double x);
// Trimmed of white space and line breaks: "" → 0; exactly "NaN", "Infinity", "-Infinity"; else one
// decimal number (sign, digits, fraction, exponent) that must make up the whole text, or NaN.
double ZDMPTextToNumber(std::u16string_view text);

// NaN and infinities → 0; else truncated, reduced modulo 2^32 and read as two's complement.
int32_t ZDMPToInt32(double x);
uint32_t ZDMPToUint32(double x);
// NaN → 0; infinities and zeros unchanged; else truncated toward zero.
double ZDMPIntegerPart(double x);
// The whole part as a 64-bit integer: infinities and values beyond the range give the nearest
// bound, NaN gives 0. A plain cast would be undefined for those.
int64_t ZDMPInt64Part(double x);
// A number or string whose number conversion is a finite whole number ≥ 0; `index` gets it.
bool ZDMPIsArrayIndex(const ZDMPRuntimeValue& value, double* index = nullptr);

// Unicode white space and line breaks.
bool ZDMPIsWhiteSpace(char16_t unit);
std::u16string_view ZDMPTrimWhiteSpace(std::u16string_view text);
// Case-sensitive, in UTF-16 unit order, canonically equivalent sequences equal: -1, 0 or 1.
int ZDMPCompareTexts(std::u16string_view a, std::u16string_view b);

std::u16string ZDMPUtf16(std::string_view utf8);
std::string ZDMPUtf8(std::u16string_view utf16);
