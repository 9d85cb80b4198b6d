#pragma once
// The resize modifier: the modifier flags that, added to a space's shortcut, make its resize hotkey.
// Coded as a property list under the one key "key", written only when a flag set is present.
#include <optional>

#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/foundation/Value.h"

class ModifierFlag {
  public:
    static constexpr const char* kKey = "key";

    explicit ModifierFlag(std::optional<NSEventModifierFlags> key) : key_(key) {}

    std::optional<NSEventModifierFlags> key() const { return key_; }

    Value encode() const;
    // None unless the value is a keyed container whose "key", when present, is a flag set.
    static std::optional<ModifierFlag> decode(const Value& value);

  private:
    std::optional<NSEventModifierFlags> key_;
};
