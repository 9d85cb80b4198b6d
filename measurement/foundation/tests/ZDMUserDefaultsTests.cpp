#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "measurement/foundation/ZDMFileUtil.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"
#include "testing/ChildProcess.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSuite = "com.example.measurement.tests";

class UserDefaultsStore : public ::testing::Test {
  protected:
    UserDefaultsStore()
        : capture_([this](int level, const std::string& line) {
              std::lock_guard lock(mutex_);
              lines_.push_back(std::to_string(level) + " " + line);
          }) {
        resetAllForTesting();
    }
    ~UserDefaultsStore() override { resetAllForTesting(); }

    // Installs a main bundle with these Info.plist values; the store reads its choice of path once
    // per process, so the cached choice is dropped too.
    void useInfo(Dictionary info) {
        info.set("CFBundleIdentifier", "com.example.app");
        Bundle::setMainBundle(std::make_shared<Bundle>(std::move(info)));
        resetAllForTesting();
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    TestHome home_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
    ZIZLoggerCapture capture_;
};

TEST_F(UserDefaultsStore, TakesThePreferencesCallsUnlessInfoPlistSaysNo) {
    struct Case {
        Dictionary info;
        bool cfPreferences;
    };
    const Case cases[] = {
        {{}, true},
        {{{"UseCFPreferencesLibrary", Value("NO")}}, true},
        {{{"UseCFPreferencesLibrary", Value(true)}}, true},
        {{{"UseCFPreferencesLibrary", Value(false)}}, false},
        {{{"UseCFPreferencesLibrary", Value(0)}}, false},
    };
    for (const auto& c : cases) {
        useInfo(c.info);
        ZDMUserDefaults store(kSuite);
        EXPECT_EQ(store.useCFPreferencesLibrary(), c.cfPreferences);
        // Either way the values live in the suite's own file.
        store.setObject(Value("v"), "key");
        store.synchronize();
        EXPECT_TRUE(fs::exists(ZDMPreferencesPlistPath(kSuite)));
        EXPECT_EQ(store.stringForKey("key"), "v");
        store.clearAllData();
        EXPECT_FALSE(store.objectForKey("key"));
    }
}

TEST_F(UserDefaultsStore, SwitchingPathsKeepsTheValues) {
    ZDMUserDefaults store(kSuite);
    store.setInteger(42, "answer");
    store.setUseCFPreferencesLibrary(false);
    EXPECT_EQ(store.integerForKey("answer"), 42);
    store.setDouble(2.5, "ratio");
    store.setUseCFPreferencesLibrary(true);
    EXPECT_EQ(store.doubleForKey("ratio"), 2.5);
}

TEST_F(UserDefaultsStore, RefusesEmptyKeysAndObjects) {
    ZDMUserDefaults store(kSuite);
    EXPECT_FALSE(store.objectForKey(""));
    store.setObject(Value(1), "");
    const auto exception = std::make_shared<const ExceptionRecord>("NSGenericException", "100% wrong");
    store.setObject(Value(exception), "object");
    EXPECT_THROW(store.setObject(Value(Value::Array{Value(1), Value(exception)}), "nested"), Exception);
    EXPECT_FALSE(store.objectForKey("object"));
    EXPECT_FALSE(store.objectForKey("nested"));
    const std::string refusal =
        "4 <DidAdirezarido>[I-ACS041003] Cannot set invalid object to user defaults. Must be a string or "
        "number or an array. Value ";
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "4 <DidAdirezarido>[I-ACS041001] Cannot get object for invalid user default key.",
                           "4 <DidAdirezarido>[I-ACS041002] Cannot set object for invalid user default key.",
                           refusal + "100% wrong",
                       }));
}

TEST_F(UserDefaultsStore, ReadsTypedValuesAsTheTableSays) {
    ZDMUserDefaults store(kSuite);
    store.setObject(Value("text"), "string");
    store.setBool(true, "flag");
    store.setFloat(1.5f, "float");
    store.setObject(Value(Value::Array{Value(1)}), "array");
    store.setObject(Value(Dictionary{{"k", Value(1)}}), "dictionary");
    EXPECT_EQ(store.integerForKey("string"), 0);
    EXPECT_FALSE(store.boolForKey("string"));
    EXPECT_TRUE(store.boolForKey("flag"));
    EXPECT_EQ(store.integerForKey("flag"), 1);
    EXPECT_EQ(store.floatForKey("float"), 1.5f);
    EXPECT_EQ(store.arrayForKey("array"), (Value::Array{Value(1)}));
    EXPECT_FALSE(store.arrayForKey("dictionary"));
    EXPECT_TRUE(store.dictionaryForKey("dictionary"));
    EXPECT_FALSE(store.stringForKey("flag"));
    store.setObject(Value(), "string");
    EXPECT_FALSE(store.objectForKey("string"));
    store.removeObjectForKey("flag");
    EXPECT_FALSE(store.objectForKey("flag"));
}

TEST_F(UserDefaultsStore, ClearsOnlyItsOwnDomain) {
    for (bool cfPreferences : {true, false}) {
        ZDMUserDefaults store(kSuite), other("com.example.other");
        store.setUseCFPreferencesLibrary(cfPreferences);
        store.setObject(Value(1), "a");
        store.setObject(Value(2), "b");
        other.setObject(Value(3), "a");
        store.clearAllData();
        EXPECT_FALSE(store.objectForKey("a"));
        EXPECT_FALSE(store.objectForKey("b"));
        EXPECT_EQ(other.integerForKey("a"), 3);
        // Nothing to clear is nothing to do.
        store.clearAllData();
        EXPECT_FALSE(store.objectForKey("a"));
    }
}

TEST_F(UserDefaultsStore, ExcludesASuiteFileOnceItExistsAndNeverTheStandardOne) {
    useInfo({});
    auto standard = ZDMUserDefaults::standardUserDefaults();
    EXPECT_TRUE(standard->isPreferenceFileExcluded());
    standard->setObject(Value(1), "key");
    standard->synchronize();
    const fs::path standardFile = ZDMPreferencesPlistPath("com.example.app");
    ASSERT_TRUE(fs::exists(standardFile));
    EXPECT_FALSE(FileAttributes::isExcludedFromBackup(standardFile));

    ZDMUserDefaults suite(kSuite);
    suite.synchronize();  // no file yet: nothing to exclude
    EXPECT_FALSE(suite.isPreferenceFileExcluded());
    suite.setObject(Value(1), "key");
    suite.synchronize();
    EXPECT_TRUE(suite.isPreferenceFileExcluded());
    EXPECT_TRUE(FileAttributes::isExcludedFromBackup(ZDMPreferencesPlistPath(kSuite)));

    // Once is enough: a mark taken off later is not put back by this store.
    ASSERT_TRUE(FileAttributes::setExcludedFromBackup(ZDMPreferencesPlistPath(kSuite), false));
    suite.synchronize();
    EXPECT_FALSE(FileAttributes::isExcludedFromBackup(ZDMPreferencesPlistPath(kSuite)));
    EXPECT_TRUE(lines().empty());
}

TEST_F(UserDefaultsStore, ReportsAFailedSynchronizeAndWritesAgainAtTheNext) {
    const fs::path preferences = FileLocations::preferencesDirectory();
    fs::create_directories(preferences.parent_path());
    std::ofstream(preferences) << "a file where the folder should be";
    ZDMUserDefaults store(kSuite);
    store.setObject(Value("kept"), "key");
    store.synchronize();
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "3 <DidAdirezarido>[I-ACS041004] Cannot synchronize user defaults to disk"}));

    fs::remove(preferences);
    store.synchronize();
    EXPECT_EQ(lines().size(), 1u);
    EXPECT_TRUE(store.isPreferenceFileExcluded());
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(ZDMUserDefaults(kSuite).stringForKey("key"), "kept");
}

// Runs only as the second process of AValueWrittenInOneProcessIsReadInAnother, in its home.
TEST(UserDefaultsStoreChild, WritesAValue) {
    if (!std::getenv("ZDM_DEFAULTS_CHILD")) GTEST_SKIP() << "runs as a child process only";
    ZDMUserDefaults store(kSuite);
    store.setObject(Value(Dictionary{{"count", Value(3)}}), "written");
    store.synchronize();
}

TEST_F(UserDefaultsStore, AValueWrittenInOneProcessIsReadInAnother) {
    const pid_t child = spawnThisTestBinary("UserDefaultsStoreChild.WritesAValue",
                                            {.environment = {"ZDM_DEFAULTS_CHILD=1"}, .quiet = true});
    ASSERT_GT(child, 0);
    const auto status = waitForChild(child);
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    ZDMUserDefaults store(kSuite);
    EXPECT_EQ(store.dictionaryForKey("written"), (Dictionary{{"count", Value(3)}}));
}

}  // namespace
