#include "shortcut_recorder/KRShortcutFormatter.h"

#include <cstdio>

#include "platform/appkit/NSApplication.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"
#include "shortcut_recorder/KRModifierFlagsTransformer.h"
#include "shortcut_recorder/KRShortcut.h"

KRShortcutFormatter::KRShortcutFormatter()
    : layoutDirection_(NSApplication::sharedApplication()->userInterfaceLayoutDirection()) {}

std::optional<std::string> KRShortcutFormatter::stringForObjectValue(const AnyObject& value) const {
    auto shortcut = value.object<KRShortcut>();
    if (!shortcut) return std::nullopt;

    std::shared_ptr<KRKeyCodeTransformer> keyTransformer;
    if (isKeyCodeLiteral_ && usesASCIICapableKeyboardInputSource_)
        keyTransformer = KRASCIILiteralKeyCodeTransformer::sharedTransformer();
    else if (isKeyCodeLiteral_)
        keyTransformer = KRLiteralKeyCodeTransformer::sharedTransformer();
    else if (usesASCIICapableKeyboardInputSource_)
        keyTransformer = KRASCIISymbolicKeyCodeTransformer::sharedTransformer();
    else
        keyTransformer = KRSymbolicKeyCodeTransformer::sharedTransformer();
    std::shared_ptr<KRModifierFlagsTransformer> modifierTransformer;
    if (areModifierFlagsLiteral_)
        modifierTransformer = KRLiteralModifierFlagsTransformer::sharedTransformer();
    else
        modifierTransformer = KRSymbolicModifierFlagsTransformer::sharedTransformer();

    const Value flags(shortcut->modifierFlags());
    auto key = keyTransformer->transformedValue(AnyObject(Value(shortcut->keyCode())), AnyObject(),
                                                AnyObject(flags), layoutDirection_);
    if (!key) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "<%hu>", shortcut->keyCode());
        key = buffer;
    }
    AnyObject modifiers = modifierTransformer->transformedValue(AnyObject(flags));
    return (modifiers.string() ? *modifiers.string() : std::string()) + *key;
}

bool KRShortcutFormatter::getObjectValue(AnyObject* object, const std::string& string, std::string*) const {
    if (!isKeyCodeLiteral_ || !usesASCIICapableKeyboardInputSource_ ||
        layoutDirection_ != NSUserInterfaceLayoutDirection::LeftToRight)
        return false;
    auto shortcut = KRShortcut::shortcutWithKeyEquivalent(string);
    if (!shortcut) return false;
    if (object) *object = AnyObject(shortcut);
    return true;
}
