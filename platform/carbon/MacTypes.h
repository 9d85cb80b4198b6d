#pragma once
// Result codes shared by the Carbon interfaces.
#include <cstdint>

using OSStatus = int32_t;
inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus paramErr = -50;
inline constexpr OSStatus procNotFound = -600;
