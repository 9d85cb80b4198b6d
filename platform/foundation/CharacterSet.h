#pragma once
// The platform's named character classes, decided by the Unicode general category of a code point.
#include <cstdint>

// A letter of any script and case, without combining marks: Lu, Ll, Lt, Lm and Lo.
bool isLetterCharacter(char32_t character);
// A decimal digit of any script: Nd.
bool isDecimalDigitCharacter(char32_t character);
