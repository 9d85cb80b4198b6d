#include <gtest/gtest.h>

#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMUserAttribute.h"

namespace {

class SessionClock : public EngineFixture {
  protected:
    std::shared_ptr<ZDMPersistedConfig> persisted_ = ZDMPersistedConfig::sharedInstance();
    std::shared_ptr<ZDMSessionReporter> reporter_ = ZDMSessionReporter::initWithPersistedConfig(persisted_);
};

TEST_F(SessionClock, ASessionExpiresStrictlyAfterTheTimeoutEitherWay) {
    EXPECT_EQ(reporter_->timeoutSessionInterval(), 1800);
    struct Case {
        double lastActivityAgo;
        bool expired;
    } cases[] = {
        {0, false}, {1800, false}, {1800.001, true}, {-1800, false}, {-1801, true},  // clock moved back
    };
    for (const Case& c : cases) {
        persisted_->setLastSessionActivityClockTime(clock_->now() - c.lastActivityAgo);
        EXPECT_EQ(reporter_->isSessionExpired(), c.expired) << c.lastActivityAgo;
    }
}

TEST_F(SessionClock, ExtendingMovesTheActivityOnlyWithinALiveSession) {
    const double start = clock_->now();
    persisted_->setLastSessionActivityClockTime(start);
    clock_->advance(1000);
    EXPECT_TRUE(reporter_->extendSession());
    EXPECT_EQ(persisted_->lastSessionActivityClockTime(), start + 1000);
    clock_->advance(1801);
    EXPECT_FALSE(reporter_->extendSession());
    EXPECT_EQ(persisted_->lastSessionActivityClockTime(), start + 1000);
}

TEST_F(SessionClock, ANewSessionTakesTheNextNumberAndStartsItsActivityNow) {
    persisted_->setSessionNumber(4);
    persisted_->setLastSessionActivityClockTime(0);
    EXPECT_TRUE(reporter_->isSessionExpired());
    reporter_->updatePropertiesForNewSessionStart();
    EXPECT_EQ(persisted_->sessionNumber(), 5);
    EXPECT_EQ(persisted_->lastSessionActivityClockTime(), clock_->now());
    EXPECT_FALSE(reporter_->isSessionExpired());
}

TEST_F(SessionClock, ANegativeTimeoutIsLoggedAndTakenAsZero) {
    reporter_->setTimeoutSessionInterval(60);
    EXPECT_EQ(reporter_->timeoutSessionInterval(), 60);
    reporter_->setTimeoutSessionInterval(-5);
    EXPECT_EQ(reporter_->timeoutSessionInterval(), 0);
    EXPECT_EQ(countOf(33001), 1);
    persisted_->setLastSessionActivityClockTime(clock_->now());
    EXPECT_FALSE(reporter_->isSessionExpired()) << "no time passed";
    clock_->advance(0.001);
    EXPECT_TRUE(reporter_->isSessionExpired());
}

TEST_F(SessionClock, SessionPropertiesCarryTheStartSecondAndTheNumber) {
    persisted_->setSessionNumber(7);
    const auto sessionID = reporter_->sessionIDPropertyWithTimestamp(1767225600.75);
    ASSERT_NE(sessionID, nullptr);
    EXPECT_EQ(sessionID->origin(), "auto");
    EXPECT_EQ(sessionID->name(), "_sid");
    EXPECT_EQ(sessionID->value()->int64Value(), 1767225600);
    EXPECT_EQ(sessionID->lastSetTimestamp(), 1767225600.75);
    clock_->advance(42);
    const auto number = reporter_->sessionNumberProperty();
    ASSERT_NE(number, nullptr);
    EXPECT_EQ(number->name(), "_sno");
    EXPECT_EQ(number->value()->int64Value(), 7);
    EXPECT_EQ(number->lastSetTimestamp(), clock_->now());
}

TEST_F(SessionClock, ReportingIsASwitchOfItsOwn) {
    EXPECT_FALSE(reporter_->isReportingEnabled());
    reporter_->setReportingEnabled(true);
    EXPECT_TRUE(reporter_->isReportingEnabled());
}

}  // namespace
