#include <gtest/gtest.h>

#include "platform/dispatch/Clock.h"
#include "platform/foundation/NSTimer.h"

TEST(NSTimer, FiresOnTheMainQueueWhenTheClockReachesItUntilInvalidated) {
    ScopedManualClock clock;
    int once = 0, repeated = 0;
    auto single = NSTimer::scheduledTimerWithTimeInterval(2.0, false, [&](NSTimer&) { ++once; });
    auto repeating = NSTimer::scheduledTimerWithTimeInterval(1.0, true, [&](NSTimer& timer) {
        if (++repeated == 3) timer.invalidate();
    });
    clock->advance(1.5);
    EXPECT_EQ(once, 0);
    EXPECT_EQ(repeated, 1);
    clock->advance(10);
    EXPECT_EQ(once, 1);
    EXPECT_FALSE(single->isValid());
    EXPECT_EQ(repeated, 3);

    int cancelled = 0;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(1.0, false, [&](NSTimer&) { ++cancelled; });
    timer->invalidate();
    clock->advance(5);
    EXPECT_EQ(cancelled, 0);
    EXPECT_EQ(clock->pendingTimers(), 0u);
}

// A scheduled timer lives as long as its pending firing, and that as long as the clock holding it:
// letting go of a clock frees the timers it still held.
TEST(NSTimer, APendingTimerIsFreedWithItsClock) {
    std::weak_ptr<NSTimer> pending;
    {
        ScopedManualClock clock;
        pending = NSTimer::scheduledTimerWithTimeInterval(1.0, false, [](NSTimer&) {});
        EXPECT_FALSE(pending.expired()) << "held by its pending firing alone";
    }
    EXPECT_TRUE(pending.expired());
}
