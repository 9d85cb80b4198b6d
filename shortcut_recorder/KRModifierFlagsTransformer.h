#pragma once
// Modifier flags as words ("Control-Shift-Command", localized) or glyphs ("⌃⇧⌘"), always in the
// order Control, Option, Shift, Command, reversed for a right-to-left interface. Only the glyphs
// parse back.
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/NSUserInterfaceLayoutDirection.h"
#include "platform/foundation/NSValueTransformer.h"

class KRModifierFlagsTransformer : public NSValueTransformer {
  public:
    // The shared KRSymbolicModifierFlagsTransformer, also for a transformer asked of the base class.
    static std::shared_ptr<KRModifierFlagsTransformer> sharedTransformer();
    static std::shared_ptr<KRModifierFlagsTransformer> create();

    // The flags must be a number. Nil in the base class.
    virtual std::optional<std::string> transformedValue(const AnyObject& modifierFlags,
                                                        NSUserInterfaceLayoutDirection direction) const;
    // Left-to-right.
    AnyObject transformedValue(const AnyObject& value) const override;
    bool allowsReverseTransformation() const override { return false; }

  protected:
    KRModifierFlagsTransformer() = default;
};

class KRLiteralModifierFlagsTransformer : public KRModifierFlagsTransformer {
  public:
    static std::shared_ptr<KRLiteralModifierFlagsTransformer> sharedTransformer();
    KRLiteralModifierFlagsTransformer() = default;

    using KRModifierFlagsTransformer::transformedValue;
    std::optional<std::string> transformedValue(const AnyObject& modifierFlags,
                                                NSUserInterfaceLayoutDirection direction) const override;
};

class KRSymbolicModifierFlagsTransformer : public KRModifierFlagsTransformer {
  public:
    static std::shared_ptr<KRSymbolicModifierFlagsTransformer> sharedTransformer();
    KRSymbolicModifierFlagsTransformer() = default;

    using KRModifierFlagsTransformer::transformedValue;
    std::optional<std::string> transformedValue(const AnyObject& modifierFlags,
                                                NSUserInterfaceLayoutDirection direction) const override;
    // Glyphs in any order, each at most once, to the flags as a number; "" is 0. Nil for anything else.
    AnyObject reverseTransformedValue(const AnyObject& value) const override;
    bool allowsReverseTransformation() const override { return true; }
};
