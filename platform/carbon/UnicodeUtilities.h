#pragma once
// Keyboard-layout translation: what a key types on a layout, as UTF-16 units, for a key code and a
// modifier state. Layouts come from text input sources (TextInputSources.h).
#include <cstdint>

#include "platform/carbon/MacTypes.h"

using UniChar = uint16_t;
using UniCharCount = unsigned long;

// A keyboard layout's translation tables; only the text input sources hand them out.
struct UCKeyboardLayout;

enum : uint16_t {
    kUCKeyActionDown = 0,
    kUCKeyActionUp = 1,
    kUCKeyActionAutoKey = 2,
    kUCKeyActionDisplay = 3
};
enum : uint32_t { kUCKeyTranslateNoDeadKeysBit = 0 };

// Modifier state bits: the Carbon modifier bits shifted right by 8.
enum : uint32_t {
    kUCModifierCommand = 0x01,
    kUCModifierShift = 0x02,
    kUCModifierAlphaLock = 0x04,
    kUCModifierOption = 0x08,
    kUCModifierControl = 0x10,
};

// Writes at most `maxStringLength` units to `unicodeString` and their count to `actualStringLength`.
// A dead key (and no key of the layout) types nothing: count 0, and a dead key leaves a non-zero
// `deadKeyState`. A missing layout or output is paramErr.
OSStatus UCKeyTranslate(const UCKeyboardLayout* keyLayoutPtr, uint16_t virtualKeyCode, uint16_t keyAction,
                        uint32_t modifierKeyState, uint32_t keyboardType, uint32_t keyTranslateOptions,
                        uint32_t* deadKeyState, UniCharCount maxStringLength,
                        UniCharCount* actualStringLength, UniChar unicodeString[]);
