#include "DudIzizoz/Internals/Util/DIZDispatcherUtil.h"

#include <condition_variable>
#include <mutex>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"

void DIZDispatcherUtil::performBlockOnMainThread(std::function<void()> block) {
    DispatchQueue::main()->async(std::move(block));
}

bool DIZDispatcherUtil::dispatchSyncWithTimeout(double seconds, const std::shared_ptr<DispatchQueue>& queue,
                                                std::function<void()> block) {
    // Shared with the block and the timer, either of which may outlive this call.
    struct Wait {
        std::mutex lock;
        std::condition_variable changed;
        bool finished = false;
        bool timedOut = false;
    };
    auto wait = std::make_shared<Wait>();
    auto signal = [wait](bool& flag) {
        {
            std::lock_guard guard(wait->lock);
            flag = true;
        }
        wait->changed.notify_all();
    };
    // The timeout runs on the process clock, so a test moves it forward instead of sleeping.
    auto clock = Clock::shared();
    auto timer =
        clock->schedule(seconds, DispatchQueue::global(), [wait, signal] { signal(wait->timedOut); });
    queue->async([wait, signal, block = std::move(block)] {
        block();
        signal(wait->finished);
    });
    std::unique_lock lock(wait->lock);
    wait->changed.wait(lock, [&] { return wait->finished || wait->timedOut; });
    bool finished = wait->finished;
    lock.unlock();
    clock->cancel(timer);
    return finished;
}
