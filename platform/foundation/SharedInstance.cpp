#include "platform/foundation/SharedInstance.h"

#include <vector>

namespace {
struct Resets {
    std::mutex mutex;
    std::vector<std::function<void()>> list;
};

Resets& resets() {
    static auto* registered = new Resets;  // never destroyed, like the instances it resets
    return *registered;
}
}  // namespace

void registerResetForTesting(std::function<void()> reset) {
    std::lock_guard lock(resets().mutex);
    resets().list.push_back(std::move(reset));
}

void resetAllForTesting() {
    std::vector<std::function<void()>> list;
    {
        std::lock_guard lock(resets().mutex);
        list = resets().list;
    }
    // Newest first, as destructors would run; outside the lock, as a dropped instance's destructor
    // may make an instance of its own for the first time.
    for (auto reset = list.rbegin(); reset != list.rend(); ++reset) (*reset)();
}
