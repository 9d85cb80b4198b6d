#pragma once
// The built-in keyboard layouts behind the simulated text input sources: translation tables from a
// key code and a modifier layer to what the key types. Carbon-internal.
#include <map>
#include <memory>
#include <string>

#include "platform/carbon/UnicodeUtilities.h"

struct UCKeyboardLayout {
    struct Key {
        std::u16string base, shift, option, control;
        bool optionIsDeadKey = false;  // Option with this key starts an accent instead of typing
    };
    std::map<uint16_t, Key> keys;
};

namespace KeyboardLayouts {
// US ANSI: every key of a full keyboard, with its Shift, Option and Control layers.
std::shared_ptr<const UCKeyboardLayout> us();
// The US layout with the Y and Z keys swapped, as QWERTZ keyboards have them.
std::shared_ptr<const UCKeyboardLayout> qwertz();
// Greek letters on the letter keys: types no ASCII letters.
std::shared_ptr<const UCKeyboardLayout> greek();
}  // namespace KeyboardLayouts
