#include "platform/dispatch/DispatchSemaphore.h"

#include <chrono>

void DispatchSemaphore::signal() {
    {
        std::lock_guard guard(mutex_);
        ++value_;
    }
    signalled_.notify_one();
}

bool DispatchSemaphore::wait(double timeoutInSeconds) {
    std::unique_lock guard(mutex_);
    const auto bound = std::chrono::duration<double>(timeoutInSeconds);
    if (!signalled_.wait_for(guard, bound, [this] { return value_ > 0; })) return false;
    --value_;
    return true;
}
