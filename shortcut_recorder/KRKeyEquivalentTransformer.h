#pragma once
// What a menu item needs of a shortcut: its key equivalent (the character the key types without
// modifiers on the ASCII-capable layout, or a function-key character) and its modifier mask. Both
// read a KRShortcut or its dictionary form ("keyCode", "modifierFlags").
#include <memory>

#include "platform/foundation/NSValueTransformer.h"

class KRKeyEquivalentTransformer : public NSValueTransformer {
  public:
    static std::shared_ptr<KRKeyEquivalentTransformer> sharedTransformer();

    // Nil unless "keyCode" is a number; "modifierFlags" counts as 0 unless it is one.
    AnyObject transformedValue(const AnyObject& value) const override;
    bool allowsReverseTransformation() const override { return false; }
};

class KRKeyEquivalentModifierMaskTransformer : public NSValueTransformer {
  public:
    static std::shared_ptr<KRKeyEquivalentModifierMaskTransformer> sharedTransformer();

    // "modifierFlags" when it is a number, else nil.
    AnyObject transformedValue(const AnyObject& value) const override;
    bool allowsReverseTransformation() const override { return false; }
};
