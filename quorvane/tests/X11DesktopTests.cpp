// The agent on a real X11 desktop: the executable runs against Xvfb with a window manager, other
// applications' windows are made by the test's own client, keys are pressed through XTEST, and every
// effect is read back from the X server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>

#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/windowserver/testing/X11TestServer.h"
#include "quorvane/AgentBundle.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/testing/ScenarioRunner.h"
#include "testing/ChildProcess.h"
#include "testing/Eventually.h"

namespace {
constexpr NSEventModifierFlags kCommand = NSEventModifierFlagCommand;
constexpr uint16_t kSuper = XCB_MOD_MASK_4;
constexpr uint16_t kShiftSuper = XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT;
constexpr pid_t kEditor = 41001, kViewer = 41002;
constexpr int64_t kKey1 = 18, kKey2 = 19;

struct Space {
    std::string name;
    Coordinates coordinates;
    int64_t keyCode;
};

class X11Agent : public ::testing::Test {
  protected:
    void SetUp() override {
        x11_ = std::make_unique<X11TestServer>(screenWidth(), 900);
        ASSERT_TRUE(x11_->ready()) << "Xvfb or the window manager did not start";
    }
    virtual int screenWidth() const { return 1440; }

    void TearDown() override {
        if (agent_ > 0) stopAgent();
    }

    // One workspace per arrangement, written where the agent reads its settings. The first launch
    // stores Shift as the resize modifier.
    void storeWorkspaces(
        const std::vector<std::pair<std::vector<CGRect>, std::vector<Space>>>& arrangements) {
        std::vector<std::shared_ptr<Workspace>> workspaces;
        for (const auto& [screens, spaces] : arrangements) {
            auto workspace = std::make_shared<Workspace>(screens);
            std::vector<std::shared_ptr<Group>> groups;
            for (const auto& space : spaces)
                groups.push_back(std::make_shared<Group>(
                    space.name, MASShortcut::shortcutWithKeyCode(space.keyCode, kCommand),
                    space.coordinates));
            workspace->setGroups(std::move(groups));
            workspaces.push_back(workspace);
        }
        UserDefaultsManager::saveWorkspaces(workspaces);
        ASSERT_TRUE(UserDefaults::standardUserDefaults()->synchronize());
    }

    void startAgent() {
        agent_ = spawnChild({QUORVANE_EXECUTABLE}, {.environment = {"DISPLAY=" + x11_->display(),
                                                                    "QUORVANE_HOME=" + home_.path().string()},
                                                    .quiet = true});
        ASSERT_GT(agent_, 0);
    }

    // The agent's exit status, as waitpid gives it.
    std::optional<int> stopAgent() {
        kill(agent_, SIGTERM);
        auto status = waitForChild(agent_, 60);
        agent_ = -1;
        return status;
    }

    xcb_window_t window(pid_t pid, CGRect frame, std::optional<CGSize> maxSize = std::nullopt) {
        return x11_->createWindow({pid, pid == kEditor ? "Editor" : "Viewer", frame, maxSize});
    }

    TestHome home_{agentBundle()};
    std::unique_ptr<X11TestServer> x11_;
    pid_t agent_ = -1;
};

const std::vector<CGRect> kOneScreen{{0, 0, 1440, 900}};
const Space kLeft{"Left", {0, 0, 720, 900}, kKey1};
}  // namespace

// The front window lies outside the space: the first press brings the Editor's front window of
// the two inside it forward and focuses it, the next cycles to the other.
TEST_F(X11Agent, SpaceShortcutRaisesTheWindowInsideItAndCyclesOnTheNextPress) {
    storeWorkspaces({{kOneScreen, {kLeft}}});
    const auto back = window(kEditor, {20, 40, 400, 300});
    const auto middle = window(kEditor, {60, 80, 400, 300});
    const auto outside = window(kViewer, {800, 100, 400, 300});
    x11_->activate(outside);
    ASSERT_TRUE(eventually([&] { return x11_->activeWindow() == outside; }));
    startAgent();
    ASSERT_TRUE(eventually([&] { return x11_->keyTakenByAnother(XK_1, kSuper); }));

    x11_->press(XK_1, {XK_Super_L});
    EXPECT_TRUE(eventually(
        [&] { return x11_->activeWindow() == middle && x11_->stackingFrontToBack().front() == middle; }));
    x11_->press(XK_1, {XK_Super_L});
    EXPECT_TRUE(eventually(
        [&] { return x11_->activeWindow() == back && x11_->stackingFrontToBack().front() == back; }));
    x11_->press(XK_1, {XK_Super_L});
    EXPECT_TRUE(eventually([&] { return x11_->activeWindow() == middle; }));
}

// With Caps Lock or Num Lock on, the same keys are the agent's.
TEST_F(X11Agent, LockKeysMakeNoDifferenceToTheHotKeys) {
    storeWorkspaces({{kOneScreen, {kLeft}}});
    startAgent();
    // The resize hot keys come after the spaces' own.
    ASSERT_TRUE(eventually([&] { return x11_->keyTakenByAnother(XK_1, kShiftSuper); }));
    EXPECT_TRUE(x11_->keyTakenByAnother(XK_1, kSuper));
    EXPECT_TRUE(x11_->keyTakenByAnother(XK_1, kSuper | XCB_MOD_MASK_LOCK));
    EXPECT_TRUE(x11_->keyTakenByAnother(XK_1, kSuper | XCB_MOD_MASK_2));
    EXPECT_TRUE(x11_->keyTakenByAnother(XK_1, kShiftSuper | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2));
    EXPECT_FALSE(x11_->keyTakenByAnother(XK_1, XCB_MOD_MASK_1));
}

// The resize shortcut puts the front window's frame, decorations included, on the space.
TEST_F(X11Agent, ResizeShortcutMakesTheFrontWindowFillTheSpace) {
    storeWorkspaces({{kOneScreen, {kLeft}}});
    const auto front = window(kViewer, {800, 100, 400, 300});
    x11_->activate(front);
    ASSERT_TRUE(eventually([&] { return x11_->activeWindow() == front; }));
    startAgent();
    ASSERT_TRUE(eventually([&] { return x11_->keyTakenByAnother(XK_1, kShiftSuper); }));

    x11_->press(XK_1, {XK_Super_L, XK_Shift_L});
    ASSERT_TRUE(eventually([&] {
        return CGRectEqualToRect(x11_->frameRect(front), {0, 0, 720, 900});
    })) << "frame "
        << x11_->frameRect(front).width() << "x" << x11_->frameRect(front).height();
    const CGRect client = x11_->clientRect(front);
    EXPECT_GE(client.minX(), 0);
    EXPECT_GE(client.minY(), 0);
    EXPECT_LE(client.maxX(), 720);
    EXPECT_LE(client.maxY(), 900);
}

// A window that may not grow past 300 × 200 goes to the space's corner at that size.
TEST_F(X11Agent, AWindowWithAMaximumSizeKeepsIt) {
    storeWorkspaces({{kOneScreen, {kLeft}}});
    const auto limited = window(kViewer, {800, 100, 250, 150}, CGSize{300, 200});
    x11_->activate(limited);
    ASSERT_TRUE(eventually([&] { return x11_->activeWindow() == limited; }));
    startAgent();
    ASSERT_TRUE(eventually([&] { return x11_->keyTakenByAnother(XK_1, kShiftSuper); }));

    x11_->press(XK_1, {XK_Super_L, XK_Shift_L});
    ASSERT_TRUE(eventually([&] { return x11_->frameRect(limited).origin == CGPoint{0, 0}; }));
    x11_->press(XK_1, {XK_Super_L, XK_Shift_L});
    EXPECT_TRUE(eventually([&] { return x11_->clientRect(limited).size == CGSize{300, 200}; }));
    EXPECT_EQ(x11_->frameRect(limited).origin, (CGPoint{0, 0}));
}

namespace {
class X11AgentOnTwoMonitors : public X11Agent {
  protected:
    int screenWidth() const override { return 2880; }
};
}  // namespace

// Each arrangement of monitors has its own workspace: removing the second monitor swaps the two
// monitors' hot key for the one monitor's, and adding it again swaps them back.
TEST_F(X11AgentOnTwoMonitors, RemovingAndAddingAMonitorSwapsTheHotKeys) {
    x11_->setMonitor("LEFT", {0, 0, 1440, 900}, true, true);
    x11_->setMonitor("RIGHT", {1440, 0, 1440, 900}, false, false);
    storeWorkspaces({{{{0, 0, 1440, 900}, {1440, 0, 1440, 900}}, {{"Both", {0, 0, 1440, 900}, kKey2}}},
                     {kOneScreen, {{"One", {0, 0, 720, 900}, kKey1}}}});
    startAgent();
    ASSERT_TRUE(eventually([&] { return x11_->keyTakenByAnother(XK_2, kSuper); }));
    EXPECT_FALSE(x11_->keyTakenByAnother(XK_1, kSuper));

    x11_->deleteMonitor("RIGHT");
    EXPECT_TRUE(eventually([&] { return x11_->keyTakenByAnother(XK_1, kSuper); }));
    EXPECT_TRUE(eventually([&] { return !x11_->keyTakenByAnother(XK_2, kSuper); }));

    x11_->setMonitor("RIGHT", {1440, 0, 1440, 900}, false, false);
    EXPECT_TRUE(eventually([&] { return x11_->keyTakenByAnother(XK_2, kSuper); }));
    EXPECT_TRUE(eventually([&] { return !x11_->keyTakenByAnother(XK_1, kSuper); }));
}

// As the README says: the spaces come from a scenario's defaults for the display's screens, then
// the agent runs on the display until SIGTERM, ends cleanly and lets its keys go.
TEST_F(X11Agent, RunsOnTheDisplayUntilTerminatedAndEndsCleanly) {
    auto defaults = home_.path() / "defaults.json";
    std::ofstream(defaults) << R"({"screens": [{"bounds": [0, 0, 1440, 900]}],
        "defaults": {"resizeModifier": 131072, "firstLaunch": true,
                     "spaces": [{"name": "Left", "coordinates": [0, 0, 720, 900],
                                 "shortcut": {"keyCode": 18, "modifierFlags": 1048576}, "size": "all"}]},
        "steps": []})";
    auto stored = runScenarioExecutable(QUORVANE_EXECUTABLE, defaults,
                                        "QUORVANE_HOME='" + home_.path().string() + "' ", home_.path());
    ASSERT_EQ(stored.status, 0) << stored.err;
    startAgent();
    ASSERT_TRUE(eventually([&] { return x11_->keyTakenByAnother(XK_1, kShiftSuper); }));
    EXPECT_TRUE(x11_->keyTakenByAnother(XK_1, kSuper));

    auto status = stopAgent();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_TRUE(eventually([&] { return !x11_->keyTakenByAnother(XK_1, kSuper); }));
}

namespace {
struct DesktopChoice {
    const char* name;
    std::string environment;
    std::string error;
};
}  // namespace

// A forced X11 desktop that cannot be had is one line on stderr and exit code 2.
TEST(X11AgentChoice, AForcedDisplayThatDoesNotAnswerEndsTheAgentWithOneLine) {
    TestHome home{agentBundle()};
    const DesktopChoice cases[] = {
        {"no display", "env -u DISPLAY QUORVANE_DESKTOP=x11 ",
         "quorvane: QUORVANE_DESKTOP=x11 but DISPLAY is not set\n"},
        {"silent display", "DISPLAY=:9999 QUORVANE_DESKTOP=x11 ",
         "quorvane: QUORVANE_DESKTOP=x11 but the X11 display ':9999' does not answer\n"},
        {"unknown choice", "QUORVANE_DESKTOP=wayland ",
         "quorvane: QUORVANE_DESKTOP must be x11 or simulated, not 'wayland'\n"},
    };
    for (const auto& c : cases) {
        const std::string command = c.environment + "QUORVANE_HOME='" + home.path().string() + "' '" +
                                    QUORVANE_EXECUTABLE + "' 2>'" + (home.path() / "err").string() + "'";
        const int status = std::system(command.c_str());
        std::ifstream errFile(home.path() / "err");
        std::string err((std::istreambuf_iterator<char>(errFile)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << c.name;
        EXPECT_EQ(err, c.error) << c.name;
    }
}
