#pragma once
// The experiment area's map that is safe for concurrent use: value objects are read from the
// manager's queue, the task manager's worker queue and callers' threads at once. Each operation is
// atomic on its own; readers that walk the entries take a copy first, so a walk never meets a
// change half made.
#include <map>
#include <mutex>
#include <optional>
#include <vector>

template <class Key, class Value>
class ZDMEConcurrentMap {
  public:
    std::optional<Value> get(const Key& key) const {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(key);
        if (found == entries_.end()) return std::nullopt;
        return found->second;
    }
    void set(const Key& key, Value value) {
        std::lock_guard lock(mutex_);
        entries_.insert_or_assign(key, std::move(value));
    }
    void remove(const Key& key) {
        std::lock_guard lock(mutex_);
        entries_.erase(key);
    }
    void clear() {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }
    std::map<Key, Value> copy() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }
    std::vector<Value> values() const {
        std::vector<Value> values;
        for (auto& [key, value] : copy()) values.push_back(value);
        return values;
    }

  private:
    mutable std::mutex mutex_;
    std::map<Key, Value> entries_;
};
