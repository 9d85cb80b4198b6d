#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/DecimalNumber.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/testing/TestHome.h"
#include "testing/ChildProcess.h"

namespace fs = std::filesystem;

namespace {

TEST(ProcessArguments, AreTheLaunchArgumentsUnlessSet) {
    const auto launched = ProcessInfo::arguments();
    ASSERT_FALSE(launched.empty());
    EXPECT_EQ(fs::path(launched[0]).filename(), "platform_foundation_tests");
    ProcessInfo::setArguments({"app", "-ZDMAnalyticsDebugEnabled", ""});
    EXPECT_EQ(ProcessInfo::arguments(), (std::vector<std::string>{"app", "-ZDMAnalyticsDebugEnabled", ""}));
    ProcessInfo::resetArguments();
    EXPECT_EQ(ProcessInfo::arguments(), launched);
}

TEST(ProcessArguments, KeepEmptyArgumentsOfTheLaunch) {
    if (std::getenv("QUORVANE_ARGUMENTS_CHILD")) {
        EXPECT_EQ(ProcessInfo::arguments().back(), "");
        return;
    }
    const pid_t child = spawnChild({fs::read_symlink("/proc/self/exe").string(),
                                    "--gtest_filter=ProcessArguments.KeepEmptyArgumentsOfTheLaunch", ""},
                                   {.environment = {"QUORVANE_ARGUMENTS_CHILD=1"}, .quiet = true});
    ASSERT_GT(child, 0);
    const auto status = waitForChild(child);
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

TEST(Runtime, KnowsTheClassesRegistered) {
    EXPECT_FALSE(Runtime::classExists("ZUDConfiguration"));
    Runtime::registerClass("ZUDConfiguration");
    EXPECT_TRUE(Runtime::classExists("ZUDConfiguration"));
    Runtime::unregisterClass("ZUDConfiguration");
    EXPECT_FALSE(Runtime::classExists("ZUDConfiguration"));
}

TEST(Runtime, ClassObjectsAnswerWhatTheyWereRegisteredWith) {
    class Answering : public RuntimeObject {
      public:
        std::string className() const override { return "Answering"; }
        bool respondsToSelector(std::string_view selector) const override { return selector == "status"; }
        Value perform(std::string_view selector) const override {
            return selector == "status" ? Value(3) : Value();
        }
    };
    EXPECT_EQ(Runtime::classNamed("ATTrackingManager"), nullptr);
    Runtime::registerClass("ATTrackingManager");
    EXPECT_TRUE(Runtime::classExists("ATTrackingManager"));
    EXPECT_EQ(Runtime::classNamed("ATTrackingManager"), nullptr);  // a name only

    const auto classObject = std::make_shared<const Answering>();
    Runtime::registerClass("ATTrackingManager", classObject);
    Runtime::registerClass("ATTrackingManager");  // a name again keeps the object
    ASSERT_EQ(Runtime::classNamed("ATTrackingManager"), classObject);
    EXPECT_EQ(Runtime::classNamed("ATTrackingManager")->perform("status"), Value(3));
    Runtime::unregisterClass("ATTrackingManager");
    EXPECT_FALSE(Runtime::classExists("ATTrackingManager"));
    EXPECT_EQ(Runtime::classNamed("ATTrackingManager"), nullptr);
}

TEST(DecimalNumber, HoldsThirtyEightDigitsWithinTheExponentRange) {
    struct Case {
        std::string text;
        std::optional<std::string> rendered;
    };
    const std::string digits38(38, '9');
    const Case cases[] = {
        {"0", "0"},
        {"-0", "0"},
        {"-12.5000", "-12.5"},
        {"0.00100", "0.001"},
        {digits38, digits38},
        {digits38 + "1", digits38 + "0"},  // the 39th digit is dropped, the magnitude kept
        {"1" + std::string(127, '0'), "1" + std::string(127, '0')},
        {"1" + std::string(128, '0'), std::nullopt},
        {"0." + std::string(127, '0') + "1", "0." + std::string(127, '0') + "1"},
        {"0." + std::string(128, '0') + "1", std::nullopt},
        {"", std::nullopt},
        {".", std::nullopt},
        {"1e5", std::nullopt},
        {"1.2.3", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto number = DecimalNumber::fromString(c.text);
        EXPECT_EQ(number ? std::optional(number->stringValue()) : std::nullopt, c.rendered) << c.text;
    }
    EXPECT_EQ(DecimalNumber::fromString("-2.25")->doubleValue(), -2.25);
    EXPECT_EQ(DecimalNumber::fromString("-2.25")->absoluteValue().stringValue(), "2.25");
}

TEST(DecimalNumber, MultipliesExactlyAndTruncatesTowardZero) {
    struct Case {
        std::string text;
        int64_t factor;
        std::optional<int64_t> product;
    };
    const Case cases[] = {
        {"0.99", 1000000, 990000},  // a double gives 989999
        {"0.99", 3000000, 2970000},
        {"1.0000009", 1000000, 1000000},
        {"-1.0000009", 1000000, -1000000},
        {"2.5", -3, -7},
        {"0", 7, 0},
        {"12", 0, 0},
        {"9223372036854775807", 1, INT64_MAX},
        {"9223372036854775808", 1, std::nullopt},
        {"-9223372036854775808", 1, INT64_MIN},
        {"1" + std::string(100, '0'), 1, std::nullopt},
        {std::string(38, '9'), 1000000, std::nullopt},
        {"0." + std::string(100, '0') + "1", 1000000, 0},
    };
    for (const auto& c : cases) {
        const auto number = DecimalNumber::fromString(c.text);
        ASSERT_TRUE(number) << c.text;
        EXPECT_EQ(number->int64ByMultiplyingBy(c.factor), c.product) << c.text << " x " << c.factor;
    }
}

TEST(BundleLocation, DefaultsToTheExecutablesDirectory) {
    Bundle bundle(Dictionary{});
    EXPECT_EQ(bundle.bundlePath(), fs::read_symlink("/proc/self/exe").parent_path().string());
    EXPECT_FALSE(bundle.appStoreReceiptURL());
    bundle.setAppStoreReceiptURL("file:///App.app/Contents/_MASReceipt/receipt");
    EXPECT_EQ(bundle.appStoreReceiptURL(), "file:///App.app/Contents/_MASReceipt/receipt");
}

TEST(FileMarks, SetAndClearBothMarks) {
    TestHome home;
    const fs::path file = home.path() / "data";
    std::ofstream(file) << "x";
    using Set = bool (*)(const fs::path&, bool, Error*);
    using Get = bool (*)(const fs::path&);
    const std::pair<Set, Get> marks[] = {
        {FileAttributes::setExcludedFromBackup, FileAttributes::isExcludedFromBackup},
        {FileAttributes::setImmutable, FileAttributes::isImmutable}};
    for (const auto& [set, get] : marks) {
        EXPECT_FALSE(get(file));
        EXPECT_TRUE(set(file, true, nullptr));
        EXPECT_TRUE(get(file));
        // The mark follows the file, not its name.
        fs::rename(file, home.path() / "moved");
        EXPECT_TRUE(get(home.path() / "moved"));
        fs::rename(home.path() / "moved", file);
        EXPECT_TRUE(set(file, false, nullptr));
        EXPECT_FALSE(get(file));
        EXPECT_TRUE(set(file, false, nullptr));

        Error error;
        EXPECT_FALSE(set(home.path() / "missing", true, &error));
        EXPECT_EQ(error.code, FileAttributes::kFileNoSuchFileError);
        EXPECT_FALSE(get(home.path() / "missing"));
    }
    // Marks do not change what the file holds or who may write it.
    struct stat status {};
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 1);
}

TEST(PreferencesDomains, ShareTheSuiteOfTheirApplicationID) {
    TestHome home(std::make_shared<Bundle>(Dictionary{{"CFBundleIdentifier", Value("com.example.app")}}));
    CFPreferencesSetAppValue("a", Value(1), "com.example.suite");
    CFPreferencesSetAppValue("b", Value("two"), "com.example.suite");
    EXPECT_EQ(UserDefaults::suite("com.example.suite")->integerForKey("a"), 1);
    EXPECT_EQ(CFPreferencesCopyAppValue("b", "com.example.suite"), Value("two"));
    EXPECT_TRUE(CFPreferencesAppSynchronize("com.example.suite"));
    EXPECT_TRUE(fs::exists(FileLocations::preferencesDirectory() / "com.example.suite.plist"));

    CFPreferencesSetAppValue("own", Value(true), kCFPreferencesCurrentApplication);
    EXPECT_TRUE(UserDefaults::standardUserDefaults()->boolForKey("own"));

    CFPreferencesSetAppValue("a", Value(), "com.example.suite");
    EXPECT_FALSE(CFPreferencesCopyAppValue("a", "com.example.suite"));
    EXPECT_EQ(CFPreferencesCopyKeyList("com.example.suite", kCFPreferencesCurrentUser, kCFPreferencesAnyHost),
              (std::vector<std::string>{"b"}));
    EXPECT_FALSE(CFPreferencesCopyKeyList("com.example.suite", "someone else", kCFPreferencesAnyHost));

    CFPreferencesSetMultiple(Dictionary{{"c", Value(3)}}, {"b"}, "com.example.suite",
                             kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_EQ(CFPreferencesCopyKeyList("com.example.suite", kCFPreferencesCurrentUser, kCFPreferencesAnyHost),
              (std::vector<std::string>{"c"}));
    CFPreferencesSetMultiple({}, {"c"}, "com.example.suite", kCFPreferencesCurrentUser,
                             kCFPreferencesAnyHost);
    EXPECT_FALSE(
        CFPreferencesCopyKeyList("com.example.suite", kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
}

TEST(PreferencesDomains, RemovingAPersistentDomainDropsItsFile) {
    TestHome home;
    auto suite = UserDefaults::suite("com.example.suite");
    suite->setObject(Value(1), "a");
    const fs::path file = FileLocations::preferencesDirectory() / "com.example.suite.plist";
    ASSERT_TRUE(fs::exists(file));
    UserDefaults::standardUserDefaults()->removePersistentDomainForName("com.example.suite");
    EXPECT_FALSE(suite->objectForKey("a"));
    EXPECT_FALSE(fs::exists(file));
    // Nothing unsaved: synchronizing writes no empty file back.
    EXPECT_TRUE(suite->synchronize());
    EXPECT_FALSE(fs::exists(file));
}

TEST(PreferencesDomains, SynchronizeWritesWhatAFailedWriteLeftUnsaved) {
    TestHome home;
    const fs::path directory = FileLocations::preferencesDirectory();
    fs::create_directories(directory.parent_path());
    std::ofstream(directory) << "a file where the folder should be";
    auto suite = UserDefaults::suite("com.example.suite");
    suite->setObject(Value(1), "a");
    EXPECT_FALSE(suite->synchronize());
    fs::remove(directory);
    EXPECT_TRUE(suite->synchronize());
    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(UserDefaults::suite("com.example.suite")->integerForKey("a"), 1);
}

}  // namespace
