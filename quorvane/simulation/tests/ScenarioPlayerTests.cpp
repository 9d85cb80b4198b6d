#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/appkit/NSApplication.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/masshortcut/MASShortcutMonitor.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/simulation/ScenarioPlayer.h"
#include "quorvane/testing/ScenarioRunner.h"
#include "quorvane/tests/DesktopFixture.h"

namespace {
class Scenario : public DesktopTest {
  protected:
    ~Scenario() override {
        MASShortcutMonitor::sharedMonitor()->unregisterAllShortcuts();
        RunLoop::runUntilIdle();
        resetAllForTesting();
    }

    std::filesystem::path write(const std::string& text) {
        auto file = home_.path() / "scenario.json";
        std::ofstream(file) << text;
        return file;
    }

    ScenarioRun play(const std::string& text) {
        std::ostringstream out, err;
        int status = ScenarioPlayer::play(write(text), out, err);
        return {status, out.str(), err.str()};
    }
};

const char* kScreen = R"("screens": [{"bounds": [0, 0, 1440, 900], "insets": {"top": 25}}])";
}  // namespace

TEST_F(Scenario, MalformedFilesNameTheProblemAndItsPlace) {
    std::string screen = kScreen;
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {"{\"screens\": [", "line 1, column 14"},
        {"[]", "top level: expected an object"},
        {"{}", "top level: missing \"screens\""},
        {"{" + screen + ", \"trusted\": 1}", "trusted: expected true or false"},
        {"{" + screen + ", \"speed\": 2}", "speed: unknown key"},
        {R"({"screens": [{"bounds": [0, 0, 0, 900]}]})",
         "screens[0].bounds: expected a width and height above 0"},
        {"{" + screen + R"(, "apps": [{"pid": 1, "name": "A", "windows": [{"id": 1, "frame": [0, 0, 9]}]}]})",
         "apps[0].windows[0].frame: expected 4 numbers"},
        {"{" + screen + R"(, "apps": [{"pid": 1, "name": "A", "windows": [{"id": 1, "frame": [0, 0, 9, 9]},
                                                                          {"id": 1, "frame": [0, 0, 9, 9]}]}]})",
         "apps[0].windows[1].id: another window has this id"},
        {"{" + screen + R"(, "apps": [{"pid": -4, "name": "A"}]})",
         "apps[0].pid: expected a whole number from 1"},
        {"{" + screen + R"(, "frontmost": 7})", "frontmost: no application has this pid"},
        {"{" + screen +
             R"(, "defaults": {"spaces": [{"name": "L", "coordinates": [0, 0, 1, 1], "size": "wide"}]}})",
         "defaults.spaces[0].size: expected \"all\" or a whole number of points"},
        {"{" + screen + R"(, "steps": [{"press": {"keyCode": 18}}]})",
         "steps[0].press: missing \"modifierFlags\""},
        {"{" + screen + R"(, "steps": [{"unplug": 0, "advance": 1}]})", "steps[0]: expected exactly one of"},
        {"{" + screen + R"(, "steps": [{"advance": -1}]})", "steps[0].advance: expected 0 or more seconds"},
        {"{" + screen + R"(, "steps": [{"unplug": 0}, {"unplug": 0}]})",
         "steps[1].unplug: no screen at index 0"},
        {"{" + screen + R"(, "steps": [{"menu": "Preferences"}]})",
         "steps[0].menu: the status menu has no item \"Preferences\""},
        // The Spaces pane's steps: their shape, a frame on no screen's visible area, a missing row.
        {"{" + screen + R"(, "steps": [{"createSpace": {"frame": [0, 25, 9, 9]}}]})",
         "steps[0].createSpace: missing \"name\""},
        {"{" + screen + R"(, "steps": [{"createSpace": {"name": "L", "frame": [0, 25, 9, 9], "key": 1}}]})",
         "steps[0].createSpace.key: unknown key"},
        {"{" + screen + R"(, "steps": [{"createSpace": {"name": "L", "frame": [0, 25, 0, 9]}}]})",
         "steps[0].createSpace.frame: expected a width and height above 0"},
        {"{" + screen + R"(, "steps": [{"createSpace": {"name": "L", "frame": [1000, 25, 441, 9]}}]})",
         "steps[0].createSpace.frame: no screen holds this frame in its visible area"},
        {"{" + screen + R"(, "steps": [{"createSpace": {"name": "L", "frame": [0, 0, 9, 9]}}]})",
         "steps[0].createSpace.frame: no screen holds this frame in its visible area"},
        {"{" + screen + R"(, "steps": [{"deleteSpace": -1}]})",
         "steps[0].deleteSpace: expected a whole number from 0"},
        {"{" + screen + R"(, "steps": [{"deleteSpace": "Left"}]})",
         "steps[0].deleteSpace: expected a whole number"},
        {"{" + screen + R"(, "steps": [{"deleteSpace": 0}]})",
         "steps[0].deleteSpace: the Spaces pane has no row 0 (0 rows)"},
        {"{" + screen + R"(, "defaults": {"spaces": [{"name": "L", "coordinates": [0, 25, 720, 900]}]},
                            "steps": [{"deleteSpace": 1}]})",
         "steps[0].deleteSpace: the Spaces pane has no row 1 (1 row)"},
        {"{" + screen +
             R"(, "steps": [{"menu": "Quit"}, {"createSpace": {"name": "L", "frame": [0, 25, 9, 9]}}]})",
         "steps[1].createSpace: the agent has quit"},
        // Numbers beyond a sane range for their field.
        {R"({"screens": [{"bounds": [0, 0, 1e308, 900]}]})",
         "screens[0].bounds[2]: expected a number from -1000000 to 1000000"},
        {R"({"screens": [{"bounds": [0, 0, 1e400, 900]}]})", "number overflow"},
        {"{" + screen +
             R"(, "apps": [{"pid": 1, "name": "A", "windows": [{"id": 1, "frame": [-2e6, 0, 9, 9]}]}]})",
         "apps[0].windows[0].frame[0]: expected a number from -1000000 to 1000000"},
        {"{" + screen + R"(, "apps": [{"pid": 1, "name": "A", "windows": [{"id": 1, "frame": [0, 0, 9, 9],
                                                                          "maxSize": [0, 1e300]}]}]})",
         "apps[0].windows[0].maxSize[1]: expected a number from"},
        {"{" + screen + R"(, "defaults": {"spaces": [{"name": "L", "coordinates": [-1e308, 0, 1e308, 1]}]}})",
         "defaults.spaces[0].coordinates[0]: expected a number from -1000000 to 1000000"},
        {"{" + screen + R"(, "steps": [{"advance": 1e308}]})",
         "steps[0].advance: expected at most 31622400 seconds"},
        // The file's bytes reach the terminal escaped; readable UTF-8 stays as it is.
        {"{" + screen + ", \"k\\u001b[31mX\": 1}",
         "quorvane: " + (home_.path() / "scenario.json").string() + ": k\\x1b[31mX: unknown key\n"},
        {"{" + screen + ", \"caf\xc3\xa9\xc2\x9b\": 1}", "caf\xc3\xa9\\xc2\\x9b: unknown key"},
        {"{" + screen + R"(, "steps": [{"menu": "\u001b]0;x\u0007"}]})", "no item \"\\x1b]0;x\\x07\""},
        {"{\"screens\": [\xff]}", "last read: '\"screens\": [\\xff'"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto run = play(c.text);
        EXPECT_EQ(run.status, ScenarioPlayer::kMalformedScenario);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        MASShortcutMonitor::sharedMonitor()->unregisterAllShortcuts();
        resetAllForTesting();
    }
}

// Checked before reading: a directory cannot be read as text, and /dev/zero would never end.
TEST_F(Scenario, WhatIsNotAReadableFileOfSaneSizeIsRefused) {
    auto large = home_.path() / "large.json";
    std::ofstream(large) << "{}";
    std::filesystem::resize_file(large, (64 << 20) + 1);
    struct Case {
        std::filesystem::path file;
        std::string message;
    } cases[] = {
        {home_.path() / "missing.json", "cannot be read"},
        {home_.path(), "is not a regular file"},
        {"/dev/zero", "is not a regular file"},
        {large, "is larger than 64 MiB"},
    };
    for (auto& c : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(ScenarioPlayer::play(c.file, out, err), ScenarioPlayer::kMalformedScenario);
        EXPECT_EQ(err.str(), "quorvane: " + c.file.string() + ": " + c.message + "\n");
        EXPECT_TRUE(out.str().empty());
    }
}

TEST_F(Scenario, LinesFollowTheAgent) {
    auto run = play("{" + std::string(kScreen) + R"(,
        "apps": [{"pid": 7, "name": "Editor", "windows": [{"id": 3, "frame": [900, 40, 400, 300]},
                                                          {"id": 4, "frame": [10, 40, 400, 300], "minimized": true}]}],
        "frontmost": 7,
        "defaults": {"resizeModifier": 131072, "firstLaunch": true,
                     "spaces": [{"name": "Left", "coordinates": [0, 25, 720, 900],
                                 "shortcut": {"keyCode": 18, "modifierFlags": 1048576}}]},
        "steps": [{"press": {"keyCode": 18, "modifierFlags": 1179648}},
                  {"unplug": 0},
                  {"plug": {"bounds": [0, 0, 1440, 900], "insets": {"top": 25}}},
                  {"advance": 2.0},
                  {"menu": "Quit"}]})");
    ASSERT_EQ(run.status, 0) << run.err;
    auto out = scenarioLines(run.out);
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(json::write(out[0]),
              R"({"step":0,"frontmost":7,"focused":3,"windows":{"3":[900,40,400,300],"4":[10,40,400,300]},)"
              R"("hotkeys":[[18,1048576],[18,1179648]],"events":[],)"
              R"("menu":["Spaces ...","-","Check for updates...","-",{"quorvane":["Quit"]}]})");
    EXPECT_EQ(json::write(out[1]["windows"]["3"]), "[0,25,720,875]");
    EXPECT_EQ(json::write(out[1]["events"]), R"(["resized"])");
    EXPECT_EQ(json::write(out[2]["hotkeys"]), "[]");
    EXPECT_EQ(json::write(out[3]["hotkeys"]), "[[18,1048576],[18,1179648]]");
    EXPECT_EQ(out[4]["step"], Value(4));
    EXPECT_EQ(json::write(out[5]["hotkeys"]), "[]");
}

namespace {
// The spaces stored for the current screens, as "name x1 y1 x2 y2".
std::vector<std::string> storedSpaces() {
    std::vector<std::string> spaces;
    for (const auto& group : UserDefaultsManager::currentGroups()) {
        std::string text = group->name();
        for (CGFloat c : group->coordinates()) text += " " + std::to_string(static_cast<int64_t>(c));
        spaces.push_back(text);
    }
    return spaces;
}
}  // namespace

// The two steps go through the pane as a user would: the pane is opened from the status menu when it
// is not on screen, "+" draws the frame on the overlay of the screen that holds it (snapped to that
// overlay's grid), and a row is picked before "−" deletes it.
TEST_F(Scenario, CreateSpaceAndDeleteSpaceDriveTheSpacesPane) {
    auto run = play(R"({"screens": [{"bounds": [0, 0, 1440, 900], "insets": {"top": 25}},
                                    {"bounds": [1440, 0, 1920, 1080]}],
        "defaults": {"resizeModifier": 131072, "firstLaunch": true,
                     "spaces": [{"name": "Old", "coordinates": [0, 25, 720, 900],
                                 "shortcut": {"keyCode": 18, "modifierFlags": 1048576}}]},
        "steps": [{"createSpace": {"name": "Left", "frame": [0, 25, 720, 875]}},
                  {"createSpace": {"name": "Wide", "frame": [1450, 10, 300, 100]}},
                  {"deleteSpace": 0},
                  {"menu": "Spaces ..."},
                  {"deleteSpace": 1}]})");
    ASSERT_EQ(run.status, 0) << run.err;
    auto out = scenarioLines(run.out);
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(json::write(out[1]["events"]), R"(["opened_preferences","created_space"])");
    EXPECT_EQ(json::write(out[2]["events"]), R"(["created_space"])");
    EXPECT_EQ(json::write(out[3]["events"]), R"(["deleted_space"])");
    EXPECT_EQ(json::write(out[3]["hotkeys"]), "[]");
    EXPECT_EQ(json::write(out[4]["events"]), R"(["opened_preferences"])");
    EXPECT_EQ(json::write(out[5]["events"]), R"(["deleted_space"])");
    EXPECT_EQ(storedSpaces(), (std::vector<std::string>{"Left 0 25 720 901"}));
}

TEST_F(Scenario, CreatedSpacesTakeTheGridCellsTheirFrameOverlaps) {
    auto run = play(R"({"screens": [{"bounds": [0, 0, 1440, 900], "insets": {"top": 25}},
                                    {"bounds": [1440, 0, 1920, 1080]}],
        "steps": [{"createSpace": {"name": "Left", "frame": [0, 25, 720, 875]}},
                  {"createSpace": {"name": "", "frame": [1450, 10, 300, 100]}},
                  {"createSpace": {"name": "Middle", "frame": [700, 400, 40, 40]}},
                  {"createSpace": {"name": "Low", "frame": [600, 810, 100, 50]}}]})");
    ASSERT_EQ(run.status, 0) << run.err;
    // Rows of the 875-point overlay are 87.5 points tall; the grid rounds each row's top, so the last
    // one ends at 901. The last frame's top-left corner lies under the overlay's menu.
    EXPECT_EQ(storedSpaces(), (std::vector<std::string>{"Left 0 25 720 901", " 1440 0 1824 216",
                                                        "Middle 576 375 864 463", "Low 576 725 720 901"}));
}
