#include "platform/masshortcut/MASShortcutValidator.h"

#include <algorithm>

namespace {
// F1 to F20 on a US keyboard.
constexpr int64_t kFunctionKeys[] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                     103, 111, 105, 107, 113, 106, 64, 79,  80,  90};
}  // namespace

bool MASShortcutValidator::isShortcutValid(const MASShortcut& shortcut) const {
    NSEventModifierFlags flags = shortcut.modifierFlags();
    if (flags & (NSEventModifierFlagCommand | NSEventModifierFlagControl)) return true;
    if (allowOption_ && (flags & NSEventModifierFlagOption)) return true;
    bool functionKey = std::find(std::begin(kFunctionKeys), std::end(kFunctionKeys), shortcut.keyCode()) !=
                       std::end(kFunctionKeys);
    return functionKey && !(flags & NSEventModifierFlagOption);
}
