#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMMeasurementIdle.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "testing/EnvironmentOverride.h"

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

// The engine's requests are awaited until their completions have run, so a request that a
// completion starts (the upload after the configuration fetch) is awaited too.
TEST_F(MeasurementIdle, ARequestStartedFromAnothersCompletionIsAwaitedUntilAnswered) {
    LocalHttpServer server;
    EnvironmentOverride environment;
    environment.set("QUORVANE_MEASUREMENT_URL", server.url().c_str());
    ZDMMeasurement::initializeSharedInstanceWithAppID("1:123456:ios:abcdef", true, false, {});
    const auto engine = ZDMMeasurement::sharedInstance();
    ASSERT_TRUE(engine && engine->network());
    ASSERT_TRUE(ZDMWaitUntilMeasurementIdle(20));

    server.hold("/second");
    const auto network = engine->network();
    const auto worker = engine->scheduler()->workerQueue();
    std::atomic<bool> answered{false};
    network->getURL(server.url("/first"), std::nullopt, worker, false,
                    [&, network, worker](auto, auto, auto) {
                        network->getURL(server.url("/second"), std::nullopt, worker, false,
                                        [&](auto, auto, auto) { answered = true; });
                    });
    ASSERT_TRUE(server.waitForRequests("/second", 1));
    EXPECT_FALSE(ZDMWaitUntilMeasurementIdle(0.2));
    server.release();
    EXPECT_TRUE(ZDMWaitUntilMeasurementIdle(20));
    EXPECT_TRUE(answered.load());
}
}  // namespace
