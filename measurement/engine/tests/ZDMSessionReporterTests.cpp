#include <gtest/gtest.h>

#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/engine/tests/ForegroundFixture.h"
#include "measurement/foundation/ZDMAlarm.h"
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

namespace {

class ForegroundSessions : public ForegroundFixture {
  protected:
    std::shared_ptr<ZDMPersistedConfig> persisted_ = engine_->persistedConfig();
};

TEST_F(ForegroundSessions, ActivationAfterTheTimeoutStartsTheNextSession) {
    struct Case {
        double inactive;
        bool starts;
    } cases[] = {{1801, true}, {1800, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inactive);
        const int64_t before = countOf(23078);
        storeProperty("_sid", 111);
        storeProperty("_sno", 4);
        persisted_->setSessionNumber(4);
        persisted_->setLastSessionActivityClockTime(clock_->now() - c.inactive);
        const auto start = static_cast<int64_t>(clock_->now());
        const size_t startsBefore = stored("_s").size();

        activate();

        const auto starts = stored("_s");
        if (!c.starts) {
            EXPECT_EQ(starts.size(), startsBefore);
            EXPECT_EQ(countOf(23078), before) << "nothing removed";
            EXPECT_EQ(storedProperty("_sid"), 111);
            EXPECT_EQ(storedProperty("_sno"), 4);
        } else {
            ASSERT_EQ(starts.size(), startsBefore + 1);
            EXPECT_EQ(starts.back().origin, "auto");
            EXPECT_EQ(starts.back().integer("_sid"), start);
            EXPECT_EQ(starts.back().integer("_sno"), 5);
            EXPECT_EQ(countOf(23078), before + 2) << "\"_sid\" and \"_sno\" removed first";
            EXPECT_EQ(storedProperty("_sid"), start);
            EXPECT_EQ(storedProperty("_sno"), 5);
            EXPECT_EQ(persisted_->sessionNumber(), 5);
        }
        deactivate();
    }
}

TEST_F(ForegroundSessions, NoSessionStartsWhileReportingIsOff) {
    persisted_->setLastSessionActivityClockTime(0);
    sessionReporter()->setReportingEnabled(false);
    const auto before = storedNamesAmong({"_s"});
    activate();
    EXPECT_EQ(storedNamesAmong({"_s"}), before);
}

TEST_F(ForegroundSessions, TheEngagementTimerReportsEachHourInFront) {
    std::vector<std::string> sequence;
    auto fired = NotificationCenter::defaultCenter().addObserver(
        ZDMSessionReporter::kEngagementTimerDidFireNotification, [&](const Notification& notification) {
            EXPECT_EQ(notification.object, nullptr);
            sequence.push_back("fired");
        });
    auto engagement = ZDMAnalytics::addInternalEventObserver(
        [&](const std::string&, const std::string& name, const Dictionary&) {
            if (name == "_e") sequence.push_back("_e");
        });
    activate();
    screenView({{"screen_name", Value("Spaces")}});
    clock_->advance(7200);
    settle();

    EXPECT_EQ(sequence, (std::vector<std::string>{"fired", "_e", "fired", "_e"}));
    const auto engagements = stored("_e");
    ASSERT_EQ(engagements.size(), 2u);
    for (const auto& event : engagements) {
        EXPECT_EQ(event.origin, "auto");
        EXPECT_EQ(event.integer("_et"), 3600000);
        EXPECT_FALSE(event.has("_fr"));
    }

    clock_->advance(0.5);
    screenView({{"screen_name", Value("General")}});
    EXPECT_EQ(stored("_e").size(), 2u) << "half a second of engagement is not reported";
    EXPECT_EQ(stored("_vs").size(), 2u);
}

TEST_F(ForegroundSessions, ResigningReportsEngagementAndStopsTheTimer) {
    struct Case {
        const char* backgroundedTracking;
        std::vector<std::string> events;
    } cases[] = {{"0", {"_e"}}, {"1", {"_e", "_ab"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.backgroundedTracking);
        setting("measurement.lifecycle.app_backgrounded_tracking", c.backgroundedTracking);
        activate();
        clock_->advance(90);
        const auto before = storedNamesAmong({"_e", "_ab"});

        deactivate();

        auto names = storedNamesAmong({"_e", "_ab"});
        names.erase(names.begin(), names.begin() + before.size());
        EXPECT_EQ(names, c.events);
        EXPECT_EQ(stored("_e").back().integer("_et"), 90000);
        if (c.events.size() == 2) {
            EXPECT_FALSE(stored("_ab").back().has("_et")) << "\"_et\" only when efficient";
        }
        EXPECT_FALSE(sessionReporter()->userEngagementTimer()->scheduledTimestamp());
        clock_->advance(7200);
        settle();
        EXPECT_EQ(storedNamesAmong({"_e", "_ab"}).size(), before.size() + names.size())
            << "the timer was cancelled";
    }
}

TEST_F(ForegroundSessions, ReportingArmsTheTimerWhileActiveAndStopsIt) {
    auto reporter = sessionReporter();
    const auto armed = [&] { return reporter->userEngagementTimer()->scheduledTimestamp().has_value(); };
    EXPECT_FALSE(armed()) << "not while inactive";
    activate();
    EXPECT_TRUE(armed());
    onWorkerQueue(*engine_, [&] { reporter->setReportingEnabled(false); });
    RunLoop::runUntilIdle();
    EXPECT_FALSE(armed()) << "the engine's thread hands the timer to the main queue";
    reporter->setReportingEnabled(true);
    EXPECT_TRUE(armed());
}

TEST_F(ForegroundSessions, EfficientModeLeavesCoveredEngagementToTheEventsThatCarryIt) {
    setting("measurement.collection.efficient_engagement_reporting_enabled", "1");
    setting("measurement.collection.redundant_engagement_removal_enabled", "1");
    setting("measurement.lifecycle.app_backgrounded_tracking", "1");
    persisted_->setLastSessionActivityClockTime(clock_->now());  // the session goes on
    activate();
    screenView({{"screen_name", Value("Spaces")}});
    clock_->advance(5);
    screenView({{"screen_name", Value("General")}});
    clock_->advance(3);
    deactivate();
    EXPECT_EQ(storedNamesAmong({"_vs", "_e", "_ab"}), (std::vector<std::string>{"_vs", "_vs", "_ab"}));
    EXPECT_EQ(stored("_vs").back().integer("_et"), 5000);
    EXPECT_EQ(stored("_ab").back().integer("_et"), 3000);
}

TEST_F(ForegroundSessions, EngagementIsCappedAtAnHourAndNeverNegative) {
    activate();
    auto reporter = sessionReporter();
    reporter->userEngagementTimer()->cancel();
    clock_->setWallTime(clock_->now() + 5000);  // the timer is on the monotonic clock; uptime is not
    EXPECT_EQ(reporter->logEngagementEventAndReturnTimeWithScreen(nullptr, false), 3600000);
    clock_->setWallTime(clock_->now() - 10);
    EXPECT_EQ(reporter->incurredEngagementTime(), 0);
    EXPECT_EQ(countOf(33004), 1);
}

TEST_F(ForegroundSessions, NothingIsReportedWhileTheAppIsInactive) {
    auto reporter = sessionReporter();
    const auto before = storedNamesAmong({"_e", "_s", "_ab"});
    EXPECT_EQ(reporter->logEngagementEventAndReturnTimeWithScreen(nullptr, false), 0);
    reporter->logSessionStartEvent();
    setting("measurement.lifecycle.app_backgrounded_tracking", "1");
    reporter->logAppBackgroundEvent(10);
    settle();
    EXPECT_EQ(storedNamesAmong({"_e", "_s", "_ab"}), before);
    EXPECT_EQ(countOf(33006), 1);
    EXPECT_EQ(countOf(33005), 1);
    EXPECT_EQ(countOf(33008), 1);
}

TEST_F(ForegroundSessions, ADestroyedReporterLeavesNoTimerBehind) {
    activate();
    auto reporter = ZDMSessionReporter::initWithPersistedConfig(persisted_);
    reporter->setReportingEnabled(true);
    ASSERT_TRUE(reporter->userEngagementTimer()->scheduledTimestamp());
    std::weak_ptr<ZDMAlarm> timer = reporter->userEngagementTimer();
    reporter.reset();
    EXPECT_TRUE(timer.expired());
    sessionReporter()->userEngagementTimer()->cancel();
    clock_->advance(7200);
    settle();
    EXPECT_TRUE(stored("_e").empty());
}

}  // namespace
