#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/dispatch/DispatchMemoryPressureSource.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"

namespace {

TEST(DispatchMemoryPressureSource, OnlyResumedSourcesOfTheLevelHearAnEvent) {
    auto queue = DispatchQueue::serial("pressure");
    const unsigned long warnOrCritical = DISPATCH_MEMORYPRESSURE_WARN | DISPATCH_MEMORYPRESSURE_CRITICAL;
    auto listening = DispatchMemoryPressureSource::make(warnOrCritical, queue);
    auto idle = DispatchMemoryPressureSource::make(warnOrCritical, queue);
    std::atomic<int> heard{0}, idleHeard{0};
    listening->setEventHandler([&] { heard += static_cast<int>(listening->data()); });
    idle->setEventHandler([&] { ++idleHeard; });
    listening->resume();

    struct Case {
        unsigned long level;
        int heardAfter;
    } cases[] = {{DISPATCH_MEMORYPRESSURE_NORMAL, 0},
                 {DISPATCH_MEMORYPRESSURE_WARN, 2},
                 {DISPATCH_MEMORYPRESSURE_CRITICAL, 6}};
    for (const auto& c : cases) {
        DispatchMemoryPressureSource::deliver(c.level);
        queue->sync([] {});
        EXPECT_EQ(heard, c.heardAfter) << c.level;
    }
    EXPECT_EQ(idleHeard, 0) << "never resumed";

    listening->cancel();
    EXPECT_TRUE(listening->isCancelled());
    DispatchMemoryPressureSource::deliver(DISPATCH_MEMORYPRESSURE_WARN);
    queue->sync([] {});
    EXPECT_EQ(heard, 6) << "cancelled";
}

TEST(DispatchSemaphore, WaitTakesASignalOrTimesOut) {
    auto semaphore = DispatchSemaphore::make(0);
    EXPECT_FALSE(semaphore->wait(0));
    semaphore->signal();
    EXPECT_TRUE(semaphore->wait(0));
    EXPECT_FALSE(semaphore->wait(0)) << "one signal, one wait";
    std::thread signaller([&] { semaphore->signal(); });
    EXPECT_TRUE(semaphore->wait(60));
    signaller.join();
}

}  // namespace
