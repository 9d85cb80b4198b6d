#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "measurement/foundation/ZDMAlarm.h"
#include "measurement/foundation/ZDMConfigStoreChoice.h"
#include "measurement/foundation/ZDMFileMoves.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "measurement/foundation/ZDMInfoPlistFileUtil.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMPersistentDictionary.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "measurement/foundation/tests/SynchronizeRecorder.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/PropertyList.h"

namespace fs = std::filesystem;

namespace {

// What a set of the platform is to a property list: a value no plist file can hold.
class SetObject : public Object {
  public:
    std::string className() const override { return "NSSet"; }
    std::string description() const override { return "{(1)}"; }
};

Value setValue() {
    return Value(std::make_shared<const SetObject>());
}

class Persistence : public SharedMonitorFixture {
  protected:
    Persistence()
        : capture_([this](int, const std::string& line) {
              std::lock_guard lock(mutex_);
              zizLines_.push_back(line);
          }) {}

    std::vector<std::string> zizLines() {
        std::lock_guard lock(mutex_);
        return zizLines_;
    }
    static std::optional<Dictionary> onDisk(const std::string& path) { return ZDMReadPlistDictionary(path); }
    static void writeBytes(const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

    std::mutex mutex_;
    std::vector<std::string> zizLines_;
    ZIZLoggerCapture capture_;
};

TEST_F(Persistence, PlistStoreWritesOnceASecondAfterTheFirstChange) {
    auto store = ZDMPersistentDictionary::make("settings");
    ASSERT_TRUE(store);
    EXPECT_EQ(store->filePath(), ZDMMeasurementSupportPlistPath("settings"));
    store->setObject(Value("one"), "a");
    clock_->advance(0.5);
    store->setObject(Value(2), "b");
    EXPECT_FALSE(onDisk(store->filePath()));
    clock_->advance(0.5);
    EXPECT_EQ(onDisk(store->filePath()), (Dictionary{{"a", "one"}, {"b", 2}}));
    EXPECT_EQ(clock_->pendingTimers(), 0u);

    // Nothing changes: nothing is scheduled.
    store->setObject(Value(2), "b");
    store->removeObjectForKey("absent");
    EXPECT_EQ(clock_->pendingTimers(), 0u);
    store->clearAllData();
    clock_->advance(1);
    EXPECT_EQ(onDisk(store->filePath()), Dictionary());
    store->clearAllData();
    EXPECT_EQ(clock_->pendingTimers(), 0u);

    // A pending change is written when the store goes.
    store->setObject(Value(Value::Array{Value(1)}), "kept");
    const std::string path = store->filePath();
    store.reset();
    EXPECT_EQ(onDisk(path), (Dictionary{{"kept", Value::Array{Value(1)}}}));
    EXPECT_EQ(ZDMPersistentDictionary::make("settings")->objectForKey("kept"), Value(Value::Array{Value(1)}));
}

TEST_F(Persistence, PlistStoreKeepsAnUnreadableFileAside) {
    const fs::path path = ZDMMeasurementSupportPlistPath("damaged");
    writeBytes(path.string() + ".corrupt", "older");
    writeBytes(path, "not a property list");
    auto store = ZDMPersistentDictionary::make("damaged");
    ASSERT_TRUE(store);
    EXPECT_FALSE(store->objectForKey("anything"));
    std::ifstream aside(path.string() + ".corrupt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), "not a property list");
    ASSERT_EQ(zizLines().size(), 1u);
    EXPECT_NE(zizLines()[0].find("kept it as " + path.string() + ".corrupt"), std::string::npos);
    store->setObject(Value(1), "fresh");
    clock_->advance(1);
    EXPECT_EQ(onDisk(path), (Dictionary{{"fresh", 1}}));
}

TEST_F(Persistence, PlistStoreRefusesKeysAndValuesItCannotKeep) {
    auto store = ZDMPersistentDictionary::make("refusals");
    ASSERT_TRUE(store);
    store->setObject(Value(1), "");
    EXPECT_FALSE(store->objectForKey(""));
    store->setObject(setValue(), "set");
    store->setObject(Value(Dictionary{{"inner", setValue()}}), "nested");
    store->setObject(Value(Value::Array{Value(1), Value()}), "holdsNull");
    EXPECT_EQ(clock_->pendingTimers(), 0u);
    store->setObject(Value("later"), "later");
    clock_->advance(1);
    EXPECT_EQ(onDisk(store->filePath()), (Dictionary{{"later", "later"}}));
    const std::string refusal =
        "<DidAdirezarido>[I-ACS043003] Cannot set invalid object to config. Must be a string, number, array, "
        "dictionary, date, or data. Value ";
    EXPECT_EQ(zizLines(), (std::vector<std::string>{
                              "<DidAdirezarido>[I-ACS043002] Cannot set object for invalid config key.",
                              "<DidAdirezarido>[I-ACS043001] Cannot get object for invalid config key.",
                              refusal + "{(1)}",
                              refusal + "{\"inner\":null}",
                              refusal + "[1,null]",
                          }));
}

TEST_F(Persistence, PlistStoreReportsWhatItCannotWriteAndWritesItAtTheNextChange) {
    auto store = ZDMPersistentDictionary::make("blocked");
    ASSERT_TRUE(store);
    fs::create_directories(store->filePath());  // a directory where the file should go
    store->setObject(Value(1), "first");
    clock_->advance(1);
    fs::remove(store->filePath());
    store->setObject(Value(2), "second");
    clock_->advance(1);
    EXPECT_EQ(onDisk(store->filePath()), (Dictionary{{"first", 1}, {"second", 2}}));

    // The support directory cannot be made where a file stands in its way.
    const fs::path measurement = fs::path(ZDMMeasurementSupportPlistPath("x")).parent_path();
    fs::remove_all(measurement);
    writeBytes(measurement, "in the way");
    EXPECT_FALSE(ZDMPersistentDictionary::make("other"));
    EXPECT_EQ(zizLines(),
              (std::vector<std::string>{
                  "<DidAdirezarido>[I-ACS043000] Cannot persist configs to disk",
                  "<DidAdirezarido>[I-ACS043004] Cannot create subdirectories for config plist files.",
              }));
}

TEST_F(Persistence, MoveFileReplacingFollowsItsSixSteps) {
    const fs::path dir = FileLocations::applicationSupportDirectory() / "moves";
    struct Case {
        const char* name;
        bool source, destination, sourceIsDirectory, destinationIsDirectory, replace;
        bool result;
        const char* sourceAfter;       // content, "" when gone
        const char* destinationAfter;  // content, "" when gone
    } cases[] = {
        {"missing source", false, true, false, false, true, true, "", "old"},
        {"kept destination", true, true, false, false, false, true, "", "old"},
        {"replaced", true, true, false, false, true, true, "", "new"},
        {"new place", true, false, false, false, false, true, "", "new"},
        {"source directory", true, false, true, false, true, false, "dir", ""},
        {"destination directory", true, true, false, true, true, false, "new", "dir"},
    };
    auto content = [](const fs::path& path) -> std::string {
        if (fs::is_directory(path)) return "dir";
        std::ifstream in(path);
        return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "";
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir);
        const fs::path source = dir / "a" / "source.plist", destination = dir / "b" / "c" / "dest.plist";
        if (c.source) c.sourceIsDirectory ? (void)fs::create_directories(source) : writeBytes(source, "new");
        if (c.destination)
            c.destinationIsDirectory ? (void)fs::create_directories(destination)
                                     : writeBytes(destination, "old");
        EXPECT_EQ(ZDMMoveFileReplacing(source, destination, c.replace), c.result);
        EXPECT_EQ(content(source), c.sourceAfter);
        EXPECT_EQ(content(destination), c.destinationAfter);
    }
    EXPECT_FALSE(ZDMMoveFileReplacing("", (dir / "x").string(), true));
    EXPECT_FALSE(ZDMMoveFileReplacing((dir / "x").string(), "", true));
    Error error;
    EXPECT_FALSE(ZDMDeleteFileAtPath("", &error));
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.description, "Received empty path for deleting file");
}

TEST_F(Persistence, SuiteMovesToThePlistAndBackWithEveryValue) {
    const std::string suite = "com.example.moving";
    const Dictionary values{{"s", "text"}, {"n", 7}, {"d", Dictionary{{"x", 1.5}}}};
    for (const auto& [key, value] : values) UserDefaults::suite(suite)->setObject(value, key);
    ASSERT_TRUE(fs::exists(ZDMPreferencesPlistPath(suite)));

    EXPECT_TRUE(ZDMMigrateDefaultsSuiteToPlistFile(suite));
    EXPECT_FALSE(fs::exists(ZDMPreferencesPlistPath(suite)));
    EXPECT_EQ(onDisk(ZDMMeasurementSupportPlistPath(suite)), values);
    EXPECT_FALSE(UserDefaults::suite(suite)->objectForKey("s"));

    EXPECT_TRUE(ZDMMigratePlistFileToDefaultsSuite(suite));
    EXPECT_FALSE(fs::exists(ZDMMeasurementSupportPlistPath(suite)));
    EXPECT_EQ(UserDefaults::suite(suite)->dictionaryRepresentation(), values);
    EXPECT_EQ(onDisk(ZDMPreferencesPlistPath(suite)), values);
    EXPECT_FALSE(ZDMMigrateDefaultsSuiteToPlistFile(""));
    EXPECT_FALSE(ZDMMigratePlistFileToDefaultsSuite(""));
}

class PersistedConfig : public Persistence {
  protected:
    std::shared_ptr<SynchronizeRecorder> recorder_ = std::make_shared<SynchronizeRecorder>();
    std::shared_ptr<ZDMPersistedConfig> config_ =
        std::make_shared<ZDMPersistedConfig>(ZDMPersistedConfig::kSuiteName, recorder_);
    const double start_ = Clock::current().now();
};

TEST_F(PersistedConfig, TypedWritesWithinASecondAreSynchronisedOnceASecondAfterTheLast) {
    config_->setSessionNumber(1);
    clock_->advance(0.5);
    config_->setAppVersion("1.0");
    config_->setLoadTimestampValue(Value(3.0));  // a plain write moves nothing
    clock_->advance(0.9);
    EXPECT_TRUE(recorder_->synchronized().empty());
    clock_->advance(0.1);
    EXPECT_EQ(recorder_->synchronized(), std::vector<double>{start_ + 1.5});
    clock_->advance(5);
    EXPECT_EQ(recorder_->synchronized().size(), 1u);
    EXPECT_EQ(config_->sessionNumber(), 1);
    EXPECT_EQ(config_->appVersion(), "1.0");
}

TEST_F(PersistedConfig, SynchronizeWaitsOnlyOnTheMainThread) {
    ASSERT_TRUE(DispatchQueue::isMainThread());
    config_->synchronizeToDisk();
    EXPECT_TRUE(recorder_->synchronized().empty());
    clock_->advance(1);
    EXPECT_EQ(recorder_->synchronized(), std::vector<double>{start_ + 1});

    config_->setDiversionKey("k");
    DispatchQueue::serial("elsewhere")->sync([&] { config_->synchronizeToDisk(); });
    EXPECT_EQ(recorder_->synchronized().size(), 2u) << "at once";
    clock_->advance(1);
    EXPECT_EQ(recorder_->synchronized().size(), 3u) << "the pending write still runs";
}

TEST_F(PersistedConfig, MidnightOffsetIsDrawnOnceUntilCleared) {
    const double offset = config_->midnightOffset();
    EXPECT_GE(offset, 0);
    EXPECT_LT(offset, 86400);
    EXPECT_DOUBLE_EQ(std::round(offset * 1000) / 1000, offset);
    EXPECT_EQ(config_->midnightOffset(), offset);
    config_->clearValues();
    // A second draw may meet the first one by chance once in 86.4 million.
    EXPECT_NE(config_->midnightOffset(), offset);

    auto fresh = std::make_shared<ZDMPersistedConfig>("fresh", std::make_shared<SynchronizeRecorder>());
    std::vector<double> seen(8);
    std::vector<std::thread> readers;
    for (size_t i = 0; i < seen.size(); ++i)
        readers.emplace_back([&, i] { seen[i] = fresh->midnightOffset(); });
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(std::set<double>(seen.begin(), seen.end()).size(), 1u);
}

TEST_F(PersistedConfig, TypedReadsCheckTheKindAndPlainOnesDoNot) {
    config_->setNumber(Value("12"), ZDMPersistedConfig::key("session_number"));
    EXPECT_EQ(config_->sessionNumber(), 0);
    EXPECT_EQ(config_->numberForKey(ZDMPersistedConfig::key("session_number")), Value("12"));
    EXPECT_EQ(config_->int64ForKey(""), 0);
    EXPECT_FALSE(config_->stringForKey(""));

    config_->setSearchAdCampaignValue(Value(1));
    config_->setSearchAdCampaignValue(Value("yes"));
    EXPECT_EQ(config_->searchAdCampaignValue(), Value(1));

    config_->setShouldSetLastAdvertisingIDResetUserProperty(true);
    EXPECT_TRUE(config_->shouldSetLastAdvertisingIDResetUserProperty());
    EXPECT_EQ(config_->int64ForKey(ZDMPersistedConfig::key("set_last_advertising_id_reset")), 1);

    config_->setMeasurementEnabledState(2);
    config_->clearValues();
    EXPECT_EQ(config_->measurementEnabledState(), 2);
    EXPECT_FALSE(config_->searchAdCampaignValue());
}

TEST_F(PersistedConfig, ADictionaryTheDefaultsRefuseLeavesThePreviousValue) {
    auto config = ZDMPersistedConfig::make(ZDMPersistedConfig::kSuiteName);
    ASSERT_TRUE(config);
    ASSERT_TRUE(std::dynamic_pointer_cast<ZDMUserDefaults>(config->store()));
    config->setDefaultEventParameters(Dictionary{{"kept", 1}});
    config->setDefaultEventParameters(Dictionary{{"set", setValue()}});
    EXPECT_EQ(config->defaultEventParameters(), (Dictionary{{"kept", 1}}));
    EXPECT_EQ(loggedCodes(), std::vector<int64_t>{27002});
    EXPECT_EQ(lastSampledMessage(), "E:Unsupported value passed in dictionary");
}

TEST_F(PersistedConfig, TheStoreChoiceMovesTheFileAtCreation) {
    const std::string suite = ZDMPersistedConfig::kSuiteName;
    ZDMPersistedConfig::make(suite)->setAppInstanceID("instance");
    ASSERT_TRUE(fs::exists(ZDMPreferencesPlistPath(suite)));

    ZDMConfigStoreChoice::setPersistentConfigInApplicationSupportEnabled(true);
    auto inPlist = ZDMPersistedConfig::make(suite);
    ASSERT_TRUE(std::dynamic_pointer_cast<ZDMPersistentDictionary>(inPlist->store()));
    EXPECT_EQ(fs::path(ZDMMeasurementSupportPlistPath(suite)),
              FileLocations::applicationSupportDirectory() / "Zizoda" / "Measurement" / (suite + ".plist"));
    EXPECT_FALSE(fs::exists(ZDMPreferencesPlistPath(suite)));
    EXPECT_EQ(inPlist->appInstanceID(), "instance");
    inPlist.reset();

    ZDMConfigStoreChoice::setPersistentConfigInApplicationSupportEnabled(false);
    auto inSuite = ZDMPersistedConfig::make(suite);
    ASSERT_TRUE(std::dynamic_pointer_cast<ZDMUserDefaults>(inSuite->store()));
    EXPECT_FALSE(fs::exists(ZDMMeasurementSupportPlistPath(suite)));
    EXPECT_EQ(inSuite->appInstanceID(), "instance");
    EXPECT_FALSE(ZDMPersistedConfig::make(""));
}

TEST_F(Persistence, ServiceInfoPlistIsFoundAmongTheMainBundlesResources) {
    const fs::path bundle = FileLocations::applicationSupportDirectory() / "App.app";
    fs::create_directories(bundle);
    Bundle::setMainBundle(Bundle::bundleWithPath(bundle));
    EXPECT_FALSE(ZDMInfoPlistFileUtil::zizodaServiceInfoPlistPath());
    EXPECT_FALSE(ZDMInfoPlistFileUtil::dictionaryFromZizodaServiceInfoPlist());

    const Dictionary info{{"SERVICE_APP_ID", "1:1:ios:1"}};
    const auto bytes = plist::write(Value(info), plist::Format::XML);
    ASSERT_TRUE(bytes);
    writeBytes(bundle / "ZizodaService-Info.plist", std::string(bytes->begin(), bytes->end()));
    EXPECT_EQ(ZDMInfoPlistFileUtil::zizodaServiceInfoPlistPath(),
              (bundle / "ZizodaService-Info.plist").string());
    EXPECT_EQ(ZDMInfoPlistFileUtil::dictionaryFromZizodaServiceInfoPlist(), info);
}

class Alarm : public SharedMonitorFixture {
  protected:
    Alarm() {
        monitor_->setLogLevel(7);
        ZIZSetLoggerLevel(kZIZLoggerLevelDebug);
    }
    std::shared_ptr<DispatchQueue> queue_ = DispatchQueue::serial("alarm tests");
    std::vector<std::string> ran_;
    std::shared_ptr<ZDMAlarm> alarm_ = ZDMAlarm::make(queue_, "Upload");
};

TEST_F(Alarm, ASecondScheduleReplacesTheFirst) {
    alarm_->runAfterDelay([&] { ran_.push_back("first"); }, 5);
    alarm_->runAfterDelay([&] { ran_.push_back("second"); }, 10);
    EXPECT_EQ(alarm_->scheduledTimestamp(), Date::fromUnix(clock_->now() + 10));
    clock_->advance(10);
    EXPECT_EQ(ran_, std::vector<std::string>{"second"});
    EXPECT_FALSE(alarm_->scheduledTimestamp());
    EXPECT_FALSE(alarm_->hasActiveTimer());
    EXPECT_EQ(loggedCodes(), (std::vector<int64_t>{2002, 2003, 2002, 2001, 2003}));
    EXPECT_EQ(logger_->lines()[1].message, "Upload canceled");
}

TEST_F(Alarm, CancelWhenIdleSaysNothing) {
    alarm_->cancel();
    alarm_->runAfterDelay(nullptr, 1);
    EXPECT_EQ(loggedCodes(), std::vector<int64_t>{2000});
    EXPECT_EQ(ZDMAlarm::make(queue_)->name(), "Timer");
}

TEST_F(Alarm, ABlockMayScheduleItsAlarmAgain) {
    int runs = 0;
    std::function<void()> again = [&] {
        if (++runs < 3) alarm_->runAfterDelay(again, 2);
    };
    alarm_->runAfterDelay(again, 2);
    clock_->advance(6);
    EXPECT_EQ(runs, 3);
    EXPECT_FALSE(alarm_->hasActiveTimer());
}

TEST_F(Alarm, ADelayOfZeroOrLessFiresAtOnce) {
    for (double delay : {0.0, -3.0}) {
        alarm_->runAfterDelay([&] { ran_.push_back("now"); }, delay);
        clock_->advance(0);
        queue_->sync([] {});
    }
    EXPECT_EQ(ran_, (std::vector<std::string>{"now", "now"}));
}

}  // namespace
