#pragma once
// Named values of a map, a function, an array or a scope. Writes refused because the whole map or
// the name is immutable are silent: they leave the old value and report nothing.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "measurement/interpreter/ZDMPRuntimeValue.h"

class ZDMPPropertyMap {
  public:
    bool hasName(const std::u16string& name) const { return contents_.contains(name); }
    // The shared undefined value when absent.
    const ZDMPValueRef& valueForName(const std::u16string& name) const;
    void setValue(ZDMPValueRef value, const std::u16string& name);
    // Stores and makes the name constant, so a name can be given a constant value only once.
    void setImmutableValue(ZDMPValueRef value, const std::u16string& name);
    void removeValueForName(const std::u16string& name);
    // In no defined order (sorted here, so runs repeat).
    std::vector<std::u16string> allNames() const;
    size_t count() const { return contents_.size(); }
    void makeImmutable() { immutable_ = true; }
    bool isImmutable() const { return immutable_; }
    void collectValues(std::vector<const ZDMPRuntimeValue*>& values) const {
        for (const auto& entry : contents_) values.push_back(entry.second.get());
    }
    // Drops every entry regardless of immutability: only for breaking reference cycles at teardown.
    void removeAll();

  private:
    bool refuses(const std::u16string& name) const {
        return immutable_ || immutableProperties_.contains(name);
    }

    std::map<std::u16string, ZDMPValueRef> contents_;
    std::set<std::u16string> immutableProperties_;
    bool immutable_ = false;
};
