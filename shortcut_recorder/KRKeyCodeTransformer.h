#pragma once
// Names, glyphs and characters of keys. Literal forms are for people ("F5", "↩", uppercase letters);
// symbolic forms are the characters menu key equivalents and key events use (U+F708, U+000D). The
// plain variants translate on the current keyboard layout, the ASCII ones on the current
// ASCII-capable layout; only the ASCII ones turn text back into key codes.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSUserInterfaceLayoutDirection.h"
#include "platform/carbon/TextInputSources.h"
#include "platform/foundation/NSValueTransformer.h"

class KRKeyCodeTranslator;
class KRKeyCodeASCIITranslator;

class KRKeyCodeTransformer : public NSValueTransformer {
  public:
    // The shared KRSymbolicKeyCodeTransformer: the base class only defines the forms.
    static std::shared_ptr<KRKeyCodeTransformer> sharedTransformer();
    // Asking the base class for a transformer is a developer error that is logged and answered with
    // the shared symbolic transformer (or, with a source, a new one on that source).
    static std::shared_ptr<KRKeyCodeTransformer> create();
    static std::shared_ptr<KRKeyCodeTransformer> create(TISInputSourceRef source);
    // The 103 key codes the reverse map is built from (no keypad Clear), in their fixed order.
    static const std::vector<uint16_t>& knownKeyCodes();

    std::optional<std::string> literalForKeyCode(uint16_t keyCode, uint64_t implicitModifierFlags,
                                                 uint64_t explicitModifierFlags,
                                                 NSUserInterfaceLayoutDirection direction) const;
    std::optional<std::string> symbolForKeyCode(uint16_t keyCode, uint64_t implicitModifierFlags,
                                                uint64_t explicitModifierFlags,
                                                NSUserInterfaceLayoutDirection direction) const;

    // The key code must be a number; nil flags count as 0. Nil in the base class.
    virtual std::optional<std::string> transformedValue(const AnyObject& keyCode,
                                                        const AnyObject& implicitModifierFlags,
                                                        const AnyObject& explicitModifierFlags,
                                                        NSUserInterfaceLayoutDirection direction) const;
    // The key code's form without flags, left-to-right; for a KRShortcut, its key with its flags.
    AnyObject transformedValue(const AnyObject& value) const override;
    AnyObject reverseTransformedValue(const AnyObject& value) const override;
    bool allowsReverseTransformation() const override { return false; }

    TISInputSourceRef inputSource() const;

  protected:
    explicit KRKeyCodeTransformer(std::shared_ptr<KRKeyCodeTranslator> translator);
    // The form `literal` or not, inside the activity `activity`, with the "Invalid key code" check.
    std::optional<std::string> transform(const char* activity, bool literal, const AnyObject& keyCode,
                                         const AnyObject& implicitModifierFlags,
                                         const AnyObject& explicitModifierFlags,
                                         NSUserInterfaceLayoutDirection direction) const;

    std::shared_ptr<KRKeyCodeTranslator> translator_;
};

class KRLiteralKeyCodeTransformer : public KRKeyCodeTransformer {
  public:
    static std::shared_ptr<KRLiteralKeyCodeTransformer> sharedTransformer();
    KRLiteralKeyCodeTransformer();
    explicit KRLiteralKeyCodeTransformer(TISInputSourceRef source);

    using KRKeyCodeTransformer::transformedValue;
    std::optional<std::string> transformedValue(const AnyObject& keyCode,
                                                const AnyObject& implicitModifierFlags,
                                                const AnyObject& explicitModifierFlags,
                                                NSUserInterfaceLayoutDirection direction) const override;
};

class KRSymbolicKeyCodeTransformer : public KRKeyCodeTransformer {
  public:
    static std::shared_ptr<KRSymbolicKeyCodeTransformer> sharedTransformer();
    KRSymbolicKeyCodeTransformer();
    explicit KRSymbolicKeyCodeTransformer(TISInputSourceRef source);

    using KRKeyCodeTransformer::transformedValue;
    std::optional<std::string> transformedValue(const AnyObject& keyCode,
                                                const AnyObject& implicitModifierFlags,
                                                const AnyObject& explicitModifierFlags,
                                                NSUserInterfaceLayoutDirection direction) const override;
};

// Parses names such as "F12", "Escape", "Space" and the glyphs of the literal forms back to key
// codes; anything else by what the ASCII-capable layout types.
class KRASCIILiteralKeyCodeTransformer : public KRKeyCodeTransformer {
  public:
    static std::shared_ptr<KRASCIILiteralKeyCodeTransformer> sharedTransformer();
    KRASCIILiteralKeyCodeTransformer();
    explicit KRASCIILiteralKeyCodeTransformer(TISInputSourceRef source);

    using KRKeyCodeTransformer::transformedValue;
    std::optional<std::string> transformedValue(const AnyObject& keyCode,
                                                const AnyObject& implicitModifierFlags,
                                                const AnyObject& explicitModifierFlags,
                                                NSUserInterfaceLayoutDirection direction) const override;
    // A string to its key code as a number; nil for anything no key gives.
    AnyObject reverseTransformedValue(const AnyObject& value) const override;
    bool allowsReverseTransformation() const override { return true; }
};

// Parses one UTF-16 unit of the symbolic forms back to its key code.
class KRASCIISymbolicKeyCodeTransformer : public KRKeyCodeTransformer {
  public:
    static std::shared_ptr<KRASCIISymbolicKeyCodeTransformer> sharedTransformer();
    KRASCIISymbolicKeyCodeTransformer();
    explicit KRASCIISymbolicKeyCodeTransformer(TISInputSourceRef source);

    using KRKeyCodeTransformer::transformedValue;
    std::optional<std::string> transformedValue(const AnyObject& keyCode,
                                                const AnyObject& implicitModifierFlags,
                                                const AnyObject& explicitModifierFlags,
                                                NSUserInterfaceLayoutDirection direction) const override;
    AnyObject reverseTransformedValue(const AnyObject& value) const override;
    bool allowsReverseTransformation() const override { return true; }
};
