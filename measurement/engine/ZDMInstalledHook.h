#pragma once
// A callback that a layer above installs into the engine, replaced and read from any thread. A
// reader gets a copy, so the callback runs outside the lock.
#include <mutex>
#include <utility>

template <class Function>
class ZDMInstalledHook {
  public:
    Function get() const {
        std::lock_guard lock(mutex_);
        return function_;
    }

    void set(Function function) {
        std::lock_guard lock(mutex_);
        function_ = std::move(function);
    }

  private:
    mutable std::mutex mutex_;
    Function function_;
};
