#pragma once
// Shortcuts as the text system's key-binding keys: markers "^" Control, "~" Option, "$" Shift,
// "@" Command and "#" keypad, then one key character (an uppercase one also means Shift).
#include <memory>

#include "platform/foundation/NSValueTransformer.h"

class KRKeyBindingTransformer : public NSValueTransformer {
  public:
    static std::shared_ptr<KRKeyBindingTransformer> sharedTransformer();

    // A key-binding string to a std::shared_ptr<KRShortcut>; nil for anything else.
    AnyObject transformedValue(const AnyObject& value) const override;
    // A KRShortcut or its dictionary form to the key-binding string; nil when it has no key.
    AnyObject reverseTransformedValue(const AnyObject& value) const override;
    bool allowsReverseTransformation() const override { return true; }
};
