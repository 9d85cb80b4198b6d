#include "measurement/interpreter/ZDMPPropertyMap.h"

const ZDMPValueRef& ZDMPPropertyMap::valueForName(const std::u16string& name) const {
    const auto found = contents_.find(name);
    return found == contents_.end() ? ZDMPUndefined() : found->second;
}

void ZDMPPropertyMap::setValue(ZDMPValueRef value, const std::u16string& name) {
    if (refuses(name)) return;
    contents_[name] = std::move(value);
}

void ZDMPPropertyMap::setImmutableValue(ZDMPValueRef value, const std::u16string& name) {
    if (refuses(name)) return;
    contents_[name] = std::move(value);
    immutableProperties_.insert(name);
}

void ZDMPPropertyMap::removeValueForName(const std::u16string& name) {
    if (refuses(name)) return;
    contents_.erase(name);
}

std::vector<std::u16string> ZDMPPropertyMap::allNames() const {
    std::vector<std::u16string> names;
    names.reserve(contents_.size());
    for (const auto& entry : contents_) names.push_back(entry.first);
    return names;
}

void ZDMPPropertyMap::removeAll() {
    // Destroying the values may run destructors that reach this map again; empty it first.
    auto contents = std::move(contents_);
    contents_.clear();
}
