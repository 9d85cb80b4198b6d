#include "quorvane/ModifierFlag.h"

Value ModifierFlag::encode() const {
    Dictionary container;
    if (key_) container.set(kKey, static_cast<int64_t>(*key_));
    return container;
}

std::optional<ModifierFlag> ModifierFlag::decode(const Value& value) {
    const Dictionary* container = value.asDictionary();
    if (!container) return std::nullopt;
    const Value* key = container->find(kKey);
    if (!key) return ModifierFlag(std::nullopt);
    auto raw = key->isInteger() ? key->asInteger() : std::nullopt;
    if (!raw || *raw < 0) return std::nullopt;
    return ModifierFlag(static_cast<NSEventModifierFlags>(*raw));
}
