#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/engine/ZDMAdExposureReporter.h"
#include "measurement/engine/ZUDAAdExposureReporter.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

struct LoggedEvent {
    std::string origin;
    std::string name;
    Dictionary parameters;
};

// A reporter whose app activity and current screen the test sets, with the events it logs recorded.
class AdExposureReporterTest : public EngineFixture {
  protected:
    AdExposureReporterTest() {
        monitor_->setLogLevel(8);
        monitor_->setVerboseLoggingEnabled(true);
        clock_->setBootTime(clock_->now() - 1000);
        observer_ = ZDMAnalytics::addInternalEventObserver(
            [this](const std::string& origin, const std::string& name, const Dictionary& parameters) {
                std::lock_guard lock(mutex_);
                events_.push_back({origin, name, parameters});
            });
        reporter_ = ZDMAdExposureReporter::make(
            {[this] { return active_.load(); }, [this] { return screen(current_.load()); }});
    }

    static Dictionary screen(int64_t instanceID) {
        return Dictionary{{"_si", Value(ZDMValue::initWithInt64(instanceID))}};
    }
    std::vector<LoggedEvent> takeEvents() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }
    static int64_t int64Parameter(const LoggedEvent& event, const std::string& key) {
        const Value* value = event.parameters.find(key);
        if (!value) return -1;
        const auto zdmValue = value->objectAs<ZDMValue>();
        return zdmValue ? zdmValue->int64Value() : -1;
    }
    static std::string stringParameter(const LoggedEvent& event, const std::string& key) {
        const Value* value = event.parameters.find(key);
        if (!value) return "";
        const auto zdmValue = value->objectAs<ZDMValue>();
        return zdmValue ? zdmValue->stringValue().value_or("") : "";
    }
    // Level 5 goes to the monitor only: its last report is the refusal's.
    std::string lastWarning() {
        const std::string sampled = lastSampledMessage();
        return sampled.starts_with("W:") ? sampled.substr(2) : sampled;
    }
    bool logged(int64_t code) {
        const auto codes = loggedCodes();
        return std::find(codes.begin(), codes.end(), code) != codes.end();
    }

    std::atomic<bool> active_{true};
    std::atomic<int64_t> current_{1};
    std::mutex mutex_;
    std::vector<LoggedEvent> events_;
    Cancellable observer_;
    std::shared_ptr<ZDMAdExposureReporter> reporter_;
};

TEST_F(AdExposureReporterTest, TheLastEndOfAUnitLogsItsExposureAndThenTheOverallOne) {
    reporter_->beginAdUnitExposure("A");
    reporter_->beginAdUnitExposure("A");
    clock_->advance(2.5);
    reporter_->endAdUnitExposure("A");
    EXPECT_TRUE(takeEvents().empty());

    reporter_->endAdUnitExposure("A");
    const auto events = takeEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].origin, "am");
    EXPECT_EQ(events[0].name, "_xu");
    EXPECT_EQ(stringParameter(events[0], "_ai"), "A");
    EXPECT_EQ(int64Parameter(events[0], "_xt"), 2500);
    EXPECT_EQ(int64Parameter(events[0], "_si"), 1);
    EXPECT_EQ(events[1].origin, "am");
    EXPECT_EQ(events[1].name, "_xa");
    EXPECT_EQ(int64Parameter(events[1], "_xt"), 2500);
    EXPECT_FALSE(events[1].parameters.contains("_ai"));

    // The unit is gone: a third end is refused.
    reporter_->endAdUnitExposure("A");
    EXPECT_EQ(lastWarning(), "Unknown ad unit. Ignoring ad unit with ID");
    EXPECT_TRUE(takeEvents().empty());
}

TEST_F(AdExposureReporterTest, ExposuresShorterThanASecondAreNotLogged) {
    struct Case {
        double seconds;
        size_t events;
    };
    for (const Case& c : {Case{0.999, 0}, Case{1.0, 2}}) {
        SCOPED_TRACE(c.seconds);
        reporter_->beginAdUnitExposure("A");
        clock_->advance(c.seconds);
        reporter_->endAdUnitExposure("A");
        EXPECT_EQ(takeEvents().size(), c.events);
    }
    EXPECT_TRUE(logged(1009));
    EXPECT_TRUE(logged(1006));
}

TEST_F(AdExposureReporterTest, EmptyIDsAndAnInactiveAppOrDisabledReportingLogNoEvent) {
    reporter_->beginAdUnitExposure("");
    EXPECT_EQ(lastWarning(), "Ignoring call to begin ad unit exposure. Received empty ad unit ID");
    reporter_->endAdUnitExposure("");
    EXPECT_EQ(lastWarning(), "Ignoring call to end ad unit exposure. Received empty ad unit ID");

    reporter_->beginAdUnitExposure("A");
    clock_->advance(5);
    active_ = false;
    reporter_->endAdUnitExposure("A");
    EXPECT_TRUE(logged(1011));
    EXPECT_TRUE(logged(1010));

    active_ = true;
    reporter_->setReportingEnabled(false);
    EXPECT_FALSE(reporter_->isReportingEnabled());
    reporter_->beginAdUnitExposure("B");
    clock_->advance(5);
    reporter_->endAdUnitExposure("B");
    // The unit's refusal (1007) comes first, the overall one (1005) last.
    EXPECT_EQ(lastWarning(), "Ad exposure not logged. Reporting is disabled.");
    reporter_->beginAdUnitExposure("C");
    reporter_->beginAdUnitExposure("D");
    clock_->advance(5);
    reporter_->endAdUnitExposure("C");
    EXPECT_EQ(lastWarning(), "Ad unit exposure not logged. Reporting is disabled.");
    EXPECT_TRUE(takeEvents().empty());
}

TEST_F(AdExposureReporterTest, AtAHundredUnitsNewAndTrackedIDsAreRefused) {
    for (int unit = 0; unit < 100; ++unit) reporter_->beginAdUnitExposure("unit" + std::to_string(unit));
    const std::string refused = "Reached limit on ad units. Ignoring ad unit with ID";
    // A cut waits for the begins before it; at no time it logs nothing (sub-second, level 8).
    const auto waitForBegins = [this] { reporter_->logExposureEventsWithScreenParameters(screen(1)); };
    reporter_->beginAdUnitExposure("unit100");
    waitForBegins();
    EXPECT_EQ(lastWarning(), refused);
    reporter_->endAdUnitExposure("unit100");
    EXPECT_EQ(lastWarning(), "Unknown ad unit. Ignoring ad unit with ID");
    reporter_->beginAdUnitExposure("unit0");
    waitForBegins();
    EXPECT_EQ(lastWarning(), refused);
    takeEvents();
    clock_->advance(2);
    // unit0 was counted once only, so one end closes it.
    reporter_->endAdUnitExposure("unit0");
    const auto events = takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(stringParameter(events[0], "_ai"), "unit0");
}

TEST_F(AdExposureReporterTest, EveryCutLogsEachOpenUnitAndTheOverallTimeAndKeepsTheUnitsOpen) {
    // Each trigger cuts after 3 s; the screen change reports the previous screen (7).
    const std::vector<std::pair<std::string, std::function<void()>>> triggers{
        {"screen change", [this] { reporter_->handleScreenDidChangeFromScreen(screen(7), screen(8)); }},
        {"engagement timer",
         [] {
             NotificationCenter::defaultCenter().post(
                 ZDMAdExposureReporter::kEngagementTimerDidFireNotification);
         }},
        {"resignation", [this] { reporter_->handleAppWillResignActiveWithScreen(screen(7)); }},
    };
    current_ = 7;
    reporter_->beginAdUnitExposure("A");
    clock_->advance(1);
    reporter_->beginAdUnitExposure("B");
    clock_->advance(2);
    reporter_->handleAppDidBecomeActive();  // restarts all clocks: A and B at 0 from here
    for (const auto& [name, trigger] : triggers) {
        SCOPED_TRACE(name);
        clock_->advance(3);
        trigger();
        auto events = takeEvents();
        ASSERT_EQ(events.size(), 3u);
        std::sort(events.begin(), events.begin() + 2, [](const auto& a, const auto& b) {
            return stringParameter(a, "_ai") < stringParameter(b, "_ai");
        });
        EXPECT_EQ(events[0].name, "_xu");
        EXPECT_EQ(stringParameter(events[0], "_ai"), "A");
        EXPECT_EQ(events[1].name, "_xu");
        EXPECT_EQ(stringParameter(events[1], "_ai"), "B");
        EXPECT_EQ(events[2].name, "_xa");
        for (const auto& event : events) {
            EXPECT_EQ(int64Parameter(event, "_xt"), 3000);
            EXPECT_EQ(int64Parameter(event, "_si"), 7);
        }
    }
    // Both units stay open.
    clock_->advance(1.5);
    reporter_->endAdUnitExposure("A");
    reporter_->endAdUnitExposure("B");
    const auto events = takeEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(int64Parameter(events[0], "_xt"), 1500);
}

TEST_F(AdExposureReporterTest, TimeBetweenResigningAndBecomingActiveIsNotCounted) {
    reporter_->beginAdUnitExposure("A");
    clock_->advance(2);
    reporter_->handleAppWillResignActiveWithScreen(std::nullopt);  // current screen
    EXPECT_EQ(takeEvents().size(), 2u);
    active_ = false;
    clock_->advance(600);
    active_ = true;
    reporter_->handleAppDidBecomeActive();
    clock_->advance(4);
    reporter_->endAdUnitExposure("A");
    const auto events = takeEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(int64Parameter(events[0], "_xt"), 4000);
    EXPECT_EQ(int64Parameter(events[1], "_xt"), 4000);
    EXPECT_EQ(int64Parameter(events[0], "_si"), 1);
}

TEST_F(AdExposureReporterTest, ScreenChangeWithoutAPreviousScreenCutsNothing) {
    reporter_->beginAdUnitExposure("A");
    clock_->advance(2);
    reporter_->handleScreenDidChangeFromScreen(std::nullopt, screen(2));
    EXPECT_TRUE(takeEvents().empty());
}

TEST(ZUDAAdExposureReporter, IsTheReportersSharedInstance) {
    static_assert(std::is_base_of_v<ZDMAdExposureReporter, ZUDAAdExposureReporter>);
    EXPECT_EQ(ZUDAAdExposureReporter::sharedInstance(), ZDMAdExposureReporter::sharedInstance());
    EXPECT_TRUE(ZDMAdExposureReporter::sharedInstance()->isReportingEnabled());
}

}  // namespace
