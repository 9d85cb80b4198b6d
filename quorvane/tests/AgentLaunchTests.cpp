#include <gtest/gtest.h>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/HttpClient/DIZHttpClient.h"
#include "DudIzizoz/Internals/Util/DIZDependencyConfiguration.h"
#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "Settings/SettingsWindowController.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/masshortcut/MASShortcutMonitor.h"
#include "platform/sparkle/SUUpdater.h"
#include "platform/zudedaro/ZUDApp.h"
#include "quorvane/AppDelegate.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/WorkspaceManager.h"
#include "quorvane/testing/RegisteredHotkeys.h"
#include "quorvane/tests/DesktopFixture.h"
#include "testing/EnvironmentOverride.h"

namespace UDM = UserDefaultsManager;

namespace {
constexpr NSEventModifierFlags kCmd = NSEventModifierFlagCommand;
constexpr NSEventModifierFlags kShift = NSEventModifierFlagShift;
constexpr NSEventModifierFlags kCtrl = NSEventModifierFlagControl;
constexpr pid_t kA = 101, kB = 102;
const Coordinates kLeft{0, 25, 720, 900};

class AgentLaunch : public DesktopTest {
  protected:
    AgentLaunch() { desktop.plugScreen(kScreenA); }
    ~AgentLaunch() override {
        for (const auto& window : NSWindow::orderedWindows()) window->close();
        monitor->unregisterAllShortcuts();
        RunLoop::runUntilIdle();
        resetAllForTesting();
    }

    // A launch as a new process makes it: settings read afresh, a new application object.
    MainInterface launch() {
        resetAllForTesting();
        monitor = MASShortcutMonitor::sharedMonitor();
        auto interface = loadMainInterface();
        auto app = NSApplication::sharedApplication();
        app->setDelegate(interface.delegate);
        app->finishLaunching();
        RunLoop::runUntilIdle();
        startReportingClient();
        return interface;
    }

    // Settings of an earlier run: not a first launch, Shift as the resize modifier.
    void storeSettings(NSEventModifierFlags modifier = kShift) {
        UserDefaults::standardUserDefaults()->setObject(true, UDM::kFirstLaunchKey);
        UDM::saveResizeModifier(modifier);
    }

    bool press(int64_t keyCode, NSEventModifierFlags flags) {
        bool consumed = simulate::pressKey(static_cast<uint16_t>(keyCode), flags);
        RunLoop::runUntilIdle();
        return consumed;
    }

    // Window 1 of A outside the left half, window 2 of B inside it; A is frontmost.
    void addWindows() {
        desktop.addApplication(kA, "A");
        desktop.addApplication(kB, "B");
        desktop.addWindow(windowAt(kA, 1, {800, 40, 500, 600}));
        desktop.addWindow(windowAt(kB, 2, {100, 100, 300, 300}));
        desktop.activateApplication(kA);
    }

    std::shared_ptr<MASShortcutMonitor> monitor = MASShortcutMonitor::sharedMonitor();
    // The launched agent arms real timers (the reporting client's flushes, window animations); on
    // the manual clock none of them fires halfway through a test on a slow machine.
    ScopedManualClock clock;
};

std::vector<Value> menuOutline(const NSMenu& menu) {
    std::vector<Value> out;
    for (const auto& item : menu.itemArray()) {
        if (item->isSeparatorItem()) {
            out.emplace_back("-");
        } else if (item->submenu()) {
            auto inner = menuOutline(*item->submenu());
            out.emplace_back(Dictionary{{item->title(), Value::Array(inner.begin(), inner.end())}});
        } else {
            out.emplace_back(item->title());
        }
    }
    return out;
}
}  // namespace

TEST_F(AgentLaunch, FreshDefaults) {
    for (bool trusted : {false, true}) {
        SCOPED_TRACE(trusted ? "trusted" : "untrusted");
        UserDefaults::standardUserDefaults()->removeObjectForKey(UDM::kFirstLaunchKey);
        UserDefaults::standardUserDefaults()->removeObjectForKey(UDM::kWorkspaceKey);
        UserDefaults::standardUserDefaults()->removeObjectForKey(UDM::kResizeKey);
        desktop.reset();
        desktop.plugScreen(kScreenA);
        desktop.setTrusted(trusted);

        auto interface = launch();
        EXPECT_FALSE(interface.window->isVisible());
        EXPECT_TRUE(UserDefaults::standardUserDefaults()->boolForKey(UDM::kFirstLaunchKey));
        EXPECT_EQ(UDM::storedResizeModifier(), 0x20000u);
        auto workspaces = UDM::loadWorkspaces();
        ASSERT_EQ(workspaces.size(), 1u);
        EXPECT_EQ(workspaces[0]->screens(), UDM::currentScreenFrames());
        EXPECT_TRUE(workspaces[0]->groups().empty());
        EXPECT_TRUE(hotkeys().empty());
        EXPECT_EQ(desktop.trustPrompts(), trusted ? 0 : 1);
    }
}

// The channel group attaches its ingestion to the HTTP client while the reporting client starts:
// the moment this client sees it is the moment the reporting client starts.
class StartObservingClient : public DIZHttpClientProtocol {
  public:
    explicit StartObservingClient(std::function<void()> started) : started_(std::move(started)) {}
    void sendAsync(const std::string& url, const std::string& method, const HTTPHeaders& headers,
                   std::optional<Data> data, DIZHttpRequestCompletionHandler handler) override {
        inner_->sendAsync(url, method, headers, std::move(data), std::move(handler));
    }
    void sendAsync(const std::string& url, const std::string& method, const HTTPHeaders& headers,
                   std::optional<Data> data, std::vector<double> retryIntervals, bool compressionEnabled,
                   DIZHttpRequestCompletionHandler handler) override {
        inner_->sendAsync(url, method, headers, std::move(data), std::move(retryIntervals),
                          compressionEnabled, std::move(handler));
    }
    void pause() override { inner_->pause(); }
    void resume() override { inner_->resume(); }
    void setEnabled(bool isEnabled) override { inner_->setEnabled(isEnabled); }
    std::shared_ptr<DIZHttpClientDelegate> delegate() const override { return inner_->delegate(); }
    void setDelegate(std::weak_ptr<DIZHttpClientDelegate> delegate) override {
        if (started_) std::exchange(started_, nullptr)();
        inner_->setDelegate(std::move(delegate));
    }

  private:
    std::shared_ptr<DIZHttpClient> inner_ = DIZHttpClient::make();
    std::function<void()> started_;
};

TEST_F(AgentLaunch, TelemetryStartsBeforeTheAgentsOwnLaunchSteps) {
    EnvironmentOverride environment;
    environment.set("QUORVANE_LOG_URL", "http://127.0.0.1:9");
    std::optional<bool> firstLaunchWhenStarted;
    DIZDependencyConfiguration::setHttpClient(std::make_shared<StartObservingClient>([&] {
        firstLaunchWhenStarted = UserDefaults::standardUserDefaults()->boolForKey(UDM::kFirstLaunchKey);
    }));
    launch();
    DIZDependencyConfiguration::setHttpClient(nullptr);

    EXPECT_TRUE(ZUDApp::isDefaultAppConfigured());
    EXPECT_TRUE(DIZDudIzizoz::isConfigured());
    EXPECT_EQ(DIZDudIzizoz::logUrl(), "http://127.0.0.1:9");
    EXPECT_TRUE(DIZCrashes::sharedInstance()->isStarted());
    EXPECT_TRUE(DIZAnalytics::sharedInstance()->isStarted());
    ASSERT_TRUE(firstLaunchWhenStarted);
    EXPECT_FALSE(*firstLaunchWhenStarted);
    EXPECT_TRUE(UserDefaults::standardUserDefaults()->boolForKey(UDM::kFirstLaunchKey));
}

TEST_F(AgentLaunch, StatusMenu) {
    auto interface = launch();
    auto item = interface.delegate->statusBarItem();
    ASSERT_TRUE(item);
    EXPECT_EQ(item->length(), NSVariableStatusItemLength);
    EXPECT_TRUE(item->isVisible());
    ASSERT_TRUE(item->button()->image());
    EXPECT_EQ(item->button()->image()->name(), "icon");
    EXPECT_EQ(item->button()->image()->size(), (CGSize{18, 18}));

    auto menu = item->menu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menuOutline(*menu), (std::vector<Value>{"Spaces ...", "-", "Check for updates...", "-",
                                                      Dictionary{{"quorvane", Value::Array{"Quit"}}}}));
    EXPECT_EQ(menu->itemArray()[0]->image()->name(), "menubar-spaces");
    for (const auto& entry : menu->itemArray()) EXPECT_EQ(entry->keyEquivalent(), "");

    int checks = SUUpdater::sharedUpdater()->checksRequested();
    EXPECT_TRUE(menu->performActionForItemAtIndex(2));
    EXPECT_EQ(SUUpdater::sharedUpdater()->checksRequested(), checks + 1);

    interface.window->makeKeyAndOrderFront(nullptr);
    EXPECT_TRUE(menu->performActionForItemAtIndex(0));
    EXPECT_FALSE(interface.window->isVisible());
    interface.window->makeKeyAndOrderFront(nullptr);
    NSApplication::sharedApplication()->reopen(true);
    EXPECT_FALSE(interface.window->isVisible());
}

TEST_F(AgentLaunch, PreferencesAreBuiltOnceAndAlwaysOpenOnSpaces) {
    auto interface = launch();
    EXPECT_TRUE(interface.delegate->statusBarItem()->menu()->performActionForItemAtIndex(0));
    auto controller = interface.delegate->preferencesWindowController();
    auto panes = controller->tabViewController()->panes();
    ASSERT_EQ(panes.size(), 2u);
    EXPECT_EQ(panes[0]->paneTitle(), "Spaces");
    EXPECT_EQ(panes[1]->paneTitle(), "General");
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(controller->window()->title(), "Spaces");

    controller->show(Settings::PaneIdentifier("general"));
    interface.window->makeKeyAndOrderFront(nullptr);
    NSApplication::sharedApplication()->reopen(true);
    EXPECT_FALSE(interface.window->isVisible());
    EXPECT_EQ(interface.delegate->preferencesWindowController(), controller);
    EXPECT_EQ(controller->tabViewController()->panes(), panes);
    EXPECT_EQ(controller->window()->title(), "Spaces");
    EXPECT_TRUE(controller->window()->isKeyWindow());
    EXPECT_EQ(events, (std::vector<std::string>{"m:opened_preferences", "r:opened_preferences",
                                                "m:opened_preferences", "r:opened_preferences"}));
}

TEST_F(AgentLaunch, QuitTerminatesOnce) {
    auto interface = launch();
    int willTerminate = 0;
    auto app = NSApplication::sharedApplication();
    auto token = NotificationCenter::defaultCenter().addObserver(
        NSApplicationWillTerminateNotification, [&](const Notification&) { ++willTerminate; }, app.get());
    auto submenu = interface.delegate->statusBarItem()->menu()->itemWithTitle("quorvane")->submenu();
    EXPECT_TRUE(submenu->performActionForItemAtIndex(0));
    EXPECT_TRUE(app->isTerminated());
    EXPECT_EQ(willTerminate, 1);
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(AgentLaunch, SpaceHotkeyFocusesAndResizeHotkeyFills) {
    storeSettings();
    UDM::addGroup("Left", MASShortcut::shortcutWithKeyCode(18, kCmd), 0, 25, 720, 900);
    addWindows();
    launch();
    EXPECT_EQ(hotkeys(), (Hotkeys{{18, kCmd}, {18, kShift | kCmd}}));

    EXPECT_TRUE(press(18, kCmd));
    EXPECT_EQ(desktop.focusedWindow(), 2u);
    EXPECT_EQ(events, (std::vector<std::string>{"m:switched", "r:switch"}));

    events.clear();
    EXPECT_TRUE(press(18, kShift | kCmd));
    EXPECT_EQ(events, (std::vector<std::string>{"m:resized", "r:resized"}));
    EXPECT_EQ(desktop.window(2)->bounds, CGRect(0, 25, 720, 875));
    EXPECT_EQ(desktop.window(1)->bounds, CGRect(800, 40, 500, 600));
    // The running agent keeps no record of its platform calls: memory stays flat under presses.
    EXPECT_TRUE(desktop.calls().empty());
}

TEST_F(AgentLaunch, ASecondSpaceWithTheSameKeysLeavesTheFirstItsHotkeys) {
    storeSettings();
    UDM::addGroup("Left", MASShortcut::shortcutWithKeyCode(18, kCmd), 0, 25, 720, 900);
    UDM::addGroup("Right", MASShortcut::shortcutWithKeyCode(18, kCmd), 720, 25, 1440, 900);
    addWindows();
    launch();
    EXPECT_EQ(hotkeys(), (Hotkeys{{18, kCmd}, {18, kShift | kCmd}}));

    press(18, kCmd);
    EXPECT_EQ(desktop.focusedWindow(), 2u);
    press(18, kShift | kCmd);
    EXPECT_EQ(desktop.window(2)->bounds, CGRect(0, 25, 720, 875));
}

TEST_F(AgentLaunch, SpacesWithoutShortcutOrModifierGetNoResizeHotkey) {
    storeSettings();
    UserDefaults::standardUserDefaults()->removeObjectForKey(UDM::kResizeKey);
    UDM::addGroup("Plain", nullptr, 0, 25, 720, 900);
    UDM::addGroup("Left", MASShortcut::shortcutWithKeyCode(18, kCmd), 0, 25, 720, 900);
    addWindows();
    launch();
    EXPECT_EQ(hotkeys(), (Hotkeys{{18, kCmd}}));
    press(18, kCmd);
    EXPECT_EQ(desktop.focusedWindow(), 2u);
}

TEST_F(AgentLaunch, ScreenChangesSwitchTheHotkeys) {
    storeSettings(kCtrl);
    attachScreens({kScreenA});
    UDM::addGroup("Alone", MASShortcut::shortcutWithKeyCode(18, kCmd), 0, 25, 720, 900);
    attachScreens({kScreenA, kScreenB});
    UDM::addGroup("Wide", MASShortcut::shortcutWithKeyCode(19, kCmd), 1440, 0, 3360, 1080);

    launch();
    EXPECT_EQ(hotkeys(), (Hotkeys{{19, kCmd}, {19, kCtrl | kCmd}}));

    desktop.unplugScreen(desktop.screens()[1].displayID);
    RunLoop::runUntilIdle();
    EXPECT_EQ(hotkeys(), (Hotkeys{{18, kCmd}, {18, kCtrl | kCmd}}));

    desktop.plugScreen(kScreenB);
    RunLoop::runUntilIdle();
    EXPECT_EQ(hotkeys(), (Hotkeys{{19, kCmd}, {19, kCtrl | kCmd}}));

    attachScreens({kScreenB});
    RunLoop::runUntilIdle();
    EXPECT_TRUE(hotkeys().empty());
    EXPECT_EQ(UDM::loadWorkspaces().size(), 3u);

    attachScreens({kScreenA});
    RunLoop::runUntilIdle();
    launch();
    EXPECT_EQ(UDM::storedResizeModifier(), kCtrl);
    EXPECT_EQ(hotkeys(), (Hotkeys{{18, kCmd}, {18, kCtrl | kCmd}}));
}

TEST_F(AgentLaunch, ChangingTheModifierKeepsSpaceHotkeysThatHoldIt) {
    storeSettings(kShift);
    UDM::addGroup("Left", MASShortcut::shortcutWithKeyCode(18, kShift | kCmd), 0, 25, 720, 900);
    UDM::addGroup("Right", MASShortcut::shortcutWithKeyCode(19, kCmd), 720, 25, 1440, 900);
    addWindows();
    launch();
    EXPECT_EQ(hotkeys(), (Hotkeys{{18, kShift | kCmd}, {19, kCmd}, {19, kShift | kCmd}}));

    auto manager = WorkspaceManager::shared();
    manager->unregisterResizeShortcuts(UDM::currentGroups());
    UDM::saveResizeModifier(kCtrl);
    manager->registerResizeShortcuts(UDM::currentGroups());
    EXPECT_EQ(hotkeys(),
              (Hotkeys{{18, kShift | kCmd}, {18, kCtrl | kShift | kCmd}, {19, kCmd}, {19, kCtrl | kCmd}}));

    EXPECT_FALSE(press(19, kShift | kCmd));
    EXPECT_TRUE(press(18, kShift | kCmd));
    EXPECT_EQ(events, (std::vector<std::string>{"m:switched", "r:switch"}));
    EXPECT_EQ(desktop.focusedWindow(), 2u);
}

TEST_F(AgentLaunch, SpaceHotkeySeesEditsWhileResizeHotkeyKeepsItsRectangle) {
    storeSettings();
    addWindows();
    launch();
    auto group = std::make_shared<Group>("Moving", MASShortcut::shortcutWithKeyCode(20, kCmd), kLeft);
    auto manager = WorkspaceManager::shared();
    manager->registerSpaceShortcut(group);
    manager->registerResizeShortcut(group->shortcut(), group->coordinates());

    group->setCoordinates({720, 25, 1440, 900});
    press(20, kCmd);
    EXPECT_EQ(desktop.focusedWindow(), 1u);
    press(20, kShift | kCmd);
    EXPECT_EQ(desktop.window(1)->bounds, CGRect(0, 25, 720, 875));
}
