#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/OperationQueue.h"
#include "testing/Eventually.h"

namespace {

// Records the order operations ran in and how many ran at once.
struct Recorder {
    std::mutex mutex;
    std::vector<int> ran;
    std::atomic<int> active{0};
    std::atomic<int> mostActive{0};

    OperationQueue::Block operation(int id) {
        return [this, id] {
            const int now = ++active;
            for (int seen = mostActive; now > seen && !mostActive.compare_exchange_weak(seen, now);) {
            }
            std::this_thread::yield();
            {
                std::lock_guard lock(mutex);
                ran.push_back(id);
            }
            --active;
        };
    }
    std::vector<int> order() {
        std::lock_guard lock(mutex);
        return ran;
    }
};

TEST(OperationQueue, KeepsItsNameAndLimitAndStartsUnsuspended) {
    OperationQueue queue;
    EXPECT_EQ(queue.maxConcurrentOperationCount(), OperationQueue::kDefaultMaxConcurrentOperationCount);
    EXPECT_FALSE(queue.isSuspended());
    queue.setName("Q");
    EXPECT_EQ(queue.name(), "Q");
    const std::pair<int64_t, int64_t> limits[] = {{3, 3}, {1, 1}, {0, 1}, {-5, 1}, {-1, -1}};
    for (const auto& [given, kept] : limits) {
        queue.setMaxConcurrentOperationCount(given);
        EXPECT_EQ(queue.maxConcurrentOperationCount(), kept) << given;
    }
}

TEST(OperationQueue, OneAtATimeRunsInCallOrderOnceResumed) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    queue.setSuspended(true);
    Recorder recorder;
    for (int id = 0; id < 200; ++id) queue.addOperation(recorder.operation(id));
    EXPECT_EQ(queue.operationCount(), 200u);
    EXPECT_TRUE(recorder.order().empty()) << "a suspended queue starts nothing";

    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    std::vector<int> expected;
    for (int id = 0; id < 200; ++id) expected.push_back(id);
    EXPECT_EQ(recorder.order(), expected);
    EXPECT_EQ(recorder.mostActive, 1);
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueue, WithoutALimitOperationsRunSideBySide) {
    OperationQueue queue;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> started{0};
    for (int i = 0; i < 3; ++i)
        queue.addOperation([&, released] {
            ++started;
            released.wait();
        });
    EXPECT_TRUE(eventually([&] { return started == 3; }));
    EXPECT_EQ(queue.operationCount(), 3u);
    release.set_value();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueue, SuspendingLetsTheRunningOperationFinishAndHoldsTheRest) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    std::promise<void> entered, release;
    std::atomic<bool> secondRan{false};
    queue.addOperation([&] {
        entered.set_value();
        release.get_future().wait();
    });
    queue.addOperation([&] { secondRan = true; });
    entered.get_future().wait();
    queue.setSuspended(true);
    release.set_value();
    EXPECT_TRUE(eventually([&] { return queue.operationCount() == 1; }));
    EXPECT_FALSE(secondRan);
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(secondRan);
}

TEST(OperationQueue, WaitingOperationsOfADroppedQueueNeverRun) {
    auto ran = std::make_shared<std::atomic<bool>>(false);
    {
        OperationQueue queue;
        queue.setSuspended(true);
        queue.addOperation([ran] { *ran = true; });
    }
    OperationQueue other;
    other.addOperation([] {});
    other.waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(*ran);
}

}  // namespace
