#include "shortcut_recorder/KRKeyBindingTransformer.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/SystemTrace.h"
#include "platform/foundation/UnicodeText.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"
#include "shortcut_recorder/KRShortcut.h"

namespace {
constinit SharedInstance<KRKeyBindingTransformer> sharedKeyBinding;

constexpr std::string_view kMarkers = "^~$@#";

// Main-row digit and sign keys and their keypad twins; other keys keep their code under "#".
constexpr std::array<std::pair<uint16_t, uint16_t>, 12> kKeypadPairs = {{
    {18, 83},
    {19, 84},
    {20, 85},
    {21, 86},
    {22, 88},
    {23, 87},
    {24, 81},
    {25, 92},
    {26, 89},
    {27, 78},
    {28, 91},
    {29, 82},
}};
constexpr std::array<uint16_t, 18> kKeypadKeyCodes = {65, 67, 69, 71, 75, 76, 78, 81, 82,
                                                      83, 84, 85, 86, 87, 88, 89, 91, 92};

AnyObject unexpectedKeySymbol() {
    traceLog(TraceLevel::Error, "#Error unexpected key symbol");
    return {};
}

AnyObject fail(const char* message) {
    traceLog(TraceLevel::Error, message);
    return {};
}

// The shortcut's dictionary form, or the dictionary given.
std::optional<Dictionary> shortcutDictionary(const AnyObject& value) {
    if (auto shortcut = value.object<KRShortcut>()) return shortcut->dictionaryRepresentation();
    if (value.value() && value.value()->asDictionary()) return *value.value()->asDictionary();
    return std::nullopt;
}
}  // namespace

std::shared_ptr<KRKeyBindingTransformer> KRKeyBindingTransformer::sharedTransformer() {
    return sharedKeyBinding.get();
}

AnyObject KRKeyBindingTransformer::transformedValue(const AnyObject& value) const {
    const std::string* text = value.string();
    if (!text || text->empty()) return {};
    const size_t prefixLength = std::min(text->find_first_not_of(kMarkers), text->size());
    const std::string_view markers = std::string_view(*text).substr(0, prefixLength);
    const std::string key = text->substr(prefixLength);
    if (utf16String(key).size() != 1) return unexpectedKeySymbol();

    const std::string lowercased = lowercaseString(key);
    NSEventModifierFlags flags = 0;
    if (markers.find('^') != std::string_view::npos) flags |= NSEventModifierFlagControl;
    if (markers.find('~') != std::string_view::npos) flags |= NSEventModifierFlagOption;
    if (markers.find('$') != std::string_view::npos || key != lowercased) flags |= NSEventModifierFlagShift;
    if (markers.find('@') != std::string_view::npos) flags |= NSEventModifierFlagCommand;

    const auto symbolic = KRASCIISymbolicKeyCodeTransformer::sharedTransformer();
    AnyObject parsed = symbolic->reverseTransformedValue(Value(lowercased));
    if (!parsed.isNumber()) return unexpectedKeySymbol();
    auto keyCode = static_cast<uint16_t>(parsed.value()->integerOr(0));
    if (markers.find('#') != std::string_view::npos) {
        for (auto [mainRow, keypad] : kKeypadPairs)
            if (keyCode == mainRow) {
                keyCode = keypad;
                break;
            }
    }

    const AnyObject code{Value(keyCode)};
    const AnyObject flagsObject{Value(flags)};
    auto characters = symbolic->transformedValue(code, flagsObject, AnyObject(),
                                                 NSUserInterfaceLayoutDirection::LeftToRight);
    auto charactersIgnoringModifiers = symbolic->transformedValue(
        code, AnyObject(), flagsObject, NSUserInterfaceLayoutDirection::LeftToRight);
    return AnyObject(KRShortcut::shortcutWithCode(keyCode, flags, std::move(characters),
                                                  std::move(charactersIgnoringModifiers)));
}

AnyObject KRKeyBindingTransformer::reverseTransformedValue(const AnyObject& value) const {
    const auto dictionary = shortcutDictionary(value);
    if (!dictionary) return fail("#Error invalid class of the value");
    const Value& keyCodeValue = (*dictionary)[KRShortcutKeyKeyCode];
    if (!keyCodeValue.isNumber()) return fail("#Error invalid key code");
    auto keyCharacter = KRASCIISymbolicKeyCodeTransformer::sharedTransformer()->transformedValue(
        AnyObject(keyCodeValue), AnyObject(), AnyObject(), NSUserInterfaceLayoutDirection::LeftToRight);
    if (!keyCharacter) return fail("#Error unexpected key code");

    const Value& flagsValue = (*dictionary)[KRShortcutKeyModifierFlags];
    const auto flags = flagsValue.isNumber() ? static_cast<NSEventModifierFlags>(flagsValue.integerOr(0)) : 0;
    const auto keyCode = keyCodeValue.integerOr(0);
    std::string binding;
    if (flags & NSEventModifierFlagControl) binding += '^';
    if (flags & NSEventModifierFlagOption) binding += '~';
    if (flags & NSEventModifierFlagShift) binding += '$';
    if (flags & NSEventModifierFlagCommand) binding += '@';
    if (std::find(kKeypadKeyCodes.begin(), kKeypadKeyCodes.end(), keyCode) != kKeypadKeyCodes.end())
        binding += '#';
    return AnyObject(Value(binding + *keyCharacter));
}
