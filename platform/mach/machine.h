#pragma once
// Processor types as the kernel numbers them, for code that picks a register layout by them.
#include <cstdint>

using cpu_type_t = int32_t;

inline constexpr cpu_type_t CPU_ARCH_ABI64 = 0x01000000;
inline constexpr cpu_type_t CPU_TYPE_X86 = 7;
inline constexpr cpu_type_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
inline constexpr cpu_type_t CPU_TYPE_ARM = 12;
inline constexpr cpu_type_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
