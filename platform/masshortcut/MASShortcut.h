#pragma once
// A keyboard shortcut: a virtual key code and modifier flags. Two shortcuts with the same key code
// and flags are equal. Archived by key ("KeyCode", "ModifierFlags") with secure coding.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/foundation/KeyedArchiver.h"

class MASShortcut : public Codable {
  public:
    static constexpr const char* kClassName = "MASShortcut";
    // What unarchiving needs to make shortcuts.
    static ArchiveClass archiveClass();

    MASShortcut(int64_t keyCode, NSEventModifierFlags modifierFlags);
    static std::shared_ptr<MASShortcut> shortcutWithKeyCode(int64_t keyCode,
                                                            NSEventModifierFlags modifierFlags) {
        return std::make_shared<MASShortcut>(keyCode, modifierFlags);
    }

    int64_t keyCode() const { return keyCode_; }
    NSEventModifierFlags modifierFlags() const { return modifierFlags_; }
    // The modifier symbols in the platform's order (⌃⌥⇧⌘) followed by the key, e.g. "⇧⌘1".
    std::string description() const;
    std::string modifierFlagsString() const;
    // The key's text on a US keyboard ("1", "A", "F5", "↩"); empty for a key code it does not know.
    std::string keyCodeString() const;

    bool isEqual(const MASShortcut& other) const {
        return keyCode_ == other.keyCode_ && modifierFlags_ == other.modifierFlags_;
    }
    bool operator==(const MASShortcut& other) const { return isEqual(other); }

    std::string archiveClassName() const override { return kClassName; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    MASShortcut() = default;
    int64_t keyCode_ = 0;
    NSEventModifierFlags modifierFlags_ = 0;
};
