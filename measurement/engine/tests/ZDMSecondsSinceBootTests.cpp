#include <gtest/gtest.h>

#include "measurement/engine/ZDMSecondsSinceBoot.h"
#include "platform/dispatch/Clock.h"

namespace {

TEST(ZDMSecondsSinceBoot, FollowsTheManualClockFromItsBootTime) {
    ScopedManualClock clock;
    clock->setBootTime(clock->now() - 100);
    EXPECT_DOUBLE_EQ(ZDMSecondsSinceBoot(), 100);
    clock->advance(5);
    EXPECT_DOUBLE_EQ(ZDMSecondsSinceBoot(), 105);
}

TEST(ZDMSecondsSinceBoot, IsMinusOneWhenTheBootTimeIsUnreadableOrZero) {
    ScopedManualClock clock;
    clock->setBootTime(std::nullopt);
    EXPECT_EQ(ZDMSecondsSinceBoot(), -1);
    clock->setBootTime(0);
    EXPECT_EQ(ZDMSecondsSinceBoot(), -1);
}

TEST(ZDMSecondsSinceBoot, OnTheSystemClockIsAPositiveUptime) {
    EXPECT_GT(ZDMSecondsSinceBoot(), 0);
}

}  // namespace
