#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/dispatch/Clock.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/testing/TestHome.h"
#include "testing/EnvironmentOverride.h"

namespace fs = std::filesystem;

namespace {

std::string selfPath() {
    return fs::read_symlink("/proc/self/exe").string();
}

// Runs only as the second process of WrittenByOneProcessReadByAnother.
TEST(UserDefaults, ChildWriter) {
    if (!std::getenv("QUORVANE_CHILD_WRITE")) GTEST_SKIP() << "runs as a child process only";
    auto defaults = UserDefaults::suite("shared.suite");
    defaults->setObject("from the child", "greeting");
    defaults->setObject(Dictionary{{"n", 42}, {"list", Value::Array{1, 2}}}, "nested");
}

TEST(UserDefaults, WrittenByOneProcessReadByAnother) {
    TestHome home;
    std::string command =
        "QUORVANE_CHILD_WRITE=1 " + selfPath() + " --gtest_filter=UserDefaults.ChildWriter >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    auto defaults = UserDefaults::suite("shared.suite");
    EXPECT_EQ(defaults->stringForKey("greeting"), "from the child");
    EXPECT_EQ(defaults->dictionaryForKey("nested")->find("n")->asInteger(), 42);
}

TEST(UserDefaults, TypedAccessAndRemoval) {
    TestHome home(std::make_shared<Bundle>(Dictionary{{"CFBundleIdentifier", "org.example.tool"}}));
    auto defaults = UserDefaults::standardUserDefaults();
    EXPECT_EQ(defaults->suiteName(), Bundle::mainBundle()->bundleIdentifier());
    defaults->setObject(true, "flag");
    defaults->setObject(7, "count");
    defaults->setObject(dataFromString("xyz"), "blob");
    EXPECT_TRUE(defaults->boolForKey("flag"));
    EXPECT_EQ(defaults->integerForKey("count"), 7);
    EXPECT_EQ(defaults->dataForKey("blob"), dataFromString("xyz"));
    EXPECT_FALSE(defaults->stringForKey("count"));
    defaults->setObject(Value(), "flag");
    defaults->removeObjectForKey("count");
    EXPECT_EQ(defaults->dictionaryRepresentation().keys(), std::vector<std::string>{"blob"});

    UserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(UserDefaults::standardUserDefaults()->dataForKey("blob"), dataFromString("xyz"));
}

std::vector<fs::path> keptAside(const fs::path& dir, const std::string& file) {
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().starts_with(file + ".corrupt-")) kept.push_back(entry.path());
    std::sort(kept.begin(), kept.end());
    return kept;
}

// Whatever sits at the suite's path, if it is no readable settings file it is kept aside, the
// suite starts empty, and the next change writes a fresh file.
TEST(UserDefaults, CorruptFileIsKeptAsideAndTheSuiteReadsEmpty) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> damage;
    } cases[] = {
        {"not a property list", [](const fs::path& f) { std::ofstream(f) << "this is not a property list"; }},
        {"a directory", [](const fs::path& f) { fs::create_directories(f / "inside"); }},
        {"a FIFO", [](const fs::path& f) { ASSERT_EQ(mkfifo(f.c_str(), 0600), 0); }},
        {"oversized",
         [](const fs::path& f) {
             std::ofstream(f) << "x";
             fs::resize_file(f, FileLocations::kDefaultReadLimit + 1);
         }},
    };
    for (const auto& c : cases) {
        TestHome home;
        fs::path dir = FileLocations::preferencesDirectory();
        fs::create_directories(dir);
        c.damage(dir / "broken.plist");
        auto defaults = UserDefaults::suite("broken");
        EXPECT_TRUE(defaults->dictionaryRepresentation().empty()) << c.name;
        EXPECT_EQ(keptAside(dir, "broken.plist").size(), 1u) << c.name;
        defaults->setObject("fresh", "key");
        UserDefaults::resetStandardUserDefaults();
        EXPECT_EQ(UserDefaults::suite("broken")->stringForKey("key"), "fresh") << c.name;
    }
}

// The clock may stand still (or be set back): a later damaged file never replaces an earlier copy.
TEST(UserDefaults, EveryDamagedFileKeepsItsOwnCopy) {
    TestHome home;
    ScopedManualClock clock;
    fs::path dir = FileLocations::preferencesDirectory();
    fs::create_directories(dir);
    for (int run = 1; run <= 3; ++run) {
        std::ofstream(dir / "broken.plist") << "damage " << run;
        UserDefaults::resetStandardUserDefaults();
        EXPECT_TRUE(UserDefaults::suite("broken")->dictionaryRepresentation().empty());
    }
    std::vector<std::string> copies;
    for (const auto& kept : keptAside(dir, "broken.plist"))
        copies.push_back(stringFromData(*FileLocations::readFile(kept)));
    std::sort(copies.begin(), copies.end());
    EXPECT_EQ(copies, (std::vector<std::string>{"damage 1", "damage 2", "damage 3"}));
}

// A name so long that no ".corrupt-" name fits beside it makes moving aside fail, as a read-only
// folder would: the report says so, and the damaged file is never written over.
TEST(UserDefaults, DamagedFileThatCannotBeMovedAsideIsLeftUntouched) {
    TestHome home;
    const std::string suite(235, 's');
    fs::path dir = FileLocations::preferencesDirectory();
    fs::create_directories(dir);
    const fs::path file = dir / (suite + ".plist");
    std::ofstream(file) << "damaged";

    testing::internal::CaptureStderr();
    auto defaults = UserDefaults::suite(suite);
    defaults->setObject("kept in memory", "key");
    const std::string report = testing::internal::GetCapturedStderr();

    EXPECT_EQ(defaults->stringForKey("key"), "kept in memory");
    EXPECT_EQ(stringFromData(*FileLocations::readFile(file)), "damaged");
    EXPECT_TRUE(keptAside(dir, suite + ".plist").empty());
    EXPECT_NE(report.find(file.string()), std::string::npos) << report;
    EXPECT_EQ(report.find("moved aside to"), std::string::npos) << report;
}

TEST(NotificationCenter, DeliversInRegistrationOrderFilteredBySender) {
    auto& center = NotificationCenter::defaultCenter();
    std::vector<std::string> seen;
    int sender = 0, other = 0;
    auto t1 = center.addObserver("n", [&](const Notification&) { seen.push_back("first"); });
    auto t2 = center.addObserver(
        "n", [&](const Notification& n) { seen.push_back("second " + n.userInfo["k"].stringOr("")); },
        &sender);
    auto t3 = center.addObserver("other", [&](const Notification&) { seen.push_back("wrong name"); });
    center.post("n", &sender, Dictionary{{"k", "v"}});
    center.post("n", &other);
    center.removeObserver(t1);
    center.post("n", &sender);
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "second v", "first", "second "}));
    center.removeObserver(t2);
    center.removeObserver(t3);
}

// The platform knows no application: a program registers its own bundle.
TEST(Bundle, InfoFromTheRegisteredBundleAndLanguagesFromTheEnvironment) {
    TestHome home;
    EXPECT_TRUE(Bundle::mainBundle()->infoDictionary().empty());
    EXPECT_EQ(Bundle::mainBundle()->bundleIdentifier(), "");
    Bundle::setMainBundle(std::make_shared<Bundle>(
        Dictionary{{"CFBundleIdentifier", "org.example.tool"}, {"CFBundleShortVersionString", "1.0.0"}}));
    EXPECT_EQ(Bundle::mainBundle()->bundleIdentifier(), "org.example.tool");
    EXPECT_EQ(Bundle::mainBundle()->shortVersion(), "1.0.0");

    EnvironmentOverride environment;
    environment.set("LANGUAGE", "de_DE:fr");
    environment.set("LANG", "en_US.UTF-8");
    EXPECT_EQ(Bundle::preferredLanguages(), (std::vector<std::string>{"de-DE", "fr", "en-US"}));
    environment.set("LANGUAGE", nullptr);
    environment.set("LANG", "C");
    EXPECT_EQ(Bundle::preferredLanguages(), std::vector<std::string>{"en"});
}

TEST(FileLocations, EverythingLivesBelowQuorvaneHome) {
    TestHome home;
    for (auto dir : {FileLocations::preferencesDirectory(), FileLocations::applicationSupportDirectory(),
                     FileLocations::cachesDirectory(), FileLocations::temporaryDirectory()})
        EXPECT_TRUE(dir.string().starts_with(home.path().string())) << dir;
    fs::path file = home.path() / "a" / "b.bin";
    ASSERT_TRUE(FileLocations::writeFileAtomically(file, dataFromString("one")));
    ASSERT_TRUE(FileLocations::writeFileAtomically(file, dataFromString("two")));
    EXPECT_EQ(FileLocations::readFile(file), dataFromString("two"));
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}

}  // namespace
