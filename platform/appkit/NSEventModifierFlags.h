#pragma once
// Modifier-flag bits of key events, with the platform's raw values.
#include <cstdint>

using NSEventModifierFlags = uint64_t;

inline constexpr NSEventModifierFlags NSEventModifierFlagCapsLock = 1ull << 16;
inline constexpr NSEventModifierFlags NSEventModifierFlagShift = 1ull << 17;
inline constexpr NSEventModifierFlags NSEventModifierFlagControl = 1ull << 18;
inline constexpr NSEventModifierFlags NSEventModifierFlagOption = 1ull << 19;
inline constexpr NSEventModifierFlags NSEventModifierFlagCommand = 1ull << 20;
inline constexpr NSEventModifierFlags NSEventModifierFlagNumericPad = 1ull << 21;
inline constexpr NSEventModifierFlags NSEventModifierFlagHelp = 1ull << 22;
inline constexpr NSEventModifierFlags NSEventModifierFlagFunction = 1ull << 23;
inline constexpr NSEventModifierFlags NSEventModifierFlagDeviceIndependentFlagsMask = 0xffff0000ull;
