#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Runtime.h"
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
