#include "platform/dispatch/BackgroundActivity.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/dispatch/DispatchQueue.h"

namespace {
struct Counter {
    std::mutex mutex;
    std::condition_variable idle;
    uint64_t inProgress = 0;
};

// Never destroyed: worker threads may still finish blocks while the process exits.
Counter& counter() {
    static auto* shared = new Counter;
    return *shared;
}
}  // namespace

namespace BackgroundActivity {
void begin() {
    std::lock_guard lock(counter().mutex);
    ++counter().inProgress;
}

void end() {
    auto& c = counter();
    std::lock_guard lock(c.mutex);
    if (c.inProgress > 0 && --c.inProgress == 0) c.idle.notify_all();
}

bool waitUntilIdle(double seconds) {
    auto& c = counter();
    std::unique_lock lock(c.mutex);
    return c.idle.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return c.inProgress == 0; });
}
bool waitUntilSettled(double seconds) {
    constexpr double kPollSeconds = 0.01;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        RunLoop::runUntilIdle();
        if (waitUntilIdle(kPollSeconds) && RunLoop::runUntilIdle() == 0) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
}
}  // namespace BackgroundActivity
