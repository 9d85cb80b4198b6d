#include <gtest/gtest.h>

#include "platform/appkit/NSScreen.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/appkit/testing/GeometryPrinting.h"
#include "quorvane/CreateSpacesManager.h"
#include "quorvane/tests/DesktopFixture.h"

namespace {

struct Created {
    std::string name;
    std::shared_ptr<MASShortcut> shortcut;
    std::array<CGFloat, 4> coordinates;
};

class CreateOverlay : public DesktopTest {
  protected:
    CreateOverlay() {
        SimulatedScreen primary = kScreenA;
        primary.insetTop = 25;
        attachScreens({primary, kScreenB});
        CreateSpaceView::setShowMessage(true);
        manager->showCreateOverlay([this](const std::string& name,
                                          const std::shared_ptr<MASShortcut>& shortcut, CGFloat x1,
                                          CGFloat y1, CGFloat x2, CGFloat y2) {
            created.push_back({name, shortcut, {x1, y1, x2, y2}});
        });
    }
    ~CreateOverlay() override { manager->closeAllWindows(); }

    std::shared_ptr<BorderlessWindow> window(size_t i) { return manager->windows().at(i); }
    std::shared_ptr<CreateSpaceView> overlay(size_t i) { return manager->views().at(i); }

    // The centre of `view` in global window-server coordinates, where the pointer must go to be over it.
    static CGPoint globalCentre(const NSView& view) {
        CGPoint onScreen = view.window()->convertPointToScreen(simulate::centerOf(view));
        return {onScreen.x, NSScreen::screens().front()->frame().maxY() - onScreen.y};
    }

    // Drags over the three top rows and the three left columns of the primary screen's grid.
    void selectTopLeftOnPrimary() { simulate::drag(window(0), {10, 865}, {300, 650}); }

    std::string modeImage(size_t i) {
        return overlay(i)->floatingMenu()->selectionModeButton()->image()->name();
    }

    std::shared_ptr<CreateSpacesManager> manager = CreateSpacesManager::shared();
    std::vector<Created> created;
};

}  // namespace

TEST_F(CreateOverlay, EachScreenGetsAnOverlayAndOnlyTheMainOneShowsTheMenuAndMessage) {
    ASSERT_EQ(manager->windows().size(), 2u);
    auto screens = NSScreen::screens();
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(window(i)->frame(), screens[i]->visibleFrame());
        EXPECT_EQ(window(i)->level(), NSFloatingWindowLevel);
        EXPECT_TRUE(window(i)->isVisible());
        EXPECT_FALSE(overlay(i)->gridSelectionView()->isHidden());
        EXPECT_TRUE(overlay(i)->windowSelectionView()->isHidden());
    }
    EXPECT_FALSE(overlay(0)->floatingMenu()->isHidden());
    EXPECT_FALSE(overlay(0)->messageView()->isHidden());
    EXPECT_EQ(overlay(0)->messageView()->text()->stringValue(), "Create a space by dragging your mouse");
    EXPECT_TRUE(overlay(1)->floatingMenu()->isHidden());
    EXPECT_TRUE(overlay(1)->messageView()->isHidden());
    // The menu: 270 × 48, centred, 50 above the bottom of the visible frame.
    EXPECT_EQ(overlay(0)->floatingMenu()->frame(), (CGRect{585, 50, 270, 48}));

    simulate::movePointer({2000, 500});
    EXPECT_TRUE(overlay(1)->isMouseInside());
    EXPECT_FALSE(overlay(1)->floatingMenu()->isHidden());
    EXPECT_FALSE(overlay(1)->messageView()->isHidden());
    EXPECT_TRUE(window(1)->isKeyWindow());
    simulate::movePointer({700, 500});
    EXPECT_TRUE(overlay(1)->floatingMenu()->isHidden());
    EXPECT_FALSE(overlay(0)->floatingMenu()->isHidden());
}

TEST_F(CreateOverlay, SelectingOnOneScreenThenTheOtherLeavesOnePreview) {
    selectTopLeftOnPrimary();
    ASSERT_EQ(overlay(0)->coors(), (CreateSpaceView::Coordinates{0, 25, 432, 288}));
    EXPECT_EQ(overlay(0)->spaceView()->superview(), overlay(0).get());
    EXPECT_EQ(overlay(0)->spaceView()->frame(), (CGRect{0, 612, 432, 263}));
    EXPECT_TRUE(overlay(0)->spaceView()->editable());
    EXPECT_TRUE(overlay(0)->messageView()->isHidden());
    EXPECT_FALSE(CreateSpaceView::showMessage());

    simulate::drag(window(1), {10, 1070}, {20, 1060});
    EXPECT_EQ(overlay(0)->spaceView()->superview(), nullptr);
    EXPECT_FALSE(overlay(0)->coors());
    EXPECT_EQ(overlay(1)->spaceView()->superview(), overlay(1).get());
    EXPECT_EQ(overlay(1)->coors(), (CreateSpaceView::Coordinates{1440, 0, 1632, 108}));

    // Leaving and entering again does not bring the message back while a preview stands.
    simulate::movePointer({700, 500});
    simulate::movePointer({2000, 500});
    EXPECT_TRUE(overlay(1)->messageView()->isHidden());
}

TEST_F(CreateOverlay, TheModeSwitchTogglesEveryOverlayAndItsTexts) {
    auto modeButton = overlay(0)->floatingMenu()->selectionModeButton();
    auto tooltip = [&] {
        simulate::movePointer({700, 500});
        simulate::movePointer(globalCentre(*modeButton));
        return overlay(0)->floatingMenu()->tooltipTextField()->stringValue();
    };
    EXPECT_EQ(modeImage(0), "mouse");
    EXPECT_EQ(tooltip(), "Turn on Custom Mode");
    selectTopLeftOnPrimary();

    simulate::click(window(0), simulate::centerOf(*modeButton));
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(overlay(i)->gridSelectionView()->isHidden());
        EXPECT_FALSE(overlay(i)->windowSelectionView()->isHidden());
        EXPECT_EQ(modeImage(i), "grid");
        EXPECT_EQ(overlay(i)->messageView()->text()->stringValue(), "Create a space by clicking on a window");
    }
    EXPECT_EQ(overlay(0)->spaceView()->superview(), nullptr);
    EXPECT_EQ(tooltip(), "Turn on Grid Mode");
    EXPECT_EQ(NSEvent::localMonitorCount(), 2u);

    simulate::click(window(0), simulate::centerOf(*modeButton));
    EXPECT_EQ(modeImage(0), "mouse");
    EXPECT_FALSE(overlay(0)->gridSelectionView()->isHidden());
    EXPECT_EQ(overlay(0)->messageView()->text()->stringValue(), "Create a space by dragging your mouse");
    EXPECT_EQ(tooltip(), "Turn on Custom Mode");
    EXPECT_EQ(NSEvent::localMonitorCount(), 0u);
}

TEST_F(CreateOverlay, DoneHandsTheNamedSpaceOnOnceAndClosesEveryOverlay) {
    selectTopLeftOnPrimary();
    auto preview = overlay(0)->spaceView();
    simulate::click(window(0), simulate::centerOf(*preview->groupNameLabel()->textField()));
    simulate::type(window(0), "Mail");
    simulate::click(window(0), simulate::centerOf(*preview->groupKeyShortcutView()));
    simulate::keyDown(window(0), 18, "1", NSEventModifierFlagCommand);
    auto windows = manager->windows();

    simulate::click(window(0), simulate::centerOf(*overlay(0)->floatingMenu()->doneButton()));
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].name, "Mail");
    ASSERT_NE(created[0].shortcut, nullptr);
    EXPECT_EQ(*created[0].shortcut, MASShortcut(18, NSEventModifierFlagCommand));
    EXPECT_EQ(created[0].coordinates, (std::array<CGFloat, 4>{0, 25, 432, 288}));
    for (const auto& w : windows) EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(manager->windows().empty());
    EXPECT_TRUE(CreateSpaceView::showMessage());
}

TEST_F(CreateOverlay, AWindowPickedInWindowModeBecomesTheSpaceAndNoMonitorOutlivesTheOverlay) {
    desktop.addApplication(101, "Editor");
    desktop.addWindow(windowAt(101, 1, {100, 200, 800, 500}));
    simulate::click(window(0), simulate::centerOf(*overlay(0)->floatingMenu()->selectionModeButton()));
    simulate::movePointer({300, 300});
    simulate::clickAtPointer({300, 300});
    EXPECT_EQ(overlay(0)->coors(), (CreateSpaceView::Coordinates{100, 200, 900, 700}));
    // The pick ended the monitor and the preview's draw installed the next one: still one per overlay.
    EXPECT_EQ(NSEvent::localMonitorCount(), 2u);

    simulate::click(window(0), simulate::centerOf(*overlay(0)->floatingMenu()->doneButton()));
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].name, "");
    EXPECT_EQ(created[0].shortcut, nullptr);
    EXPECT_EQ(NSEvent::localMonitorCount(), 0u);
}

TEST_F(CreateOverlay, AfterAPickAndDeleteTheNextClickPicksTheWindowNowUnderThePointer) {
    desktop.addApplication(101, "Editor");
    desktop.addWindow(windowAt(101, 1, {100, 200, 400, 300}));
    desktop.addWindow(windowAt(101, 2, {700, 200, 400, 300}));
    simulate::click(window(0), simulate::centerOf(*overlay(0)->floatingMenu()->selectionModeButton()));
    simulate::movePointer({300, 300});
    simulate::clickAtPointer({300, 300});
    ASSERT_EQ(overlay(0)->coors(), (CreateSpaceView::Coordinates{100, 200, 500, 500}));

    simulate::click(window(0), simulate::centerOf(*overlay(0)->floatingMenu()->deleteButton()));
    simulate::movePointer({900, 300});
    simulate::clickAtPointer({900, 300});
    EXPECT_EQ(overlay(0)->coors(), (CreateSpaceView::Coordinates{700, 200, 1100, 500}));
    EXPECT_EQ(overlay(0)->spaceView()->frame(), (CGRect{700, 400, 400, 300}));
}

TEST_F(CreateOverlay, DoneWithoutAPreviewAfterDeleteAndCancelCreateNothing) {
    auto menu = overlay(0)->floatingMenu();
    simulate::click(window(0), simulate::centerOf(*menu->doneButton()));
    selectTopLeftOnPrimary();
    simulate::click(window(0), simulate::centerOf(*menu->deleteButton()));
    EXPECT_EQ(overlay(0)->spaceView()->superview(), nullptr);
    simulate::click(window(0), simulate::centerOf(*menu->doneButton()));
    EXPECT_TRUE(created.empty());
    EXPECT_EQ(manager->windows().size(), 2u);

    simulate::click(window(0), simulate::centerOf(*menu->selectionModeButton()));
    EXPECT_EQ(NSEvent::localMonitorCount(), 2u);
    auto windows = manager->windows();
    simulate::click(window(0), simulate::centerOf(*menu->cancelButton()));
    EXPECT_TRUE(created.empty());
    for (const auto& w : windows) EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(NSEvent::localMonitorCount(), 0u);
}
