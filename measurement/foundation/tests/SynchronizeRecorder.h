#pragma once
// A configuration store in memory that remembers when it was synchronised, for tests of when the
// persisted values reach the disk.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/foundation/ZDMConfigStore.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/Value.h"

class SynchronizeRecorder : public ZDMConfigStore {
  public:
    std::optional<Value> objectForKey(const std::string& key) override {
        std::lock_guard lock(mutex_);
        if (const Value* value = values_.find(key)) return *value;
        return std::nullopt;
    }
    void setObject(const Value& value, const std::string& key) override {
        std::lock_guard lock(mutex_);
        value.isNull() ? (void)values_.erase(key) : values_.set(key, value);
    }
    void removeObjectForKey(const std::string& key) override { setObject(Value(), key); }
    void clearAllData() override {
        std::lock_guard lock(mutex_);
        values_ = Dictionary();
    }
    void synchronize() override {
        std::lock_guard lock(mutex_);
        synchronized_.push_back(Clock::current().now());
    }
    std::vector<double> synchronized() {
        std::lock_guard lock(mutex_);
        return synchronized_;
    }

  private:
    std::mutex mutex_;
    Dictionary values_;
    std::vector<double> synchronized_;
};
