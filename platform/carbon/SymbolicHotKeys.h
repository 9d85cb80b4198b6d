#pragma once
// The system-wide keyboard shortcuts the user can change in the keyboard settings, as the system
// lists them: one dictionary per shortcut with kHISymbolicHotKeyEnabled (bool),
// kHISymbolicHotKeyCode (virtual key code) and kHISymbolicHotKeyModifiers (Carbon modifier bits).
#include <vector>

#include "platform/carbon/MacTypes.h"
#include "platform/foundation/Value.h"

inline constexpr const char* kHISymbolicHotKeyEnabled = "kHISymbolicHotKeyEnabled";
inline constexpr const char* kHISymbolicHotKeyCode = "kHISymbolicHotKeyCode";
inline constexpr const char* kHISymbolicHotKeyModifiers = "kHISymbolicHotKeyModifiers";

// Fills `hotKeys` with the list on noErr; leaves it untouched on any other status.
OSStatus CopySymbolicHotKeys(std::vector<Value>* hotKeys);
