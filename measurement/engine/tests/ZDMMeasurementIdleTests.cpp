#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMMeasurementIdle.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "platform/dispatch/DispatchQueue.h"

namespace {
class MeasurementIdle : public EngineFixture {};

// Before the start the operation queue holds what was queued: nothing runs it, so it is not awaited.
TEST_F(MeasurementIdle, HeldOperationsOfTheUnstartedFacadeDoNotCount) {
    bool ran = false;
    ZDMAnalytics::queueOperationWithBlock([&] { ran = true; });
    EXPECT_TRUE(ZDMWaitUntilMeasurementIdle(20));
    EXPECT_FALSE(ran);
}

// A block on a queue, and what it hands on to the next queue, are awaited until they have run.
TEST_F(MeasurementIdle, WorkOnTheFacadeQueuesIsAwaitedUntilItHasRun) {
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<bool> handedOn{false};
    ZDMAnalytics::dispatchAsyncOnSerialQueue([released] { released.wait(); });
    ZDMAnalytics::dispatchAsyncOnSerialQueue(
        [&] { ZDMAnalytics::dispatchAsyncOnSerialQueue([&] { handedOn = true; }); });
    EXPECT_FALSE(ZDMWaitUntilMeasurementIdle(0.05));
    release.set_value();
    EXPECT_TRUE(ZDMWaitUntilMeasurementIdle(20));
    EXPECT_TRUE(handedOn.load());
}
}  // namespace
