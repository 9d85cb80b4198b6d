#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Settings/SettingsWindowController.h"
#include "login_item/LaunchAtLogin.h"
#include "platform/appkit/NSApplication.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/masshortcut/MASShortcutMonitor.h"
#include "quorvane/AdvancedViewController.h"
#include "quorvane/AppDelegate.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/WorkspaceManager.h"
#include "quorvane/testing/RegisteredHotkeys.h"
#include "quorvane/tests/DesktopFixture.h"

namespace UDM = UserDefaultsManager;

namespace {

constexpr NSEventModifierFlags kShift = NSEventModifierFlagShift;
constexpr NSEventModifierFlags kCtrl = NSEventModifierFlagControl;
constexpr NSEventModifierFlags kOpt = NSEventModifierFlagOption;
constexpr NSEventModifierFlags kCmd = NSEventModifierFlagCommand;

class GeneralPane : public DesktopTest {
  protected:
    GeneralPane() { desktop.plugScreen(kScreenA); }
    ~GeneralPane() override {
        MASShortcutMonitor::sharedMonitor()->unregisterAllShortcuts();
        RunLoop::runUntilIdle();
        for (const auto& window : NSWindow::orderedWindows()) window->close();
        resetAllForTesting();
    }

    static std::shared_ptr<AdvancedViewController> loadedPane() {
        auto pane = std::make_shared<AdvancedViewController>();
        pane->view();
        return pane;
    }

    static std::filesystem::path loginItemEntry() {
        return FileLocations::configDirectory() / "autostart" /
               (LaunchAtLogin::helperBundleIdentifier() + ".desktop");
    }
};

int selectedSegment(const AdvancedViewController& pane) {
    const auto& control = *pane.shortcutSegmentedControl();
    for (int i = 0; i < control.segmentCount(); ++i)
        if (control.isSelectedForSegment(i)) return i;
    return -1;
}

}  // namespace

TEST_F(GeneralPane, AFreshInstallShowsShiftSelected) {
    std::make_shared<AppDelegate>()->completeLaunch();
    auto pane = loadedPane();
    const auto& control = *pane->shortcutSegmentedControl();
    ASSERT_EQ(control.segmentCount(), 4);
    EXPECT_EQ(control.labelForSegment(0), "⇧");
    EXPECT_EQ(control.labelForSegment(3), "⌘");
    EXPECT_EQ(selectedSegment(*pane), 0);
}

TEST_F(GeneralPane, ShowsTheStoredKeyAndNoSegmentForAnyOtherValue) {
    struct Case {
        std::optional<NSEventModifierFlags> stored;
        int segment;
    } cases[] = {{kCtrl, 1}, {kOpt, 2}, {kCmd, 3}, {std::nullopt, -1}, {kShift | kCmd, -1}, {0, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.segment);
        UDM::saveResizeModifier(c.stored);
        EXPECT_EQ(selectedSegment(*loadedPane()), c.segment);
    }
    UserDefaults::standardUserDefaults()->setObject(Value("not a modifier"), UDM::kResizeKey);
    EXPECT_EQ(selectedSegment(*loadedPane()), -1) << "an unreadable key still loads the pane";
}

TEST_F(GeneralPane, ChoosingCommandMovesOnlyTheResizeHotkeys) {
    UserDefaults::standardUserDefaults()->setObject(true, UDM::kFirstLaunchKey);
    UDM::saveResizeModifier(kShift);
    UDM::addGroup("Left", MASShortcut::shortcutWithKeyCode(18, kCtrl), 0, 25, 720, 900);
    UDM::addGroup("Right", MASShortcut::shortcutWithKeyCode(19, kOpt), 720, 25, 1440, 900);
    UDM::addGroup("Unbound", nullptr, 0, 25, 1440, 450);
    WorkspaceManager::shared()->registerWorkspaceShortcuts();
    ASSERT_EQ(hotkeys(), (Hotkeys{{18, kCtrl}, {18, kCtrl | kShift}, {19, kOpt}, {19, kOpt | kShift}}));

    auto pane = loadedPane();
    pane->shortcutSegmentedControl()->clickSegment(3);

    EXPECT_EQ(UDM::storedResizeModifier(), 0x100000u);
    EXPECT_EQ(hotkeys(), (Hotkeys{{18, kCtrl}, {18, kCtrl | kCmd}, {19, kOpt}, {19, kOpt | kCmd}}));
    EXPECT_EQ(selectedSegment(*loadedPane()), 3) << "a pane loaded later shows the new key";
}

TEST_F(GeneralPane, VersionLabelReadsTheBundlesShortVersion) {
    EXPECT_EQ(loadedPane()->versionLabel()->stringValue(), "quorvane v1.0.0");

    for (const auto& info : {Dictionary{}, Dictionary{{"CFBundleShortVersionString", 2}}}) {
        Bundle::setMainBundle(std::make_shared<Bundle>(info));
        EXPECT_EQ(loadedPane()->versionLabel()->stringValue(), "");
    }
    Bundle::resetMainBundle();
}

TEST_F(GeneralPane, TheCheckBoxSwitchesTheLoginItemAndShowsItsRealStateOnEveryLoad) {
    auto pane = loadedPane();
    const auto& box = *pane->launchAtLoginCheckbox();
    EXPECT_EQ(box.title(), "Launch at Login");
    EXPECT_EQ(box.state(), 0);

    pane->launchAtLoginCheckbox()->performClick();
    EXPECT_TRUE(LaunchAtLogin::isEnabled());
    EXPECT_TRUE(std::filesystem::exists(loginItemEntry()));
    EXPECT_EQ(box.state(), 1);

    LaunchAtLogin::setEnabled(false);
    EXPECT_EQ(loadedPane()->launchAtLoginCheckbox()->state(), 0);
    LaunchAtLogin::setEnabled(true);
    EXPECT_EQ(loadedPane()->launchAtLoginCheckbox()->state(), 1);
}

TEST_F(GeneralPane, FillsTheSettingsWindowAtItsOwnSize) {
    auto pane = std::make_shared<AdvancedViewController>();
    EXPECT_EQ(pane->paneIdentifier(), Settings::PaneIdentifier("general"));
    EXPECT_EQ(pane->paneTitle(), "General");
    EXPECT_EQ(pane->toolbarItemIcon()->name(), "general");

    SettingsWindowController controller({pane}, Settings::Style::toolbarItems, false, false);
    controller.show(Settings::PaneIdentifier("general"));
    EXPECT_EQ(controller.window()->contentView()->frame().size, (CGSize{510, 250}));
    pane->view()->layoutSubtreeIfNeeded();
    CGRect line =
        pane->view()->convertRectFromView(pane->versionSeparator()->bounds(), pane->versionSeparator().get());
    EXPECT_EQ(line.minX(), 30);
    EXPECT_EQ(line.width(), 450);
}
