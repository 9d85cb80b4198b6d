#include "shortcut_recorder/KRModifierFlagsTransformer.h"

#include <algorithm>
#include <vector>

#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/SystemTrace.h"
#include "platform/foundation/UnicodeText.h"
#include "shortcut_recorder/KRCommon.h"

namespace {

constinit SharedInstance<KRLiteralModifierFlagsTransformer> sharedLiteral;
constinit SharedInstance<KRSymbolicModifierFlagsTransformer> sharedSymbolic;

struct Modifier {
    NSEventModifierFlags flag;
    const char* word;  // key of the localized word
    const char* glyph;
};
// The order in which modifiers are written.
constexpr Modifier kModifiers[] = {
    {NSEventModifierFlagControl, "Control", "⌃"},
    {NSEventModifierFlagOption, "Option", "⌥"},
    {NSEventModifierFlagShift, "Shift", "⇧"},
    {NSEventModifierFlagCommand, "Command", "⌘"},
};

std::optional<std::vector<const Modifier*>> modifiersOf(const AnyObject& value,
                                                        NSUserInterfaceLayoutDirection direction) {
    if (!value.isNumber()) {
        traceLog(TraceLevel::Error, "#Error Invalid value for transformation");
        return std::nullopt;
    }
    auto flags = static_cast<uint64_t>(value.value()->integerOr(0));
    std::vector<const Modifier*> set;
    for (const auto& modifier : kModifiers)
        if (flags & modifier.flag) set.push_back(&modifier);
    if (direction == NSUserInterfaceLayoutDirection::RightToLeft) std::reverse(set.begin(), set.end());
    return set;
}

AnyObject invalidReverse() {
    traceLog(TraceLevel::Error, "#Error Invalid value for reverse transformation");
    return {};
}

}  // namespace

std::shared_ptr<KRModifierFlagsTransformer> KRModifierFlagsTransformer::sharedTransformer() {
    return KRSymbolicModifierFlagsTransformer::sharedTransformer();
}

std::shared_ptr<KRModifierFlagsTransformer> KRModifierFlagsTransformer::create() {
    return KRSymbolicModifierFlagsTransformer::sharedTransformer();
}

std::optional<std::string> KRModifierFlagsTransformer::transformedValue(
    const AnyObject&, NSUserInterfaceLayoutDirection) const {
    return std::nullopt;
}

AnyObject KRModifierFlagsTransformer::transformedValue(const AnyObject& value) const {
    auto text = transformedValue(value, NSUserInterfaceLayoutDirection::LeftToRight);
    return text ? AnyObject(Value(*text)) : AnyObject();
}

std::shared_ptr<KRLiteralModifierFlagsTransformer> KRLiteralModifierFlagsTransformer::sharedTransformer() {
    return sharedLiteral.get();
}

std::optional<std::string> KRLiteralModifierFlagsTransformer::transformedValue(
    const AnyObject& modifierFlags, NSUserInterfaceLayoutDirection direction) const {
    auto modifiers = modifiersOf(modifierFlags, direction);
    if (!modifiers) return std::nullopt;
    if (modifiers->empty()) return "";
    const std::string separator = KRLocalizedString("-");
    std::string text;
    for (const Modifier* modifier : *modifiers) {
        if (!text.empty()) text += separator;
        text += KRLocalizedString(modifier->word);
    }
    return text;
}

std::shared_ptr<KRSymbolicModifierFlagsTransformer> KRSymbolicModifierFlagsTransformer::sharedTransformer() {
    return sharedSymbolic.get();
}

std::optional<std::string> KRSymbolicModifierFlagsTransformer::transformedValue(
    const AnyObject& modifierFlags, NSUserInterfaceLayoutDirection direction) const {
    auto modifiers = modifiersOf(modifierFlags, direction);
    if (!modifiers) return std::nullopt;
    std::string text;
    for (const Modifier* modifier : *modifiers) text += modifier->glyph;
    return text;
}

AnyObject KRSymbolicModifierFlagsTransformer::reverseTransformedValue(const AnyObject& value) const {
    const std::string* text = value.string();
    if (!text) return invalidReverse();
    uint64_t flags = 0;
    for (const std::string& sequence : composedCharacterSequences(*text)) {
        auto modifier = std::find_if(std::begin(kModifiers), std::end(kModifiers),
                                     [&](const Modifier& m) { return sequence == m.glyph; });
        if (modifier == std::end(kModifiers) || (flags & modifier->flag)) return invalidReverse();
        flags |= modifier->flag;
    }
    return AnyObject(Value(flags));
}
