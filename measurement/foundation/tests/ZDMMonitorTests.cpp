#include <gtest/gtest.h>
#include <sys/wait.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>

#include "measurement/foundation/ZDMASLLogger.h"
#include "measurement/foundation/ZDMErrors.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Runtime.h"
#include "testing/ChildProcess.h"

namespace {

using Monitor = MonitorFixture;

std::string keyOf(const Value& sample) {
    return sample.asArray() && sample.asArray()->size() == 4 ? (*sample.asArray())[2].stringOr("") : "";
}

TEST_F(Monitor, PrintsAndSamplesByLevel) {
    struct Case {
        int64_t level;
        bool prints;
        bool sampled;
    };
    const Case cases[] = {{0, true, false}, {1, true, true},   {2, false, true},
                          {3, true, false}, {4, true, true},   {5, false, true},
                          {6, true, false}, {7, false, false}, {8, false, false}};
    auto monitor = makeMonitor();
    for (const auto& c : cases) {
        monitor->clearMonitoringData();
        const size_t printedBefore = logger_->lines().size();
        monitor->logWithLevel(c.level, 1000 + c.level, "report");
        flush(*monitor);
        const auto lines = logger_->lines();
        EXPECT_EQ(lines.size() > printedBefore, c.prints) << "level " << c.level;
        if (lines.size() > printedBefore) {
            EXPECT_EQ(lines.back().code, 1000 + c.level);
        }
        const Value sample = storedSample();
        EXPECT_EQ(keyOf(sample).empty(), !c.sampled) << "level " << c.level;
    }
}

TEST_F(Monitor, LevelEightNeedsVerboseLogging) {
    auto monitor = makeMonitor();
    monitor->logWithLevel(8, 2001, "trace");
    // The announcement is itself a level-8 report, checked before the flag changes.
    monitor->setVerboseLoggingEnabled(true);
    monitor->logWithLevel(8, 2002, "trace");
    monitor->setVerboseLoggingEnabled(true);
    flush(*monitor);
    EXPECT_EQ(logger_->codes(), (std::vector<int64_t>{2002, 24003}));
    EXPECT_EQ(monitor->logLevel(), 8);

    monitor->setVerboseLoggingEnabled(false);
    EXPECT_EQ(monitor->logLevel(), 6);
    EXPECT_FALSE(ZDMUserDefaults::standardUserDefaults()->objectForKey(ZDMMonitor::kVerboseLoggingKey));
}

TEST_F(Monitor, ConsoleLineCarriesTheCodeTextAndThePercentOnce) {
    std::mutex mutex;
    std::vector<std::string> printed;
    ZIZLoggerCapture capture([&](int, const std::string& line) {
        std::lock_guard lock(mutex);
        printed.push_back(line);
    });
    auto monitor = ZDMMonitor::make(6, std::make_shared<ZDMASLLogger>(), kVersion);
    monitor->logWithLevel(0, 24000, "Only 5% left %d %s", Value("disk"));
    flush(*monitor);
    std::lock_guard lock(mutex);
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_EQ(printed[0], "<DidAdirezarido>[I-ACS024000] Only 5% left %d %s: disk");
}

TEST_F(Monitor, EncodesContextsForTheSample) {
    const auto exception = std::make_shared<const ExceptionRecord>(
        "NSRangeException", "index 3 beyond bounds",
        std::vector<std::string>{"0 CoreFoundation 0x01 __exceptionPreprocess + 242",
                                 "1 libobjc 0x02 objc_exception_throw + 48",
                                 "2 quorvane 0x03 -[NSArray objectAtIndex:] + 12",
                                 "3 quorvane 0x04 -[ZDMEvent initWithName:] + 96"});
    struct Case {
        Value context;
        std::string encoded;
    };
    const Case cases[] = {
        {Value(150), "100...999"},
        {Value(-150), "-999...-100"},
        {Value(99), "99"},
        {Value(-99), "-99"},
        {Value(150.7), "100...999"},
        {Value(99.5), "10...99"},
        {Value(true), "1"},
        {Value("any text"), "-"},
        {Value(), ""},
        {ErrorObject::value(Error("com.example.domain", 7)), "com.example.domain"},
        {ErrorObject::value(Error("", 7)), "-"},
        {Value(exception), "-[ZDMEvent initWithName:]"},
        {Value(Data{1, 2}), "?"},
        {Value(Value::Array{Value(1)}), "?"},
        // 19-digit numbers and huge or non-finite doubles, whose bounds do not fit in 64 bits.
        {Value(std::numeric_limits<int64_t>::max()), "1000000000000000000...9999999999999999999"},
        {Value(std::numeric_limits<int64_t>::min()), "-9999999999999999999...-1000000000000000000"},
        {Value(1e19), "10000000000000000000...99999999999999999999"},
        {Value(-2.5e20), "-999999999999999999999...-100000000000000000000"},
        {Value(std::nan("")), "?"},
        {Value(std::numeric_limits<double>::infinity()), "?"},
        {Value(-std::numeric_limits<double>::infinity()), "?"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZDMMonitor::encodedStringWithContextObject(c.context), c.encoded) << c.encoded;

    const Value::Array contexts{Value(7), Value("x"), Value()};
    EXPECT_EQ(ZDMMonitor::encodedStringWithContextArray(contexts, false), "7,-,");
    EXPECT_EQ(ZDMMonitor::encodedStringWithContextArray(contexts, true), "7, -, ");
    EXPECT_EQ(ZDMMonitor::encodedStringWithContextArray({}, true), "");
}

TEST_F(Monitor, FindsTheLibrarysFrameInAnExceptionsStack) {
    auto symbolOf = [](std::vector<std::string> stack) {
        ExceptionRecord exception("NSGenericException", "reason", std::move(stack));
        return *ZDMMonitor::lastZDMSymbolFromException(&exception);
    };
    EXPECT_EQ(symbolOf({"0 a 0x1 f + 1", "1 a 0x2 zdmHelper + 2"}), "NSGenericException");
    EXPECT_EQ(symbolOf({"0 a 0x1 f + 1", "1 a 0x2 g + 2", "2 a 0x3 zdm_store_value + 9"}), "zdm_store_value");
    EXPECT_EQ(symbolOf({"0 a 0x1 f + 1", "1 a 0x2 g + 2", "2 a 0x3 -[ZdmX run]   +   4"}), "-[ZdmX run]");
    EXPECT_EQ(symbolOf({"0 a 0x1 f + 1", "1 a 0x2 g + 2", "2 a 0x3 main", "3 a 0x4 other + 1"}),
              "NSGenericException");
    EXPECT_FALSE(ZDMMonitor::lastZDMSymbolFromException(nullptr));
}

TEST_F(Monitor, ConsoleTextDescribesOrEncodesContexts) {
    const auto exception =
        std::make_shared<const ExceptionRecord>("NSInvalidArgumentException", "bad argument");
    const Value::Array contexts{Value(), Value("name"), Value(150), Value(exception)};
    EXPECT_EQ(ZDMMonitor::stringWithLogMessage("Refused", 1, contexts, false),
              "Refused: (nil), name, 150, NSInvalidArgumentException: bad argument");
    EXPECT_EQ(ZDMMonitor::stringWithLogMessage("Refused", 1, contexts, true),
              "Refused: , -, 100...999, NSInvalidArgumentException");
    EXPECT_EQ(
        ZDMMonitor::stringWithLogMessage("At", 6, {Value(Date::fromUnix(1767225600.5)), Value(2.5)}, false),
        "At: 2026-01-01 00:00:00 +0000, 2.5");
    EXPECT_EQ(ZDMMonitor::stringWithLogMessage("", 1, {}, false), "(Message was empty)");
    EXPECT_EQ(ZDMMonitor::stringWithLogMessage("Plain", 1, {}, true), "Plain");
}

TEST_F(Monitor, SampleKeyNamesTheKindVersionAndMessage) {
    EXPECT_EQ(ZDMMonitor::monitoringDataKeyWithMessage("m", 2, 101300), "1E_101300:m");
    EXPECT_EQ(ZDMMonitor::monitoringDataKeyWithMessage("m", 5, 101300), "1W_101300:m");
    EXPECT_EQ(ZDMMonitor::monitoringDataKeyWithMessage("m", 9, 7), "1?_7:m");
    EXPECT_EQ(ZDMMonitor::logLevelDescriptionFromLogLevel(4), "WARNING");
    EXPECT_FALSE(ZDMMonitor::logLevelDescriptionFromLogLevel(8));
}

// Three reports keep the population and the first start time; the scripted draws decide the key.
TEST_F(Monitor, SamplesOneReportOfAllAndKeepsItAcrossProcesses) {
    ScriptedRandom random({0, 1});  // replace with the second report, keep it at the third
    auto monitor = makeMonitor(random.source());
    const double firstTime = clock_->now();
    monitor->logWithLevel(1, 5001, "first", Value("a"));
    flush(*monitor);
    clock_->advance(10);
    monitor->logWithLevel(4, 5002, "second", Value(150),
                          ErrorObject::value(zdm_errorWithCode(3, "failed", "table:events")));
    flush(*monitor);
    clock_->advance(10);
    monitor->logWithLevel(1, 5003, "third");
    flush(*monitor);

    EXPECT_EQ(random.bounds(), (std::vector<uint32_t>{2, 3}));
    const Value sample = storedSample();
    ASSERT_TRUE(sample.asArray() && sample.asArray()->size() == 4);
    const auto& items = *sample.asArray();
    EXPECT_EQ(items[0].stringOr(""), "100...999,com.zizoda.measurement,table:events");
    EXPECT_EQ(items[1].integerOr(0), 3);
    EXPECT_EQ(items[2].stringOr(""), "1W_101300:second");
    EXPECT_EQ(items[3].asDate()->timeIntervalSince1970(), firstTime);

    const pid_t child = spawnThisTestBinary("MonitorChild.DispatchesTheStoredSample",
                                            {.environment = {"ZDM_MONITOR_CHILD=1"}, .quiet = true});
    ASSERT_GT(child, 0);
    const auto status = waitForChild(child);
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    // The child dispatched the sample, and with it emptied the stored one.
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(storedSample(), Value(Value::Array{}));
}

// Runs only as the second process of SamplesOneReportOfAllAndKeepsItAcrossProcesses, in its home.
TEST(MonitorChild, DispatchesTheStoredSample) {
    if (!std::getenv("ZDM_MONITOR_CHILD")) GTEST_SKIP() << "runs as a child process only";
    ProcessInfo::setArguments({"app"});
    // The parent's manual clock started the sample long before this process's real clock.
    auto monitor = ZDMMonitor::make(6, std::make_shared<RecordingLogger>(), 101300);
    EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0),
              "3:1W_101300:second:100...999,com.zizoda.measurement,table:events");
}

TEST_F(Monitor, IgnoresAStoredSampleOfTheWrongShape) {
    const Value shapes[] = {
        Value(Value::Array{Value("ctx"), Value(2), Value("key")}),
        Value(Value::Array{Value("ctx"), Value("2"), Value("key"), Value(Date::now())}),
        Value(Value::Array{Value("ctx"), Value(2), Value("key"), Value(12.5)}),
        Value("not an array"),
    };
    for (const auto& shape : shapes) {
        ZDMUserDefaults(ZDMMonitor::kSuiteName).setObject(shape, ZDMMonitor::kHealthMonitorKey);
        auto monitor = makeMonitor();
        // Nothing to dispatch but the note that a period has passed since the last sample.
        EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, clock_->now() - 61), "0:");
    }
}

TEST_F(Monitor, MigratesTheSampleFromTheStandardDefaultsOnce) {
    const Value sample(
        ZDMMonitoringSampledData::sampledDataEntryWithKey("1E_101300:old", Date::now(), "-", 4));
    auto standard = ZDMUserDefaults::standardUserDefaults();
    ZDMUserDefaults suite(ZDMMonitor::kSuiteName);
    standard->setObject(sample, ZDMMonitor::kHealthMonitorKey);

    auto monitor = makeMonitor();
    flush(*monitor);
    EXPECT_EQ(suite.objectForKey(ZDMMonitor::kHealthMonitorKey), sample);
    EXPECT_FALSE(standard->objectForKey(ZDMMonitor::kHealthMonitorKey));
    EXPECT_EQ(suite.integerForKey(ZDMMonitor::kMigrationStateKey), 2);
    clock_->advance(120);
    EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0), "4:1E_101300:old:-");

    // Migrated once: a sample that turns up in the standard defaults later stays where it is.
    standard->setObject(sample, ZDMMonitor::kHealthMonitorKey);
    monitor = makeMonitor();
    flush(*monitor);
    EXPECT_EQ(standard->objectForKey(ZDMMonitor::kHealthMonitorKey), sample);
    EXPECT_EQ(suite.objectForKey(ZDMMonitor::kHealthMonitorKey), Value(Value::Array{}));
}

TEST_F(Monitor, ResumesAMigrationThatStoppedAfterCopying) {
    const Value kept(ZDMMonitoringSampledData::sampledDataEntryWithKey("1W_101300:kept", Date::now(), "", 1));
    const Value stale(
        ZDMMonitoringSampledData::sampledDataEntryWithKey("1W_101300:stale", Date::now(), "", 9));
    auto standard = ZDMUserDefaults::standardUserDefaults();
    ZDMUserDefaults suite(ZDMMonitor::kSuiteName);
    suite.setObject(kept, ZDMMonitor::kHealthMonitorKey);
    suite.setInteger(1, ZDMMonitor::kMigrationStateKey);
    standard->setObject(stale, ZDMMonitor::kHealthMonitorKey);

    auto monitor = makeMonitor();
    flush(*monitor);
    EXPECT_EQ(suite.objectForKey(ZDMMonitor::kHealthMonitorKey), kept);
    EXPECT_FALSE(standard->objectForKey(ZDMMonitor::kHealthMonitorKey));
    EXPECT_EQ(suite.integerForKey(ZDMMonitor::kMigrationStateKey), 2);
}

TEST_F(Monitor, DispatchesOncePerPeriod) {
    auto monitor = makeMonitor();
    EXPECT_FALSE(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0));
    EXPECT_FALSE(monitor->monitoringDataForDispatchWithSamplePeriod(60, clock_->now() - 30));
    EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, clock_->now() - 61), "0:");
    // A last sample time in the future counts by its distance too.
    EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, clock_->now() + 61), "0:");

    monitor->logWithLevel(2, 7001, "Failed to open", Value(3), Value("path"));
    EXPECT_FALSE(monitor->monitoringDataForDispatchWithSamplePeriod(60, clock_->now() - 61));
    clock_->advance(61);
    EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0), "1:1E_101300:Failed to open:3,-");
    EXPECT_EQ(storedSample(), Value(Value::Array{}));
    EXPECT_FALSE(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0));

    monitor->logWithLevel(5, 7002, "No context");
    flush(*monitor);  // the entry starts when the queue takes the report
    clock_->advance(61);
    EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0), "1:1W_101300:No context");
}

TEST_F(Monitor, ClearingDropsTheSampleAndTheStoredDebugFlag) {
    auto monitor = makeMonitor();
    monitor->setDebugModeEnabled(true);
    monitor->logWithLevel(1, 7001, "x");
    monitor->clearMonitoringData();
    EXPECT_FALSE(ZDMUserDefaults::standardUserDefaults()->objectForKey(ZDMMonitor::kDebugModeKey));
    EXPECT_FALSE(ZDMUserDefaults(ZDMMonitor::kSuiteName).objectForKey(ZDMMonitor::kHealthMonitorKey));
    clock_->advance(61);
    EXPECT_FALSE(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0));
}

class MonitorLaunch : public MonitorFixture {
  protected:
    std::shared_ptr<ZDMMonitor> launch(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "app");
        ProcessInfo::setArguments(std::move(arguments));
        auto monitor = makeMonitor();
        flush(*monitor);
        return monitor;
    }
    bool storedDebugFlag() {
        return ZDMUserDefaults::standardUserDefaults()->boolForKey(ZDMMonitor::kDebugModeKey);
    }
    void storeDebugFlag() {
        ZDMUserDefaults::standardUserDefaults()->setBool(true, ZDMMonitor::kDebugModeKey);
    }
    // An App Store installation: a "SC_Info" file beside the executable.
    void installFromAppStore() {
        auto bundle = std::make_shared<Bundle>(Dictionary{});
        bundle->setBundlePath(home_.path().string());
        std::ofstream(home_.path() / "SC_Info") << "";
        Bundle::setMainBundle(bundle);
    }
};

TEST_F(MonitorLaunch, DisablingArgumentBeatsTheStoredDebugFlag) {
    storeDebugFlag();
    auto monitor = launch({"-ZUDDebugDisabled"});
    EXPECT_FALSE(monitor->isDebugModeEnabled());
    EXPECT_FALSE(storedDebugFlag());
    EXPECT_EQ(monitor->logLevel(), 6);
}

TEST_F(MonitorLaunch, StoredDebugFlagTurnsDebugModeOn) {
    storeDebugFlag();
    auto monitor = launch({});
    EXPECT_TRUE(monitor->isDebugModeEnabled());
    EXPECT_EQ(monitor->logLevel(), 7);
}

TEST_F(MonitorLaunch, DebugArgumentLogsAndStoresTheFlag) {
    auto monitor = launch({"-ZDMAnalyticsDebugEnabled"});
    EXPECT_TRUE(monitor->isDebugModeEnabled());
    EXPECT_TRUE(storedDebugFlag());
    EXPECT_EQ(monitor->logLevel(), 7);
    EXPECT_TRUE(ZIZIsLoggableLevel(kZIZLoggerLevelDebug));
    const auto lines = logger_->lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, "Debug mode is on");
    EXPECT_EQ(lines[0].code, 24000);
    EXPECT_EQ(lines[0].tag, "<DidAdirezarido>");

    monitor->setDebugModeEnabled(false);
    EXPECT_FALSE(storedDebugFlag());
    EXPECT_FALSE(ZIZIsLoggableLevel(kZIZLoggerLevelInfo));
}

TEST_F(MonitorLaunch, AppStoreInstallationChangesNothing) {
    installFromAppStore();
    auto monitor = launch({"-ZDMAnalyticsDebugEnabled", "-ZDMAnalyticsVerboseLoggingEnabled"});
    EXPECT_FALSE(monitor->isDebugModeEnabled());
    EXPECT_FALSE(monitor->isVerboseLoggingEnabled());
    EXPECT_FALSE(storedDebugFlag());
    EXPECT_TRUE(logger_->lines().empty());

    storeDebugFlag();
    monitor = launch({"-ZUDDebugDisabled"});
    EXPECT_TRUE(storedDebugFlag());
    // Nor can the application switch it on itself.
    monitor->setDebugModeEnabled(true);
    EXPECT_FALSE(monitor->isDebugModeEnabled());
    EXPECT_EQ(monitor->logLevel(), 6);
}

TEST_F(MonitorLaunch, VerboseArgumentTurnsVerboseLoggingOnSilently) {
    auto monitor = launch({"-ZDMAnalyticsVerboseLoggingEnabled"});
    EXPECT_TRUE(monitor->isVerboseLoggingEnabled());
    EXPECT_TRUE(ZDMUserDefaults::standardUserDefaults()->boolForKey(ZDMMonitor::kVerboseLoggingKey));
    EXPECT_TRUE(logger_->lines().empty());

    monitor = launch({"-VUZArezivodoVerboseLoggingDisabled"});
    EXPECT_FALSE(monitor->isVerboseLoggingEnabled());
    EXPECT_FALSE(ZDMUserDefaults::standardUserDefaults()->objectForKey(ZDMMonitor::kVerboseLoggingKey));
}

TEST_F(MonitorLaunch, DefersTheSharedLoggerLevelToTheCoreLibrary) {
    Runtime::registerClass("ZUDConfiguration");
    auto monitor = launch({"-ZUDDebugEnabled"});
    Runtime::unregisterClass("ZUDConfiguration");
    EXPECT_TRUE(monitor->isDebugModeEnabled());
    EXPECT_FALSE(ZIZIsLoggableLevel(kZIZLoggerLevelDebug));

    // Without the core library's configuration class the argument alone does not defer.
    monitor = launch({"-ZUDDebugEnabled"});
    EXPECT_TRUE(ZIZIsLoggableLevel(kZIZLoggerLevelDebug));
}

}  // namespace
