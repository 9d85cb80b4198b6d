#include "DudIzizoz/Internals/Model/DIZLogWithProperties.h"

namespace {
Dictionary dictionaryOf(const DIZProperties& properties) {
    Dictionary dictionary;
    for (const auto& [key, value] : properties) dictionary.set(key, Value(value));
    return dictionary;
}
}  // namespace

std::optional<Dictionary> DIZLogWithProperties::serializeToDictionary() const {
    auto dictionary = DIZAbstractLog::serializeToDictionary();
    if (dictionary && properties_ && !properties_->empty())
        dictionary->set("properties", Value(dictionaryOf(*properties_)));
    return dictionary;
}

bool DIZLogWithProperties::isEqual(const DIZAbstractLog& other) const {
    const auto* log = dynamic_cast<const DIZLogWithProperties*>(&other);
    return log && DIZAbstractLog::isEqual(other) && properties_ == log->properties_;
}

void DIZLogWithProperties::encodeWithCoder(KeyedArchiver& coder) const {
    DIZAbstractLog::encodeWithCoder(coder);
    coder.encodeObject(properties_ ? Archived(Value(dictionaryOf(*properties_))) : Archived(), "properties");
}

bool DIZLogWithProperties::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZAbstractLog::initWithCoder(coder)) return false;
    properties_.reset();
    Archived stored = coder.decodeObject("properties");
    if (stored.isNull()) return true;
    const auto* entries = stored.dictionaryEntries();
    if (!entries) return false;
    DIZProperties properties;
    for (const auto& [key, value] : *entries) {
        const std::string* text = value.value() ? value.value()->asString() : nullptr;
        if (!text) return false;
        properties[key] = *text;
    }
    properties_ = std::move(properties);
    return true;
}
