#include "shortcut_recorder/KRKeyEquivalentTransformer.h"

#include "platform/foundation/SharedInstance.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"

namespace {
constinit SharedInstance<KRKeyEquivalentTransformer> sharedKeyEquivalent;
constinit SharedInstance<KRKeyEquivalentModifierMaskTransformer> sharedModifierMask;

const Dictionary* shortcutDictionary(const AnyObject& value) {
    return value.value() ? value.value()->asDictionary() : nullptr;
}
}  // namespace

std::shared_ptr<KRKeyEquivalentTransformer> KRKeyEquivalentTransformer::sharedTransformer() {
    return sharedKeyEquivalent.get();
}

AnyObject KRKeyEquivalentTransformer::transformedValue(const AnyObject& value) const {
    const Dictionary* shortcut = shortcutDictionary(value);
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
    const Dictionary* shortcut = shortcutDictionary(value);
    if (!shortcut) return {};
    const Value& flags = (*shortcut)["modifierFlags"];
    return flags.isNumber() ? AnyObject(flags) : AnyObject();
}
