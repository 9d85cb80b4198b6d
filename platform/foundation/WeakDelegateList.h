#pragma once
// Delegates held weakly, each once, in the order they joined; safe to use from any thread. Callers
// take a snapshot and call it outside the list's lock, so a delegate may join or leave from inside a
// callback, and a slow delegate holds up no other thread.
#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

template <class Delegate>
class WeakDelegateList {
  public:
    void add(const std::shared_ptr<Delegate>& delegate) {
        if (!delegate) return;
        std::lock_guard lock(mutex_);
        std::erase_if(delegates_, [](const auto& held) { return held.expired(); });
        const bool known = std::any_of(delegates_.begin(), delegates_.end(),
                                       [&](const auto& held) { return held.lock() == delegate; });
        if (!known) delegates_.push_back(delegate);
    }

    void remove(const std::shared_ptr<Delegate>& delegate) {
        std::lock_guard lock(mutex_);
        std::erase_if(delegates_,
                      [&](const auto& held) { return held.expired() || held.lock() == delegate; });
    }

    std::vector<std::shared_ptr<Delegate>> snapshot() const {
        std::vector<std::shared_ptr<Delegate>> alive;
        std::lock_guard lock(mutex_);
        for (const auto& held : delegates_)
            if (auto delegate = held.lock()) alive.push_back(std::move(delegate));
        return alive;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<Delegate>> delegates_;
};
