#include "DudIzizoz/Internals/Model/DIZCSData.h"

std::optional<Dictionary> DIZCSData::serializeToDictionary() const {
    if (!properties_) return std::nullopt;
    DIZOrderedDictionary ordered;
    for (const char* first : {"baseType", "baseData"}) {
        if (const Value* value = properties_->find(first)) ordered.set(first, *value);
    }
    for (const auto& [key, value] : *properties_) {
        if (!ordered.contains(key)) ordered.set(key, value);
    }
    return ordered;
}

void DIZCSData::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(properties_ ? Archived(Value(*properties_)) : Archived());
}

bool DIZCSData::initWithCoder(KeyedUnarchiver& coder) {
    properties_.reset();
    Archived stored = coder.decodeObject();
    if (stored.isNull()) return true;
    auto value = stored.toValue();
    if (!value || !value->asDictionary()) return false;
    properties_ = *value->asDictionary();
    return true;
}
