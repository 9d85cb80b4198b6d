#pragma once
// A shortcut as one display string (modifiers, then the key) and, for the literal ASCII left-to-right
// form only, such a string back to a shortcut.
#include <optional>
#include <string>

#include "platform/appkit/NSUserInterfaceLayoutDirection.h"
#include "platform/foundation/NSValueTransformer.h"

class KRShortcutFormatter {
  public:
    // Literal key names on the ASCII-capable layout, modifier glyphs, and the application's direction.
    KRShortcutFormatter();

    bool isKeyCodeLiteral() const { return isKeyCodeLiteral_; }
    void setIsKeyCodeLiteral(bool literal) { isKeyCodeLiteral_ = literal; }
    bool areModifierFlagsLiteral() const { return areModifierFlagsLiteral_; }
    void setAreModifierFlagsLiteral(bool literal) { areModifierFlagsLiteral_ = literal; }
    bool usesASCIICapableKeyboardInputSource() const { return usesASCIICapableKeyboardInputSource_; }
    void setUsesASCIICapableKeyboardInputSource(bool ascii) { usesASCIICapableKeyboardInputSource_ = ascii; }
    NSUserInterfaceLayoutDirection layoutDirection() const { return layoutDirection_; }
    void setLayoutDirection(NSUserInterfaceLayoutDirection direction) { layoutDirection_ = direction; }

    // Nil for anything but a KRShortcut. The direction orders the key's own glyphs only; the
    // modifiers always read left to right.
    std::optional<std::string> stringForObjectValue(const AnyObject& value) const;
    // False (and `object` untouched) unless the settings are literal, ASCII and left-to-right and the
    // string parses. No error description is ever given.
    bool getObjectValue(AnyObject* object, const std::string& string, std::string* errorDescription) const;

  private:
    bool isKeyCodeLiteral_ = true;
    bool areModifierFlagsLiteral_ = false;
    bool usesASCIICapableKeyboardInputSource_ = true;
    NSUserInterfaceLayoutDirection layoutDirection_;
};
