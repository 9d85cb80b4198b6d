#include "shortcut_recorder/KRShortcut.h"

#include <array>
#include <cstdio>

#include "platform/appkit/NSApplication.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/SystemTrace.h"
#include "shortcut_recorder/KRKeyBindingTransformer.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"
#include "shortcut_recorder/KRModifierFlagsTransformer.h"
#include "shortcut_recorder/KRShortcutFormatter.h"

namespace {

constexpr std::array<uint16_t, 20> kFunctionKeyCodes = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                                        103, 111, 105, 107, 113, 106, 64, 79,  80,  90};
constexpr uint32_t kCarbonFunctionKeyFlag = 0x800000;

constexpr NSEventModifierFlags Shift = NSEventModifierFlagShift;
constexpr NSEventModifierFlags Control = NSEventModifierFlagControl;
constexpr NSEventModifierFlags Option = NSEventModifierFlagOption;
constexpr NSEventModifierFlags Command = NSEventModifierFlagCommand;

// The combinations tried for a key equivalent whose mask leaves modifiers to the key itself; the
// order decides which string counts first.
constexpr std::array<NSEventModifierFlags, 15> kModifierCombinations = {
    0,
    Control,
    Command,
    Shift,
    Option,
    Control | Command,
    Control | Shift,
    Control | Option,
    Shift | Command,
    Option | Command,
    Shift | Option,
    Control | Shift | Command,
    Control | Option | Command,
    Shift | Option | Command,
    Control | Option | Shift | Command,
};

bool isSubset(NSEventModifierFlags part, NSEventModifierFlags whole) {
    return (part & whole) == part;
}

// The modifier key a flags-changed event reports on, by its key code.
NSEventModifierFlags flagOfModifierKey(uint16_t keyCode) {
    if (keyCode == 54 || keyCode == 55) return Command;
    if (keyCode == 61 || keyCode == 58) return Option;
    if (keyCode == 56 || keyCode == 60) return Shift;
    if (keyCode == 62 || keyCode == 59) return Control;
    return 0;
}

AnyObject flagsObject(std::optional<NSEventModifierFlags> flags) {
    return flags ? AnyObject(Value(*flags)) : AnyObject();
}

std::optional<std::string> asciiSymbol(uint16_t keyCode, std::optional<NSEventModifierFlags> implicitFlags,
                                       std::optional<NSEventModifierFlags> explicitFlags) {
    return KRASCIISymbolicKeyCodeTransformer::sharedTransformer()->transformedValue(
        AnyObject(Value(keyCode)), flagsObject(implicitFlags), flagsObject(explicitFlags),
        NSUserInterfaceLayoutDirection::LeftToRight);
}

std::optional<std::string> optionalString(const Value& value) {
    if (const std::string* text = value.asString()) return *text;
    return std::nullopt;
}

// The longest prefix made only of the four modifier glyphs.
size_t modifierGlyphPrefixLength(const std::string& text) {
    static constexpr std::array<std::string_view, 4> glyphs = {"\u2318", "\u2325", "\u21E7", "\u2303"};
    size_t length = 0;
    for (bool found = true; found;) {
        found = false;
        for (std::string_view glyph : glyphs) {
            if (text.compare(length, glyph.size(), glyph) == 0) {
                length += glyph.size();
                found = true;
                break;
            }
        }
    }
    return length;
}

std::shared_ptr<KRShortcutFormatter> descriptionFormatter() {
    // Made once; never changed after, so every thread may read it.
    static const auto* formatter = [] {
        auto* made = new std::shared_ptr<KRShortcutFormatter>(std::make_shared<KRShortcutFormatter>());
        (*made)->setUsesASCIICapableKeyboardInputSource(true);
        (*made)->setIsKeyCodeLiteral(true);
        (*made)->setLayoutDirection(NSUserInterfaceLayoutDirection::LeftToRight);
        (*made)->setAreModifierFlagsLiteral(false);
        return made;
    }();
    return *formatter;
}

bool compareShortcuts(const KRShortcut& self, const KRShortcut& other) {
    return self.isEqualToShortcut(&other);
}

}  // namespace

std::shared_ptr<KRShortcut> KRShortcut::init() {
    throw Exception(NSInvalidArgumentException, "-[KRShortcut init]: unrecognized selector sent to instance");
}

std::shared_ptr<KRShortcut> KRShortcut::makeNew() {
    throw Exception(NSInvalidArgumentException, "+[KRShortcut new]: unrecognized selector sent to class");
}

KRShortcut::KRShortcut(uint16_t keyCode, NSEventModifierFlags modifierFlags,
                       std::optional<std::string> characters,
                       std::optional<std::string> charactersIgnoringModifiers) {
    assign(keyCode, modifierFlags, std::move(characters), std::move(charactersIgnoringModifiers));
}

void KRShortcut::assign(uint16_t keyCode, NSEventModifierFlags modifierFlags,
                        std::optional<std::string> characters,
                        std::optional<std::string> charactersIgnoringModifiers) {
    keyCode_ = keyCode;
    modifierFlags_ = modifierFlags & KRModifierFlagsMask;
    // The strings are computed with the flags as given: the layout may type differently with, say,
    // Caps Lock held, even though the shortcut does not keep it.
    if (!characters && keyCode != KRKeyCodeNone)
        characters = asciiSymbol(keyCode, modifierFlags, std::nullopt);
    if (!charactersIgnoringModifiers && keyCode != KRKeyCodeNone)
        charactersIgnoringModifiers = asciiSymbol(keyCode, std::nullopt, modifierFlags);
    characters_ = std::move(characters);
    charactersIgnoringModifiers_ = std::move(charactersIgnoringModifiers);
}

std::shared_ptr<KRShortcut> KRShortcut::shortcutWithCode(
    uint16_t keyCode, NSEventModifierFlags modifierFlags, std::optional<std::string> characters,
    std::optional<std::string> charactersIgnoringModifiers) {
    return std::shared_ptr<KRShortcut>(new KRShortcut(keyCode, modifierFlags, std::move(characters),
                                                      std::move(charactersIgnoringModifiers)));
}

std::shared_ptr<KRShortcut> KRShortcut::shortcutWithEvent(const NSEvent& event, bool ignoringCharacters) {
    std::optional<std::string> empty;
    if (ignoringCharacters) empty = "";
    switch (event.type()) {
        case NSEventType::KeyDown:
        case NSEventType::KeyUp:
            if (ignoringCharacters) return shortcutWithCode(event.keyCode(), event.modifierFlags(), "", "");
            return shortcutWithCode(event.keyCode(), event.modifierFlags(), event.characters(),
                                    event.charactersIgnoringModifiers());
        case NSEventType::FlagsChanged:
            return shortcutWithCode(KRKeyCodeNone, event.modifierFlags() | flagOfModifierKey(event.keyCode()),
                                    empty, empty);
        default:
            traceLogFormat(TraceLevel::Error,
                           "#Error aKeyboardEvent must be either NSEventTypeKeyUp, NSEventTypeKeyDown or "
                           "NSEventTypeFlagsChanged, but got %lu",
                           static_cast<unsigned long>(event.type()));
            return nullptr;
    }
}

std::shared_ptr<KRShortcut> KRShortcut::shortcutWithDictionary(const Dictionary& dictionary) {
    const Value& keyCode = dictionary[KRShortcutKeyKeyCode];
    uint16_t code = keyCode.isNumber() ? static_cast<uint16_t>(keyCode.integerOr(0)) : KRKeyCodeNone;
    auto flags = static_cast<NSEventModifierFlags>(dictionary[KRShortcutKeyModifierFlags].integerOr(0));
    return shortcutWithCode(code, flags, optionalString(dictionary[KRShortcutKeyCharacters]),
                            optionalString(dictionary[KRShortcutKeyCharactersIgnoringModifiers]));
}

std::shared_ptr<KRShortcut> KRShortcut::shortcutWithKeyEquivalent(const std::string& keyEquivalent) {
    size_t prefixLength = modifierGlyphPrefixLength(keyEquivalent);
    std::string modifiers = keyEquivalent.substr(0, prefixLength);
    std::string key = keyEquivalent.substr(prefixLength);
    if (modifiers.empty() && key.empty()) return nullptr;

    NSEventModifierFlags flags = 0;
    if (!modifiers.empty()) {
        AnyObject parsed = KRSymbolicModifierFlagsTransformer::sharedTransformer()->reverseTransformedValue(
            Value(modifiers));
        if (!parsed.isNumber()) return nullptr;
        flags = static_cast<NSEventModifierFlags>(parsed.value()->integerOr(0));
    }
    uint16_t keyCode = KRKeyCodeNone;
    if (!key.empty()) {
        AnyObject parsed =
            KRASCIILiteralKeyCodeTransformer::sharedTransformer()->reverseTransformedValue(Value(key));
        if (!parsed.isNumber()) return nullptr;
        keyCode = static_cast<uint16_t>(parsed.value()->integerOr(0));
    }
    return shortcutWithCode(keyCode, flags, std::nullopt, std::nullopt);
}

std::shared_ptr<KRShortcut> KRShortcut::shortcutWithKeyBinding(const std::string& keyBinding) {
    return KRKeyBindingTransformer::sharedTransformer()
        ->transformedValue(Value(keyBinding))
        .object<KRShortcut>();
}

ArchiveClass KRShortcut::archiveClass() {
    return {"KRShortcut", [] { return CodablePtr(std::shared_ptr<KRShortcut>(new KRShortcut())); }};
}

Dictionary KRShortcut::dictionaryRepresentation() const {
    Dictionary dictionary;
    dictionary.set(KRShortcutKeyKeyCode, Value(keyCode_));
    dictionary.set(KRShortcutKeyModifierFlags, Value(modifierFlags_));
    if (characters_) dictionary.set(KRShortcutKeyCharacters, Value(*characters_));
    if (charactersIgnoringModifiers_)
        dictionary.set(KRShortcutKeyCharactersIgnoringModifiers, Value(*charactersIgnoringModifiers_));
    return dictionary;
}

Value KRShortcut::objectForKeyedSubscript(std::string_view key) const {
    if (key == KRShortcutKeyKeyCode) return Value(keyCode_);
    if (key == KRShortcutKeyModifierFlags) return Value(modifierFlags_);
    if (key == KRShortcutKeyCharacters && characters_) return Value(*characters_);
    if (key == KRShortcutKeyCharactersIgnoringModifiers && charactersIgnoringModifiers_)
        return Value(*charactersIgnoringModifiers_);
    return Value();
}

std::string KRShortcut::readableStringRepresentation(bool isASCII) const {
    AnyObject code{Value(keyCode_)};
    AnyObject name = isASCII ? KRASCIILiteralKeyCodeTransformer::sharedTransformer()->transformedValue(code)
                             : KRLiteralKeyCodeTransformer::sharedTransformer()->transformedValue(code);
    std::string keyName;
    if (const std::string* text = name.string()) {
        keyName = *text;
    } else {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "<%hu>", keyCode_);
        keyName = buffer;
    }
    std::string result;
    if (modifierFlags_ & Command) result += KRLocalizedString("Command-");
    if (modifierFlags_ & Option) result += KRLocalizedString("Option-");
    if (modifierFlags_ & Control) result += KRLocalizedString("Control-");
    if (modifierFlags_ & Shift) result += KRLocalizedString("Shift-");
    return result + keyName;
}

std::string KRShortcut::description() const {
    auto self = std::const_pointer_cast<KRShortcut>(shared_from_this());
    return descriptionFormatter()->stringForObjectValue(AnyObject(self)).value_or("");
}

uint32_t KRShortcut::carbonKeyCode() const {
    if (keyCode_ == KRKeyCodeNone)
        traceLog(TraceLevel::Fault, "#Critical KRKeyCodeNone has no representation in Carbon");
    return keyCode_;
}

uint32_t KRShortcut::carbonModifierFlags() const {
    uint32_t flags = 0;
    if (modifierFlags_ & Command) flags |= 0x0100;
    if (modifierFlags_ & Shift) flags |= 0x0200;
    if (modifierFlags_ & Option) flags |= 0x0800;
    if (modifierFlags_ & Control) flags |= 0x1000;
    uint32_t code = carbonKeyCode();
    for (uint16_t functionKey : kFunctionKeyCodes)
        if (code == functionKey) flags |= kCarbonFunctionKeyFlag;
    return flags;
}

const KRClass<KRShortcut>& KRShortcut::shortcutClass() {
    static const KRClass<KRShortcut> shortcut{nullptr, &compareShortcuts};
    return shortcut;
}

bool KRShortcut::isEqual(const KRShortcut* other) const {
    return KR_isEqual(*this, other, shortcutClass());
}

bool KRShortcut::isEqualToShortcut(const KRShortcut* other) const {
    if (other == this) return true;
    return other && other->keyCode_ == keyCode_ && other->modifierFlags_ == modifierFlags_;
}

size_t KRShortcut::hash() const {
    return keyCode_ | (modifierFlags_ & KRModifierFlagsMask);
}

bool KRShortcut::isEqualToDictionary(const Dictionary& dictionary) const {
    auto flags = static_cast<NSEventModifierFlags>(dictionary[KRShortcutKeyModifierFlags].integerOr(0)) &
                 KRModifierFlagsMask;
    const Value* keyCode = dictionary.find(KRShortcutKeyKeyCode);
    if (!keyCode) return keyCode_ == KRKeyCodeNone && flags == modifierFlags_;
    if (!keyCode->isNumber()) return false;
    return static_cast<uint16_t>(keyCode->integerOr(0)) == keyCode_ && flags == modifierFlags_;
}

bool KRShortcut::isEqualToKeyEquivalent(const std::string& keyEquivalent,
                                        NSEventModifierFlags modifierFlags) const {
    if (keyEquivalent.empty() || keyCode_ == KRKeyCodeNone) return false;
    return isEqualToKeyEquivalent(keyEquivalent, modifierFlags,
                                  *KRASCIISymbolicKeyCodeTransformer::sharedTransformer()) ||
           isEqualToKeyEquivalent(keyEquivalent, modifierFlags,
                                  *KRSymbolicKeyCodeTransformer::sharedTransformer());
}

bool KRShortcut::isEqualToKeyEquivalent(const std::string& keyEquivalent, NSEventModifierFlags modifierFlags,
                                        const KRKeyCodeTransformer& transformer) const {
    if (keyEquivalent.empty() || keyCode_ == KRKeyCodeNone) return false;
    const NSEventModifierFlags mask = modifierFlags & KRModifierFlagsMask;
    const NSEventModifierFlags flags = modifierFlags_;
    // Menus write Tab as either character, and a Tab shortcut as either must match.
    if (keyCode_ == 48 && mask == flags && (keyEquivalent == "\t" || keyEquivalent == "\x19")) return true;

    const auto direction = NSApplication::sharedApplication()->userInterfaceLayoutDirection();
    const AnyObject code{Value(keyCode_)};
    const auto symbol =
        transformer.transformedValue(code, AnyObject(Value(0)), AnyObject(Value(flags)), direction);
    if (symbol == keyEquivalent && mask == flags) return true;
    if (!isSubset(mask, flags)) return false;

    // Modifiers of the shortcut that the mask leaves out are typed into the key equivalent itself
    // (Shift+A as "A" with only Command in the mask).
    for (NSEventModifierFlags combination : kModifierCombinations) {
        if (!isSubset(combination, mask)) continue;
        auto typed = transformer.transformedValue(code, AnyObject(Value((flags & ~mask) | combination)),
                                                  AnyObject(Value(mask)), direction);
        if (typed != symbol && typed == keyEquivalent) return true;
    }
    return false;
}

void KRShortcut::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(Value(KRResourceBundle()->buildVersion()), "version");
    coder.encodeObject(Value(keyCode_), KRShortcutKeyKeyCode);
    coder.encodeObject(Value(modifierFlags_), KRShortcutKeyModifierFlags);
    if (characters_) coder.encodeObject(Value(*characters_), KRShortcutKeyCharacters);
    if (charactersIgnoringModifiers_)
        coder.encodeObject(Value(*charactersIgnoringModifiers_), KRShortcutKeyCharactersIgnoringModifiers);
}

bool KRShortcut::initWithCoder(KeyedUnarchiver& coder) {
    Archived keyCode = coder.decodeObject(KRShortcutKeyKeyCode);
    Archived flags = coder.decodeObject(KRShortcutKeyModifierFlags);
    auto numberOr = [](const Archived& archived, int64_t fallback) {
        return archived.value() && archived.value()->isNumber() ? archived.value()->integerOr(fallback)
                                                                : fallback;
    };
    assign(static_cast<uint16_t>(numberOr(keyCode, 0)), static_cast<NSEventModifierFlags>(numberOr(flags, 0)),
           coder.decodeString(KRShortcutKeyCharacters),
           coder.decodeString(KRShortcutKeyCharactersIgnoringModifiers));
    return true;
}
