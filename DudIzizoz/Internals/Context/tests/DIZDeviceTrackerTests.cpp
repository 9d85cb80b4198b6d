#include <gtest/gtest.h>

#include <regex>

#include "DudIzizoz/Internals/Context/DIZArchiverUtil.h"
#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"
#include "DudIzizoz/Internals/Model/DIZAbstractLog.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/windowserver/SimulatedDesktop.h"
#include "testing/EnvironmentOverride.h"

namespace {

class DIZDeviceTrackerTest : public ::testing::Test {
  protected:
    TestHome home{DIZHostBundle()};
    ScopedManualClock clock;
    EnvironmentOverride environment;

    DIZDeviceTrackerTest() {
        DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
        DIZDeviceTracker::resetSharedInstance();
        SimulatedDesktop::shared().reset();
    }
    ~DIZDeviceTrackerTest() override {
        DIZDeviceTracker::resetSharedInstance();
        SimulatedDesktop::shared().reset();
    }

    // A new process run.
    static std::shared_ptr<DIZDeviceTracker> launch() {
        DIZDeviceTracker::resetSharedInstance();
        return DIZDeviceTracker::sharedInstance();
    }
};

TEST_F(DIZDeviceTrackerTest, RecordHoldsTheFixedAndTheMachinesFacts) {
    SimulatedDesktop::shared().plugScreen({0, CGRect(0, 0, 1440.7, 900.2)});
    auto device = launch()->device();
    EXPECT_EQ(device->sdkName(), "dudizizoz.macos");
    EXPECT_EQ(device->sdkVersion(), "5.0.3");
    EXPECT_EQ(device->osName(), "macOS");
    EXPECT_EQ(device->oemName(), "Apple");
    EXPECT_EQ(device->appVersion(), "1.0.0");
    EXPECT_EQ(device->appBuild(), "1");
    EXPECT_EQ(device->appNamespace(), "com.quorvane.agent");
    EXPECT_EQ(device->screenSize(), "1440x900");
    EXPECT_EQ(device->carrierName(), std::nullopt);
    EXPECT_TRUE(std::regex_match(*device->osVersion(), std::regex(R"(\d+\.\d+\.\d+)")))
        << *device->osVersion();
    EXPECT_TRUE(device->model() && !device->model()->empty());
    EXPECT_TRUE(device->isValid());

    SimulatedDesktop::shared().reset();
    EXPECT_EQ(DIZDeviceTracker::screenSize(), "0x0");
    SimulatedDesktop::shared().plugScreen({0, CGRect(0, 0, 1e308, 900)});
    EXPECT_EQ(DIZDeviceTracker::screenSize(), "2147483647x900");
}

TEST_F(DIZDeviceTrackerTest, TimeZoneOffsetsBecomeMinutesAndCoreSchemaText) {
    struct Case {
        const char* tz;  // POSIX form: the sign is west of UTC
        int64_t minutes;
        const char* text;
    } cases[] = {{"XXX-5:45", 345, "+05:45"}, {"NST3:30", -210, "-03:30"}, {"UTC0", 0, "+00:00"}};
    for (const auto& c : cases) {
        environment.set("TZ", c.tz);
        DIZDeviceTracker::refreshDeviceNextTime();
        auto log = std::make_shared<DIZAbstractLog>();
        log->setDevice(DIZDeviceTracker::sharedInstance()->device());
        EXPECT_EQ(log->device()->timeZoneOffset(), c.minutes) << c.tz;
        auto converted = log->toCoreSchemaLogForTargetToken("key-token", 0);
        EXPECT_EQ(converted->ext()->locExt()->tz(), c.text) << c.tz;
    }
}

TEST_F(DIZDeviceTrackerTest, LocaleComesFromThePreferredLanguageAndTheRegion) {
    struct Case {
        const char* language;
        const char* lang;
        const char* locale;
    } cases[] = {
        {nullptr, "en_GB.UTF-8", "en_GB"},
        {"zh_Hans_CN", "en_US.UTF-8", "zh-Hans_CN"},
        {"fr", "en_CA.UTF-8", "fr_CA"},
        {"de", "C", "de"},
    };
    environment.set("LC_ALL", nullptr);
    environment.set("LC_MESSAGES", nullptr);
    for (const auto& c : cases) {
        environment.set("LANGUAGE", c.language);
        environment.set("LANG", c.lang);
        EXPECT_EQ(DIZDeviceTracker::locale(c.lang), c.locale) << c.lang;
    }
}

TEST_F(DIZDeviceTrackerTest, HistoryKeepsTheFiveNewestRunsInOrder) {
    std::vector<Date> starts;
    for (int run = 0; run < 6; ++run) {
        clock->advance(60);
        starts.push_back(Date::now());
        launch();
    }
    auto tracker = DIZDeviceTracker::sharedInstance();
    auto history = tracker->deviceHistory();
    ASSERT_EQ(history.size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(history[i]->timestamp(), starts[i + 1]);

    EXPECT_EQ(tracker->deviceForTimestamp(starts[0]), history.front()->device()) << "before all: the oldest";
    EXPECT_EQ(tracker->deviceForTimestamp(starts[3]), history[1]->device())
        << "an exact time: the entry before";
    EXPECT_EQ(tracker->deviceForTimestamp(starts[3].addingTimeInterval(1)), history[2]->device());
    EXPECT_EQ(tracker->deviceForTimestamp(starts[5].addingTimeInterval(1)), history.back()->device());
    EXPECT_EQ(tracker->deviceForTimestamp(std::nullopt), tracker->device());

    tracker->clearDevices();
    ASSERT_EQ(tracker->deviceHistory().size(), 1u);
    EXPECT_EQ(tracker->deviceHistory().front()->timestamp(), starts[5]);
    tracker->clearDevices();
    EXPECT_EQ(launch()->deviceHistory().size(), 2u) << "the cleared history was stored";
}

TEST_F(DIZDeviceTrackerTest, WrapperReplacesTheNewestEntryAndCountryAddsOne) {
    auto tracker = launch();
    clock->advance(10);
    launch();
    tracker = DIZDeviceTracker::sharedInstance();
    ASSERT_EQ(tracker->deviceHistory().size(), 2u);

    tracker->setWrapperSdk(std::make_shared<DIZWrapperSdk>("1.2", "wrapper", std::nullopt, std::nullopt,
                                                           std::nullopt, std::nullopt));
    auto history = tracker->deviceHistory();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history.back()->device()->wrapperSdkName(), "wrapper");
    EXPECT_EQ(tracker->device()->wrapperSdkVersion(), "1.2");

    tracker->setCountryCode("CA");
    EXPECT_EQ(tracker->deviceHistory().size(), 2u);
    EXPECT_EQ(tracker->device()->carrierCountry(), "CA");
    EXPECT_EQ(tracker->deviceHistory().size(), 3u);
    EXPECT_EQ(tracker->device()->wrapperSdkName(), "wrapper") << "the wrapper outlives the rebuild";
}

TEST_F(DIZDeviceTrackerTest, UnreadableStoredHistoryStartsAfresh) {
    DIZLogCapture capture;
    DIZDudIzizozUserDefaults::shared()->setObject(Value(dataFromString("bplist00 broken")), "PastDevices");
    EXPECT_EQ(launch()->deviceHistory().size(), 1u);
    EXPECT_EQ(capture.entries().front().level, DIZLogLevel::Error);
}

}  // namespace
