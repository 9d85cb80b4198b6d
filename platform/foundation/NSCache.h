#pragma once
// A named cache whose entries the system may drop at any time, as it does under memory pressure:
// it only ever holds what its owner can make again. Thread-safe. Memory pressure is simulated:
// simulateMemoryPressure() empties every cache alive.
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class NSCacheBase {
  public:
    explicit NSCacheBase(std::string name);
    virtual ~NSCacheBase();
    NSCacheBase(const NSCacheBase&) = delete;
    NSCacheBase& operator=(const NSCacheBase&) = delete;

    const std::string& name() const { return name_; }
    virtual void removeAllObjects() = 0;

    static void simulateMemoryPressure();

  private:
    std::string name_;
};

template <class Key, class Object, class Hash = std::hash<Key>>
class NSCache : public NSCacheBase {
  public:
    using NSCacheBase::NSCacheBase;

    std::optional<Object> objectForKey(const Key& key) const {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(key);
        if (it == entries_.end()) return std::nullopt;
        return it->second;
    }
    void setObject(Object object, const Key& key) {
        std::lock_guard lock(mutex_);
        entries_.insert_or_assign(key, std::move(object));
    }
    void removeObjectForKey(const Key& key) {
        std::lock_guard lock(mutex_);
        entries_.erase(key);
    }
    void removeAllObjects() override {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::unordered_map<Key, Object, Hash> entries_;
};
