#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "login_item/LaunchAtLogin.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/testing/TestHome.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kHelper = "org.example.agent-LaunchAtLoginHelper";

class LaunchAtLoginTest : public testing::Test {
  protected:
    LaunchAtLoginTest() { useBundleIdentifier("org.example.agent"); }
    ~LaunchAtLoginTest() override { LaunchAtLogin::resetSharedInstances(); }

    void useBundleIdentifier(const char* identifier) {
        Dictionary info;
        if (identifier) info.set("CFBundleIdentifier", identifier);
        Bundle::setMainBundle(std::make_shared<Bundle>(std::move(info)));
        LaunchAtLogin::resetSharedInstances();
    }
    static fs::path autostart() { return FileLocations::configDirectory() / "autostart"; }
    static fs::path helperEntry() { return autostart() / (std::string(kHelper) + ".desktop"); }
    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }

    TestHome home;
};

TEST_F(LaunchAtLoginTest, HelperIdentifierFollowsTheMainBundleFromFirstUse) {
    EXPECT_EQ(LaunchAtLogin::helperBundleIdentifier(), kHelper);
    Bundle::setMainBundle(std::make_shared<Bundle>(Dictionary{{"CFBundleIdentifier", "org.example.other"}}));
    EXPECT_EQ(LaunchAtLogin::helperBundleIdentifier(), kHelper) << "built once";
    LaunchAtLogin::resetSharedInstances();
    EXPECT_EQ(LaunchAtLogin::helperBundleIdentifier(), "org.example.other-LaunchAtLoginHelper");
}

TEST_F(LaunchAtLoginTest, ReadsTheHelpersEntryAndNoOnAnythingElse) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;  // path below autostart, contents
        bool expected;
    } cases[] = {
        {"no autostart folder", {}, false},
        {"only another program's entry", {{"org.example.agent.desktop", "[Desktop Entry]\n"}}, false},
        {"helper entry switched on",
         {{std::string(kHelper) + ".desktop", "[Desktop Entry]\nHidden=false\n"}},
         true},
        {"helper entry hidden",
         {{std::string(kHelper) + ".desktop", "[Desktop Entry]\nHidden=true\n"}},
         false},
        {"helper entry without a readable switch, so no OnDemand",
         {{std::string(kHelper) + ".desktop", "[Desktop Entry]\nHidden=perhaps\n"}},
         false},
        {"helper entry that is no desktop entry", {{std::string(kHelper) + ".desktop", "garbage"}}, false},
        {"autostart is a file, so no job list", {{"", "not a folder"}}, false},
    };
    for (const auto& c : cases) {
        fs::remove_all(autostart());
        for (const auto& [name, text] : c.files) write(name.empty() ? autostart() : autostart() / name, text);
        EXPECT_EQ(LaunchAtLogin::isEnabled(), c.expected) << c.name;
    }
}

TEST_F(LaunchAtLoginTest, SettingSwitchesTheAutostartEntryThroughEveryFace) {
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    LaunchAtLogin::setEnabled(true);
    EXPECT_TRUE(fs::is_regular_file(helperEntry()));
    EXPECT_TRUE(LaunchAtLogin::isEnabled());
    EXPECT_TRUE(LaunchAtLogin::kvoObject().isEnabled());
    EXPECT_TRUE(LaunchAtLogin::observableObject().isEnabled());

    LaunchAtLogin::kvoObject().setEnabled(false);
    EXPECT_FALSE(fs::exists(helperEntry()));
    EXPECT_FALSE(LaunchAtLogin::isEnabled());

    LaunchAtLogin::Toggle toggle;
    EXPECT_EQ(toggle.label(), "Launch at login");
    EXPECT_EQ(LaunchAtLogin::Toggle("Start with the session").label(), "Start with the session");
    toggle.setOn(true);
    EXPECT_TRUE(toggle.isOn());
    EXPECT_TRUE(fs::is_regular_file(helperEntry()));
}

// Records every notification with whether the entry existed at that moment, so the order shows
// where the switch itself happened.
struct Recorder {
    std::vector<std::string> events;
    std::vector<Cancellable> observations;

    void observeAll() {
        observations.push_back(
            LaunchAtLogin::observableObject().objectWillChange().add([this] { note("objectWillChange"); }));
        observations.push_back(LaunchAtLogin::kvoObject().addObserver(
            [this](std::string_view key, LaunchAtLogin::KVO::Phase phase) {
                note(std::string(phase == LaunchAtLogin::KVO::Phase::willChange ? "will " : "did ") +
                     std::string(key));
            }));
        observations.push_back(LaunchAtLogin::enabledPublisher().sink(
            [this](bool value) { note(value ? "value YES" : "value NO"); }));
    }
    void note(const std::string& event) {
        events.push_back(event + (fs::exists(FileLocations::configDirectory() / "autostart" /
                                             (std::string(kHelper) + ".desktop"))
                                      ? " (on)"
                                      : " (off)"));
    }
};

TEST_F(LaunchAtLoginTest, ObserversHearOfEachChangeOnceInOrderAroundTheSwitch) {
    Recorder recorder;
    recorder.observeAll();
    LaunchAtLogin::setEnabled(true);
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"value NO (off)", "objectWillChange (off)", "will isEnabled (off)",
                                        "did isEnabled (on)", "value YES (on)"}));

    recorder.observations.clear();
    recorder.events.clear();
    LaunchAtLogin::setEnabled(false);
    EXPECT_TRUE(recorder.events.empty()) << "cancelled observers hear nothing";
}

TEST_F(LaunchAtLoginTest, AFailedSwitchIsStillAnnouncedAndHarmsNothing) {
    write(autostart(), "someone's file");
    Recorder recorder;
    recorder.observeAll();
    LaunchAtLogin::setEnabled(true);
    EXPECT_EQ(recorder.events.size(), 5u);
    EXPECT_EQ(recorder.events.back(), "value YES (off)");
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    EXPECT_EQ(stringFromData(*FileLocations::readFile(autostart())), "someone's file");
}

TEST_F(LaunchAtLoginTest, WithoutABundleIdentifierItReadsNoAndWritesNothing) {
    useBundleIdentifier(nullptr);
    write(autostart() / "-LaunchAtLoginHelper.desktop", "[Desktop Entry]\n");
    EXPECT_EQ(LaunchAtLogin::helperBundleIdentifier(), "");
    EXPECT_FALSE(LaunchAtLogin::isEnabled());

    Recorder recorder;
    recorder.observeAll();
    LaunchAtLogin::setEnabled(false);
    LaunchAtLogin::setEnabled(true);
    EXPECT_EQ(recorder.events.size(), 9u) << "observers are told as after any failed switch";
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(autostart())) files.push_back(entry.path());
    EXPECT_EQ(files, std::vector<fs::path>{autostart() / "-LaunchAtLoginHelper.desktop"});
}

TEST_F(LaunchAtLoginTest, PublisherKeepsItsValueRatherThanRereading) {
    write(helperEntry(), "[Desktop Entry]\n");
    std::vector<bool> first, second;
    Cancellable a = LaunchAtLogin::enabledPublisher().sink([&](bool v) { first.push_back(v); });
    fs::remove(helperEntry());
    Cancellable b = LaunchAtLogin::enabledPublisher().sink([&](bool v) { second.push_back(v); });
    EXPECT_EQ(first, std::vector<bool>{true});
    EXPECT_EQ(second, std::vector<bool>{true}) << "the value read when the publisher was made";
}

}  // namespace
