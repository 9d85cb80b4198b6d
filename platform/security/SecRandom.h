#pragma once
// Bytes from the system's cryptographically secure random source.
#include <cstddef>

#include "platform/security/SecItem.h"

using SecRandomRef = const void*;
inline constexpr SecRandomRef kSecRandomDefault = nullptr;

// errSecSuccess, or a failure status when the source could not deliver.
int SecRandomCopyBytes(SecRandomRef rnd, size_t count, void* bytes);
