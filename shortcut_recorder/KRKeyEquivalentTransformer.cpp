#include "shortcut_recorder/KRKeyEquivalentTransformer.h"

#include "platform/foundation/SharedInstance.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"
#include "shortcut_recorder/KRShortcut.h"

namespace {
constinit SharedInstance<KRKeyEquivalentTransformer> sharedKeyEquivalent;
constinit SharedInstance<KRKeyEquivalentModifierMaskTransformer> sharedModifierMask;

// A KRShortcut answers by its dictionary form.
std::optional<Dictionary> shortcutDictionary(const AnyObject& value) {
    if (auto shortcut = value.object<KRShortcut>()) return shortcut->dictionaryRepresentation();
    if (value.value() && value.value()->asDictionary()) return *value.value()->asDictionary();
    return std::nullopt;
}
}  // namespace

std::shared_ptr<KRKeyEquivalentTransformer> KRKeyEquivalentTransformer::sharedTransformer() {
    return sharedKeyEquivalent.get();
}

AnyObject KRKeyEquivalentTransformer::transformedValue(const AnyObject& value) const {
    const auto shortcut = shortcutDictionary(value);
    if (!shortcut) return {};
    const Value& keyCode = (*shortcut)["keyCode"];
    if (!keyCode.isNumber()) return {};
    const Value& flags = (*shortcut)["modifierFlags"];
    auto character = KRASCIISymbolicKeyCodeTransformer::sharedTransformer()->transformedValue(
        AnyObject(keyCode), AnyObject(), flags.isNumber() ? AnyObject(flags) : AnyObject(),
        NSUserInterfaceLayoutDirection::LeftToRight);
    return character ? AnyObject(Value(*character)) : AnyObject();
}

std::shared_ptr<KRKeyEquivalentModifierMaskTransformer>
KRKeyEquivalentModifierMaskTransformer::sharedTransformer() {
    return sharedModifierMask.get();
}

AnyObject KRKeyEquivalentModifierMaskTransformer::transformedValue(const AnyObject& value) const {
    const auto shortcut = shortcutDictionary(value);
    if (!shortcut) return {};
    const Value& flags = (*shortcut)["modifierFlags"];
    return flags.isNumber() ? AnyObject(flags) : AnyObject();
}
