#include "platform/zazavaroveridiz/ZIZMutableDictionary.h"

Value ZIZMutableDictionary::objectForKeyedSubscript(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const Value* found = objects_.find(key);
    return found ? *found : Value();
}

void ZIZMutableDictionary::setObject(Value object, std::string key) {
    Value replaced;  // an object's last reference is released after unlocking
    std::lock_guard lock(mutex_);
    if (Value* existing = objects_.find(key)) replaced = std::move(*existing);
    if (object.isNull())
        objects_.erase(key);
    else
        objects_.set(std::move(key), std::move(object));
}

void ZIZMutableDictionary::removeAllObjects() {
    Dictionary removed;
    std::lock_guard lock(mutex_);
    removed = std::move(objects_);
    objects_ = Dictionary();
}

size_t ZIZMutableDictionary::count() const {
    std::lock_guard lock(mutex_);
    return objects_.size();
}
