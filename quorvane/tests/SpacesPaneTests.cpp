#include <gtest/gtest.h>

#include <algorithm>

#include "Settings/SettingsWindowController.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/appkit/testing/GeometryPrinting.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/masshortcut/MASShortcutMonitor.h"
#include "quorvane/CreateSpacesManager.h"
#include "quorvane/Extensions.h"
#include "quorvane/GroupCollectionViewItem.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/ViewController.h"
#include "quorvane/WorkspaceManager.h"
#include "quorvane/testing/RegisteredHotkeys.h"
#include "quorvane/tests/DesktopFixture.h"

namespace UDM = UserDefaultsManager;

namespace {

constexpr NSEventModifierFlags kCmd = NSEventModifierFlagCommand;
constexpr NSEventModifierFlags kShift = NSEventModifierFlagShift;

class SpacesPane : public DesktopTest {
  protected:
    SpacesPane() {
        attachScreens({kScreenA});
        UDM::saveResizeModifier(kShift);
    }
    ~SpacesPane() override {
        CreateSpacesManager::shared()->closeAllWindows();
        if (controller) controller->window()->close();
        monitor->unregisterAllShortcuts();
        RunLoop::runUntilIdle();
        WorkspaceManager::resetSharedInstance();
    }

    // Stores a space and registers its hotkeys, as a launch would have.
    void storeSpace(const std::string& name, std::shared_ptr<MASShortcut> shortcut, Coordinates c,
                    const std::string& size = "all") {
        auto group = UDM::addGroup(name, shortcut, c[0], c[1], c[2], c[3]);
        if (size != "all") {
            auto groups = UDM::currentGroups();
            groups.back()->setSize(size);
            UDM::replaceCurrentGroups(groups);
        }
        WorkspaceManager::shared()->registerWorkspaceShortcuts();
    }

    // The pane in its settings window, on screen.
    void openPane(std::shared_ptr<ViewController> shown = std::make_shared<ViewController>()) {
        pane = std::move(shown);
        controller = std::make_shared<SettingsWindowController>(
            std::vector<std::shared_ptr<SettingsPane>>{pane}, Settings::Style::toolbarItems, false, false);
        controller->show(Settings::PaneIdentifier("spaces"));
        window = controller->window();
        window->display();
    }

    std::shared_ptr<GroupCollectionViewItem> row(int i) {
        return std::dynamic_pointer_cast<GroupCollectionViewItem>(
            pane->collectionView()->itemAtIndexPath({0, i}));
    }

    bool enabledLook(const CubeButton& cube) {
        return cube.layer()->opacity() == 1.0f && cube.button()->isEnabled();
    }

    std::shared_ptr<MASShortcutMonitor> monitor = MASShortcutMonitor::sharedMonitor();
    std::shared_ptr<ViewController> pane;
    std::shared_ptr<SettingsWindowController> controller;
    std::shared_ptr<NSWindow> window;
};

}  // namespace

TEST_F(SpacesPane, WithoutSpacesTheEmptyStateTextShowsInTheMiddle) {
    openPane();
    EXPECT_EQ(pane->collectionView()->numberOfItemsInSection(0), 0);
    auto text = pane->emptySpacesTextField();
    EXPECT_FALSE(text->isHidden());
    EXPECT_EQ(text->stringValue(), "Start creating spaces by clicking the \xE2\x80\x9C+\xE2\x80\x9D button");
    EXPECT_EQ(text->frame().midX(), 255);
    EXPECT_EQ(text->frame().midY(), 165);
    EXPECT_LE(text->frame().size.width, 215);
    EXPECT_EQ(window->level(), NSFloatingWindowLevel);
    EXPECT_TRUE(enabledLook(*pane->editSpacesButton()));
    EXPECT_FALSE(enabledLook(*pane->deleteSpacesButton()));
}

TEST_F(SpacesPane, CreatingThroughTheOverlayStoresRegistersRecordsAndSelectsTheNewRow) {
    storeSpace("First", nullptr, {720, 0, 1440, 900});
    openPane();
    simulate::click(window, simulate::centerOf(*pane->editSpacesButton()->button()));
    auto overlays = CreateSpacesManager::shared();
    ASSERT_EQ(overlays->windows().size(), 1u);
    auto overlayWindow = overlays->windows()[0];
    simulate::drag(overlayWindow, {10, 890}, {300, 700});
    auto preview = overlays->views()[0]->spaceView();
    simulate::click(overlayWindow, simulate::centerOf(*preview->groupNameLabel()->textField()));
    simulate::type(overlayWindow, "Mail");
    simulate::click(overlayWindow, simulate::centerOf(*preview->groupKeyShortcutView()));
    simulate::keyDown(overlayWindow, 18, "1", kCmd);
    simulate::click(overlayWindow, simulate::centerOf(*overlays->views()[0]->floatingMenu()->doneButton()));
    RunLoop::runUntilIdle();

    auto groups = UDM::currentGroups();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[1]->name(), "Mail");
    EXPECT_EQ(groups[1]->coordinates(), (Coordinates{0, 0, 432, 270}));
    EXPECT_EQ(hotkeys(), (Hotkeys{{18, kCmd}, {18, kCmd | kShift}}));
    EXPECT_EQ(events, (std::vector<std::string>{"m:created_space", "r:created_space"}));
    EXPECT_EQ(pane->collectionView()->selectionIndexPaths(), (NSIndexPathSet{{0, 1}}));
    EXPECT_EQ(pane->collectionView()->lastScrollPosition(), NSCollectionViewScrollPositionBottom);
    EXPECT_TRUE(pane->emptySpacesTextField()->isHidden());
    EXPECT_EQ(row(1)->spaceNameTextField()->stringValue(), "Mail");
    EXPECT_TRUE(enabledLook(*pane->editSpacesButton()));
    EXPECT_FALSE(enabledLook(*pane->deleteSpacesButton()));
}

TEST_F(SpacesPane, SelectingARowSwapsTheButtonsAndDeletingRemovesTheSpaceAndItsHotkeys) {
    storeSpace("Left", MASShortcut::shortcutWithKeyCode(18, kCmd), {0, 0, 720, 900});
    storeSpace("Right", MASShortcut::shortcutWithKeyCode(19, kCmd), {720, 0, 1440, 900});
    openPane();
    ASSERT_EQ(hotkeys().size(), 4u);

    simulate::click(window, simulate::centerOf(*row(0)->view()));
    EXPECT_EQ(pane->collectionView()->selectionIndexPaths(), (NSIndexPathSet{{0, 0}}));
    EXPECT_TRUE(row(0)->isSelected());
    EXPECT_FALSE(enabledLook(*pane->editSpacesButton()));
    EXPECT_TRUE(enabledLook(*pane->deleteSpacesButton()));
    EXPECT_EQ(row(0)->view()->layer()->backgroundColor(), hexColor("#EAF2FF", 1.0));

    simulate::click(window, simulate::centerOf(*pane->deleteSpacesButton()->button()));
    auto groups = UDM::currentGroups();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->name(), "Right");
    EXPECT_EQ(hotkeys(), (Hotkeys{{19, kCmd}, {19, kCmd | kShift}}));
    EXPECT_EQ(events, (std::vector<std::string>{"m:deleted_space", "r:deleted_space"}));
    EXPECT_EQ(pane->collectionView()->numberOfItemsInSection(0), 1);
    EXPECT_TRUE(enabledLook(*pane->editSpacesButton()));

    // With nothing selected the delete button does nothing.
    pane->deleteSelectedSpace();
    EXPECT_EQ(UDM::currentGroups().size(), 1u);
}

TEST_F(SpacesPane, OpeningAndReloadingReadTheStoredSpacesOnceForAllRows) {
    for (const char* name : {"A", "B", "C"}) storeSpace(name, nullptr, {0, 0, 720, 900});
    int reads = 0;
    openPane(std::make_shared<ViewController>([&reads] {
        ++reads;
        return UDM::currentGroups();
    }));
    EXPECT_EQ(reads, 1);
    pane->reloadList();
    EXPECT_EQ(reads, 2);
    ASSERT_EQ(pane->collectionView()->numberOfItemsInSection(0), 3);
    EXPECT_EQ(row(2)->group()->name(), "C");
}

TEST_F(SpacesPane, ClickingThePaneBackgroundDeselects) {
    storeSpace("Left", nullptr, {0, 0, 720, 900});
    openPane();
    simulate::click(window, simulate::centerOf(*row(0)->view()));
    ASSERT_TRUE(row(0)->isSelected());
    simulate::click(window, {5, 5});
    EXPECT_TRUE(pane->collectionView()->selectionIndexPaths().empty());
    EXPECT_TRUE(enabledLook(*pane->editSpacesButton()));
    EXPECT_FALSE(enabledLook(*pane->deleteSpacesButton()));
}

TEST_F(SpacesPane, TheStrictToggleSwitchesTheSizeAndTheNextPressUsesIt) {
    desktop.addApplication(101, "Editor");
    desktop.addApplication(102, "Terminal");
    desktop.addWindow(windowAt(102, 2, {800, 100, 400, 400}));
    desktop.addWindow(windowAt(101, 1, {15, 15, 680, 420}));
    desktop.activateApplication(102);
    storeSpace("Loose", MASShortcut::shortcutWithKeyCode(18, kCmd), {0, 0, 720, 450});
    storeSpace("Strict", nullptr, {720, 0, 1440, 900}, "25");
    openPane();
    EXPECT_EQ(row(0)->strictSpaceButton()->image()->name(), "bolt-outline");
    EXPECT_EQ(row(1)->strictSpaceButton()->image()->name(), "bolt-solid");

    simulate::click(window, simulate::centerOf(*row(0)->strictSpaceButton()));
    simulate::click(window, simulate::centerOf(*row(1)->strictSpaceButton()));
    auto groups = UDM::currentGroups();
    EXPECT_EQ(groups[0]->size(), "10");
    EXPECT_EQ(groups[1]->size(), "all");
    EXPECT_EQ(row(0)->strictSpaceButton()->image()->name(), "bolt-solid");
    EXPECT_EQ(row(1)->strictSpaceButton()->image()->name(), "bolt-outline");

    // The window lies loosely in the space but 15 points off its edges: strict "10" misses it.
    simulate::pressKey(18, kCmd);
    RunLoop::runUntilIdle();
    EXPECT_TRUE(events.empty());
    simulate::click(window, simulate::centerOf(*row(0)->strictSpaceButton()));
    simulate::pressKey(18, kCmd);
    RunLoop::runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"m:switched", "r:switch"}));
}

TEST_F(SpacesPane, ReRecordingAHotkeyReplacesBothHotkeysAndClearingRemovesThem) {
    storeSpace("Left", MASShortcut::shortcutWithKeyCode(18, kCmd), {0, 0, 720, 900});
    storeSpace("Right", MASShortcut::shortcutWithKeyCode(19, kCmd), {720, 0, 1440, 900});
    openPane();
    auto field = row(0)->shortcutView();
    simulate::click(window, simulate::centerOf(*field));
    ASSERT_TRUE(field->isRecording());
    simulate::keyDown(window, 20, "3", kCmd);
    EXPECT_FALSE(field->isRecording());
    EXPECT_EQ(*UDM::currentGroups()[0]->shortcut(), MASShortcut(20, kCmd));
    EXPECT_EQ(hotkeys(), (Hotkeys{{19, kCmd}, {19, kCmd | kShift}, {20, kCmd}, {20, kCmd | kShift}}));

    window->display();
    simulate::click(window, simulate::centerOf(*field->clearButton()));
    EXPECT_EQ(UDM::currentGroups()[0]->shortcut(), nullptr);
    EXPECT_EQ(hotkeys(), (Hotkeys{{19, kCmd}, {19, kCmd | kShift}}));
}

TEST_F(SpacesPane, EditingANameDeselectsTheListSavesAndLeavesNoFieldFocused) {
    storeSpace("Left", nullptr, {0, 0, 720, 900});
    storeSpace("Right", nullptr, {720, 0, 1440, 900});
    openPane();
    simulate::click(window, simulate::centerOf(*row(1)->view()));
    ASSERT_FALSE(pane->collectionView()->selectionIndexPaths().empty());

    auto name = row(0)->spaceNameTextField();
    simulate::click(window, simulate::centerOf(*name));
    EXPECT_TRUE(pane->collectionView()->selectionIndexPaths().empty());
    EXPECT_EQ(window->firstResponder(), name.get());
    simulate::type(window, "ish");
    simulate::keyDown(window, 36, "\r");
    RunLoop::runUntilIdle();
    EXPECT_EQ(UDM::currentGroups()[0]->name(), "Leftish");
    EXPECT_EQ(UDM::currentGroups()[1]->name(), "Right");
    EXPECT_EQ(window->firstResponder(), nullptr);
}

TEST_F(SpacesPane, ARowLeftOverFromBeforeTheListChangedEditsNothing) {
    storeSpace("Left", nullptr, {0, 0, 720, 900});
    storeSpace("Right", nullptr, {720, 0, 1440, 900});
    openPane();
    auto first = row(0), second = row(1);

    // The list changes behind the pane (another arrangement's list, say) and then "updateWS" arrives.
    UDM::replaceCurrentGroups({std::make_shared<Group>("Other", nullptr, Coordinates{0, 0, 100, 100})});
    first->updateStrictSpace();
    first->controlTextDidEndEditing(*first->spaceNameTextField());
    NotificationCenter::defaultCenter().post(WorkspaceManager::kUpdateWorkspaceNotification);
    EXPECT_EQ(pane->collectionView()->numberOfItemsInSection(0), 1);
    second->updateStrictSpace();

    auto groups = UDM::currentGroups();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->name(), "Other");
    EXPECT_EQ(groups[0]->size(), "all");
    EXPECT_EQ(row(0)->spaceNameTextField()->stringValue(), "Other");
}

TEST_F(SpacesPane, HoverChangesOnlyUnselectedRowsAndTheBoltShowsItsTooltipInsideThePane) {
    storeSpace("Left", nullptr, {0, 0, 720, 900});
    storeSpace("Right", nullptr, {720, 0, 1440, 900});
    openPane();
    simulate::moveMouse(window, simulate::centerOf(*row(0)->view()));
    EXPECT_TRUE(row(0)->isHovered());
    EXPECT_EQ(row(0)->view()->layer()->backgroundColor(), hexColor("#F5F5F5", 1.0));
    simulate::moveMouse(window, simulate::centerOf(*row(0)->strictSpaceButton()));
    auto tooltip = row(0)->tooltipView();
    ASSERT_EQ(tooltip->superview(), pane->view().get());
    CGRect bounds = pane->view()->bounds();
    EXPECT_LE(tooltip->frame().maxX(), bounds.maxX());
    EXPECT_LE(tooltip->frame().maxY(), bounds.maxY());
    simulate::moveMouse(window, {5, 5});
    EXPECT_EQ(tooltip->superview(), nullptr);
    EXPECT_EQ(row(0)->view()->layer()->backgroundColor(), NSColor::whiteColor());

    simulate::click(window, simulate::centerOf(*row(1)->view()));
    simulate::moveMouse(window, simulate::centerOf(*row(1)->view()));
    EXPECT_FALSE(row(1)->isHovered());
    EXPECT_EQ(row(1)->view()->layer()->backgroundColor(), hexColor("#EAF2FF", 1.0));
}

TEST_F(SpacesPane, TheInfoButtonOpensAndClosesItsPopover) {
    openPane();
    auto info = pane->infoButton();
    simulate::click(window, simulate::centerOf(*info));
    ASSERT_TRUE(info->infoPopover()->isShown());
    EXPECT_EQ(info->infoPopover()->preferredEdge(), NSRectEdge::MaxY);
    auto text = std::dynamic_pointer_cast<NSTextField>(
        info->infoPopover()->contentViewController()->view()->subviews().at(0));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->stringValue(), ViewController::kInfoText);
    simulate::click(window, simulate::centerOf(*info));
    EXPECT_FALSE(info->infoPopover()->isShown());
}

TEST(SpacesPaneDeathTest, AMissingToolbarImageStops) {
    EXPECT_DEATH(
        {
            setenv("QUORVANE_RESOURCES", "/nonexistent", 1);
            ViewController().toolbarItemIcon();
        },
        "Image \"spaces\" not available");
}
