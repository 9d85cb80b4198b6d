#pragma once
// Which recorded combinations make a usable shortcut: one with ⌘ or ⌃, a function key alone, and,
// when allowed, one whose only modifiers are ⌥ (with or without ⇧).
#include "platform/masshortcut/MASShortcut.h"

class MASShortcutValidator {
  public:
    bool allowAnyShortcutWithOptionModifier() const { return allowOption_; }
    void setAllowAnyShortcutWithOptionModifier(bool allow) { allowOption_ = allow; }

    bool isShortcutValid(const MASShortcut& shortcut) const;

  private:
    bool allowOption_ = false;
};
