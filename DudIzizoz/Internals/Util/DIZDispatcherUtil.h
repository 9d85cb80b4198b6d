#pragma once
// Hand-offs to the main thread and bounded waits on other queues.
#include <functional>
#include <memory>

class DispatchQueue;

class DIZDispatcherUtil {
  public:
    // Schedules `block` on the main thread and returns at once.
    static void performBlockOnMainThread(std::function<void()> block);
    // Runs `block` on `queue` and waits until it has finished or `seconds` of the process clock
    // have passed, whichever comes first. True when the block finished in time.
    static bool dispatchSyncWithTimeout(double seconds, const std::shared_ptr<DispatchQueue>& queue,
                                        std::function<void()> block);
};
