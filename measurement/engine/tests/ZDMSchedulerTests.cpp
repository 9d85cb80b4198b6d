#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "platform/dispatch/DispatchQueue.h"

namespace {

class Scheduler : public SharedMonitorFixture {
  protected:
    // Logged lines of one code, as "<level> <message>".
    std::vector<std::string> linesWithCode(int64_t code) {
        flush(*monitor_);
        std::vector<std::string> out;
        for (const auto& line : logger_->lines())
            if (line.code == code) out.push_back(std::to_string(line.level) + " " + line.message);
        return out;
    }

    ZDMScheduler scheduler_{ZDMScheduler::kWorkerQueueLabel};
};

TEST_F(Scheduler, TheMainThreadCheckReportsOnlyOnTheMainThread) {
    bool offMain = false;
    std::thread worker([&] { offMain = ZDMScheduler::checkOnBackgroundThreadWithMethodName("uploadData"); });
    worker.join();
    EXPECT_TRUE(offMain);
    EXPECT_EQ(lastSampledMessage(), "");

    struct Case {
        const char* name;
        const char* reported;
    } cases[] = {{"uploadData", "E:Method uploadData should execute on background thread"},
                 {"", "E:Method <empty method name> should execute on background thread"}};
    for (const Case& c : cases) {
        EXPECT_FALSE(ZDMScheduler::checkOnBackgroundThreadWithMethodName(c.name));
        EXPECT_EQ(lastSampledMessage(), c.reported);
    }
}

TEST_F(Scheduler, BlocksFromTwoThreadsRunOneAtATimeEachThreadsInOrder) {
    constexpr int kPerThread = 1000;
    std::atomic<int> inFlight{0}, mostInFlight{0};
    std::vector<int> ran[2];  // touched only on the worker queue
    auto schedule = [&](int thread) {
        for (int i = 0; i < kPerThread; ++i) {
            scheduler_.scheduleOnWorkerQueueBlockID(
                "ZDMSchedulerTests:" + std::to_string(thread), [&, thread, i] {
                    const int now = ++inFlight;
                    int most = mostInFlight.load();
                    while (now > most && !mostInFlight.compare_exchange_weak(most, now)) {
                    }
                    std::this_thread::yield();  // widens the window in which an overlap would show
                    ran[thread].push_back(i);
                    --inFlight;
                });
        }
    };
    std::thread first(schedule, 0), second(schedule, 1);
    first.join();
    second.join();
    scheduler_.dispatchSyncOnWorkerQueueBlockID("ZDMSchedulerTests:1", [] {});

    EXPECT_EQ(mostInFlight.load(), 1);
    for (const auto& order : ran) {
        ASSERT_EQ(order.size(), size_t{kPerThread});
        for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(order[i], i);
    }
}

TEST_F(Scheduler, BlocksRunOnTheLabelledWorkerQueue) {
    std::string label;
    scheduler_.dispatchSyncOnWorkerQueueBlockID("ZDMSchedulerTests:2",
                                                [&] { label = DispatchQueue::currentLabel(); });
    EXPECT_EQ(label, "com.zizoda.measurement.WorkerQueue");
    EXPECT_EQ(scheduler_.workerQueue()->label(), "com.zizoda.measurement.WorkerQueue");
}

TEST_F(Scheduler, EmptyBlocksAreLoggedWithTheirIDAndNotRun) {
    scheduler_.scheduleOnWorkerQueueBlockID("ZDMMeasurement:599", nullptr);
    scheduler_.dispatchSyncOnWorkerQueueBlockID("ZDMMeasurement:1677", nullptr);
    EXPECT_EQ(linesWithCode(30005),
              (std::vector<std::string>{
                  "1 Nil block dispatched asynchronously on worker queue. Block ID=ZDMMeasurement:599."}));
    EXPECT_EQ(linesWithCode(30002),
              (std::vector<std::string>{
                  "1 Nil block dispatched synchronously on worker queue. Block ID=ZDMMeasurement:1677."}));
}

TEST_F(Scheduler, SyncDispatchReturnsAfterItsBlockRanAlsoFromTheWorkerQueue) {
    std::vector<std::string> steps;  // the sync calls order every access
    scheduler_.scheduleOnWorkerQueueBlockID("ZDMSchedulerTests:3",
                                            [&] { steps.push_back("scheduled before"); });
    scheduler_.dispatchSyncOnWorkerQueueBlockID("ZDMSchedulerTests:4", [&] {
        steps.push_back("outer");
        scheduler_.dispatchSyncOnWorkerQueueBlockID("ZDMSchedulerTests:5", [&] { steps.push_back("inner"); });
        steps.push_back("after inner");
    });
    steps.push_back("returned");
    EXPECT_EQ(steps,
              (std::vector<std::string>{"scheduled before", "outer", "inner", "after inner", "returned"}));
    EXPECT_TRUE(linesWithCode(30004).empty());
}

TEST_F(Scheduler, SyncBlockThatThrowsIsLoggedAsFailedAndTheQueueGoesOn) {
    scheduler_.dispatchSyncOnWorkerQueueBlockID("ZDMMeasurement:3100",
                                                [] { throw std::runtime_error("interrupted"); });
    EXPECT_EQ(linesWithCode(30004),
              (std::vector<std::string>{"4 Synchronous task failed. Block ID=ZDMMeasurement:3100"}));
    bool ranAfter = false;
    scheduler_.dispatchSyncOnWorkerQueueBlockID("ZDMSchedulerTests:6", [&] { ranAfter = true; });
    EXPECT_TRUE(ranAfter);
}

TEST_F(Scheduler, TimersOnTheWorkerQueueFollowTheManualClock) {
    std::vector<std::string> steps;  // touched only on the worker queue
    scheduler_.workerQueue()->after(60, [&] { steps.push_back("alarm at 60 s"); });
    scheduler_.scheduleOnWorkerQueueBlockID("ZDMSchedulerTests:7", [&] { steps.push_back("scheduled"); });
    clock_->advance(59);
    scheduler_.dispatchSyncOnWorkerQueueBlockID(
        "ZDMSchedulerTests:8", [&] { EXPECT_EQ(steps, (std::vector<std::string>{"scheduled"})); });
    clock_->advance(1);
    scheduler_.dispatchSyncOnWorkerQueueBlockID("ZDMSchedulerTests:9", [&] {
        EXPECT_EQ(steps, (std::vector<std::string>{"scheduled", "alarm at 60 s"}));
    });
}

}  // namespace
