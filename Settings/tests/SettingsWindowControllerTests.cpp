#include <gtest/gtest.h>

#include "Settings/SegmentedControlStyleViewController.h"
#include "Settings/SettingsWindowController.h"
#include "Settings/tests/SettingsTestPanes.h"
#include "platform/appkit/NSAnimationContext.h"
#include "platform/appkit/NSMenu.h"
#include "platform/appkit/NSSegmentedControl.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/appkit/testing/GeometryPrinting.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

std::shared_ptr<SettingsWindowController> makeController(
    Settings::Style style = Settings::Style::toolbarItems, bool animated = false,
    std::vector<std::shared_ptr<SettingsPane>> panes = spacesAndGeneral(),
    bool hidesToolbarForSingleItem = false) {
    return std::make_shared<SettingsWindowController>(std::move(panes), style, animated,
                                                      hidesToolbarForSingleItem);
}

class SettingsWindowTest : public ::testing::Test {
  protected:
    ~SettingsWindowTest() override {
        for (const auto& window : NSWindow::orderedWindows()) window->close();
    }
    TestHome home;
    ScopedManualClock clock;
};

}  // namespace

TEST_F(SettingsWindowTest, ToolbarStyleShowsOneItemPerPaneAndTitlesTheWindowWithThePane) {
    auto controller = makeController();
    auto toolbar = controller->window()->toolbar();
    ASSERT_NE(toolbar, nullptr);
    EXPECT_EQ(toolbar->identifier(), "SettingsToolbar");
    EXPECT_EQ(toolbar->itemIdentifiers(), (std::vector<std::string>{"spaces", "general"}));
    EXPECT_EQ(toolbar->items()[1]->label(), "General");
    EXPECT_EQ(controller->window()->toolbarStyle(), NSWindowToolbarStyle::Preference);
    EXPECT_FALSE(controller->window()->isVisible());

    controller->show(Settings::PaneIdentifier("spaces"));
    EXPECT_EQ(toolbar->selectedItemIdentifier(), "spaces");
    EXPECT_EQ(controller->window()->title(), "Spaces");
    EXPECT_TRUE(controller->window()->isKeyWindow());

    controller->show(Settings::PaneIdentifier("general"));
    controller->show();
    EXPECT_EQ(controller->tabViewController()->activeTab(), 1);
    EXPECT_EQ(controller->window()->title(), "General");
}

TEST_F(SettingsWindowTest, AnUnknownPaneOpensTheFirst) {
    auto controller = makeController();
    controller->show(Settings::PaneIdentifier("nonexistent"));
    EXPECT_EQ(controller->tabViewController()->activeTab(), 0);
    EXPECT_EQ(controller->window()->title(), "Spaces");
    EXPECT_EQ(controller->tabViewController()->panes()[0]->view()->superview(),
              controller->tabViewController()->view().get());
}

TEST_F(SettingsWindowTest, TheFrameIsSavedUnderTheAutosaveNameAndRestoredByANewController) {
    auto first = makeController();
    first->show(Settings::PaneIdentifier("spaces"));
    first->window()->setFrameOrigin({123, 45});
    CGRect moved = first->window()->frame();
    first->window()->close();

    UserDefaults::resetStandardUserDefaults();  // read back from the file, as a new launch would
    auto second = makeController();
    second->show(Settings::PaneIdentifier("spaces"));
    EXPECT_EQ(second->window()->frame(), moved);
    EXPECT_EQ(std::string(SettingsWindowController::kFrameAutosaveName).size(), 43u);
}

TEST_F(SettingsWindowTest, AnUnreadableSavedFrameIsIgnored) {
    UserDefaults::standardUserDefaults()->setObject(
        Value("12 nonsense"), std::string("NSWindow Frame ") + SettingsWindowController::kFrameAutosaveName);
    auto controller = makeController();
    CGRect before = controller->window()->frame();
    controller->show(Settings::PaneIdentifier("spaces"));
    EXPECT_EQ(controller->window()->frame(), before);
}

TEST_F(SettingsWindowTest, PausedInteractionDropsKeysButNotPointerMoves) {
    class KeyCatcher : public NSView {
      public:
        using NSView::NSView;
        bool acceptsFirstResponder() const override { return true; }
        void keyDown(const NSEvent&) override { ++keys; }
        void mouseEntered(const NSEvent&) override { ++entries; }
        int keys = 0, entries = 0;
    };
    auto controller = makeController();
    controller->show(Settings::PaneIdentifier("spaces"));
    auto window = std::static_pointer_cast<UserInteractionPausableWindow>(controller->window());
    auto catcher = std::make_shared<KeyCatcher>(CGRect{0, 0, 50, 50});
    window->contentView()->addSubview(catcher);
    catcher->addTrackingArea(
        std::make_shared<NSTrackingArea>(catcher->bounds(), NSTrackingMouseEnteredAndExited, catcher));
    window->makeFirstResponder(catcher.get());

    window->setUserInteractionEnabled(false);
    simulate::keyDown(window, 0, "a");
    simulate::moveMouse(window, {10, 10});
    EXPECT_EQ(catcher->keys, 0);
    EXPECT_EQ(catcher->entries, 1);
    EXPECT_EQ(UserInteractionPausableWindow::pausedEventTypes().size(), 23u);

    window->setUserInteractionEnabled(true);
    simulate::keyDown(window, 0, "a");
    EXPECT_EQ(catcher->keys, 1);

    EXPECT_FALSE(window->respondsToSelector("toggleToolbarShown:"));
    EXPECT_TRUE(window->respondsToSelector("performClose:"));
}

TEST_F(SettingsWindowTest, TitleAndToolbarVisibilityFollowStyleAndPaneCount) {
    struct Case {
        Settings::Style style;
        int panes;
        bool hidesForSingle;
        NSWindowTitleVisibility title;
        bool toolbarVisible;
    };
    const Case cases[] = {
        {Settings::Style::toolbarItems, 2, false, NSWindowTitleVisibility::Visible, true},
        {Settings::Style::segmentedControl, 2, false, NSWindowTitleVisibility::Hidden, true},
        {Settings::Style::segmentedControl, 1, false, NSWindowTitleVisibility::Visible, true},
        {Settings::Style::toolbarItems, 1, true, NSWindowTitleVisibility::Visible, false},
        {Settings::Style::toolbarItems, 2, true, NSWindowTitleVisibility::Visible, true},
    };
    for (const auto& c : cases) {
        auto panes = spacesAndGeneral();
        panes.resize(c.panes);
        auto controller = makeController(c.style, false, panes, c.hidesForSingle);
        EXPECT_EQ(controller->window()->titleVisibility(), c.title) << c.panes << " panes";
        EXPECT_EQ(controller->window()->toolbar()->isVisible(), c.toolbarVisible) << c.panes << " panes";
        if (c.panes == 1) {
            controller->setHidesToolbarForSingleItem(!c.hidesForSingle);
            EXPECT_EQ(controller->window()->toolbar()->isVisible(), c.hidesForSingle);
        }
    }
}

TEST_F(SettingsWindowTest, SegmentedStyleSizesEverySegmentForTheWidestTitle) {
    auto controller = makeController(Settings::Style::segmentedControl);
    auto toolbar = controller->window()->toolbar();
    EXPECT_EQ(toolbar->itemIdentifiers(),
              (std::vector<std::string>{NSToolbarFlexibleSpaceItemIdentifier, "toolbarSegmentedControlItem",
                                        NSToolbarFlexibleSpaceItemIdentifier}));
    auto tab = controller->tabViewController();
    EXPECT_TRUE(tab->toolbarSelectableItemIdentifiers(*toolbar).empty());

    auto group = std::dynamic_pointer_cast<NSToolbarItemGroup>(toolbar->items()[1]);
    ASSERT_NE(group, nullptr);
    auto control = std::dynamic_pointer_cast<NSSegmentedControl>(group->view());
    ASSERT_NE(control, nullptr);
    TextAttributes font{NSFont::systemFontOfSize(13), {}};
    CGSize spaces = NSStringSize("Spaces", font), general = NSStringSize("General", font);
    CGFloat segment = std::max(spaces.width, general.width) + 36;
    EXPECT_EQ(control->frame().size, (CGSize{2 * segment + 3, std::max(spaces.height, general.height) + 12}));
    EXPECT_EQ(control->widthForSegment(0), segment);
    EXPECT_EQ(control->widthForSegment(1), segment);
    EXPECT_EQ(control->identifier(), "toolbarSegmentedControl");
    EXPECT_EQ(SegmentedControlStyleViewController::segmentSize({}), (CGSize{36, 12}));

    ASSERT_EQ(group->subitems().size(), 2u);
    EXPECT_EQ(group->subitems()[1]->itemIdentifier(), "segment-General");

    controller->show(Settings::PaneIdentifier("spaces"));
    EXPECT_EQ(control->selectedSegment(), 0);
    control->clickSegment(1);
    EXPECT_EQ(tab->activeTab(), 1);
    auto menuItem = group->subitems()[0]->menuFormRepresentation();
    ASSERT_NE(menuItem, nullptr);
    EXPECT_EQ(menuItem->title(), "Spaces");
    EXPECT_EQ(menuItem->tag(), 0);
    NSMenu menu;
    menu.addItem(menuItem);
    EXPECT_TRUE(menu.performActionForItemAtIndex(0));
    EXPECT_EQ(tab->activeTab(), 0);
    EXPECT_EQ(control->selectedSegment(), 0);
}

TEST_F(SettingsWindowTest, TheFirstActivationFitsTheWindowToThePaneKeepingTheTopEdge) {
    auto controller = makeController(Settings::Style::toolbarItems, true);
    auto window = controller->window();
    window->setFrame({100, 100, 500, 328}, false);
    int groups = NSAnimationContext::groupsRun();

    controller->tabViewController()->activateTab(1, true);
    EXPECT_EQ(NSAnimationContext::groupsRun(), groups);
    EXPECT_TRUE(window->frameAnimations().empty());
    // 400 × 200 of content plus the title bar, top edge still at y = 428.
    EXPECT_EQ(window->frame(), (CGRect{100, 200, 400, 228}));
}

TEST_F(SettingsWindowTest, WithoutAnimationASwitchMovesViewsButNoFrame) {
    auto controller = makeController(Settings::Style::toolbarItems, false);
    controller->show(Settings::PaneIdentifier("spaces"));
    CGRect before = controller->window()->frame();
    int groups = NSAnimationContext::groupsRun();

    controller->window()->toolbar()->items()[1]->performAction();
    auto tab = controller->tabViewController();
    EXPECT_EQ(tab->activeTab(), 1);
    EXPECT_EQ(NSAnimationContext::groupsRun(), groups);
    EXPECT_EQ(controller->window()->frame(), before);
    EXPECT_EQ(tab->panes()[1]->view()->superview(), tab->view().get());
    EXPECT_EQ(tab->panes()[0]->view()->superview(), nullptr);
    EXPECT_EQ(tab->activeChildViewConstraints().size(), 4u);
    EXPECT_TRUE(tab->activeChildViewConstraints()[0]->isActive());
}

TEST_F(SettingsWindowTest, AnimatedSwitchResizesInAQuarterSecondKeepingTheLeftEdgeOrTheCentre) {
    for (auto style : {Settings::Style::toolbarItems, Settings::Style::segmentedControl}) {
        auto controller = makeController(style, true);
        auto window = controller->window();
        auto tab = controller->tabViewController();
        tab->activateTab(0, false);
        window->setFrame({100, 100, 500, 328}, false);

        tab->activateTab(1, true);
        ASSERT_EQ(window->frameAnimations().size(), 1u);
        const auto& animation = window->frameAnimations()[0];
        EXPECT_EQ(animation.duration, 0.25);
        EXPECT_EQ(animation.timingFunction, kCAMediaTimingFunctionEaseInEaseOut);
        CGFloat x = style == Settings::Style::segmentedControl ? 150 : 100;
        EXPECT_EQ(animation.to, (CGRect{x, 200, 400, 228}));
        EXPECT_EQ(window->frame(), (CGRect{100, 100, 500, 328}));
        // The new pane is pinned when the transition ends.
        auto pinned = [&] {
            const auto& constraints = tab->activeChildViewConstraints();
            return !constraints.empty() && constraints[0]->isActive() &&
                   constraints[0]->involves(tab->panes()[1]->view().get());
        };
        EXPECT_FALSE(pinned());

        clock->advance(0.25);
        EXPECT_EQ(window->frame(), (CGRect{x, 200, 400, 228}));
        EXPECT_TRUE(pinned());
    }
}

TEST_F(SettingsWindowTest, ActivatingTheActiveTabAgainOnlyReappliesTheTitle) {
    auto controller = makeController(Settings::Style::toolbarItems, true);
    auto tab = controller->tabViewController();
    tab->activateTab(0, false);
    controller->window()->setTitle("changed");
    tab->activateTab(0, true);
    EXPECT_TRUE(controller->window()->frameAnimations().empty());
    EXPECT_EQ(controller->window()->title(), "Spaces");
}

TEST_F(SettingsWindowTest, OnlyPureAnimationOptionsAnimateATransitionFromOutside) {
    auto controller = makeController(Settings::Style::toolbarItems, true);
    auto tab = controller->tabViewController();
    tab->activateTab(0, false);
    auto panes = tab->panes();
    int groups = NSAnimationContext::groupsRun();

    int completions = 0;
    tab->transitionFromViewController(
        panes[0], panes[1],
        NSViewControllerTransitionCrossfade | NSViewControllerTransitionAllowUserInteraction,
        [&] { ++completions; });
    EXPECT_EQ(NSAnimationContext::groupsRun(), groups);
    EXPECT_TRUE(controller->window()->frameAnimations().empty());
    EXPECT_EQ(panes[1]->view()->superview(), tab->view().get());

    tab->transitionFromViewController(panes[1], panes[0], NSViewControllerTransitionSlideLeft,
                                      [&] { ++completions; });
    EXPECT_EQ(NSAnimationContext::groupsRun(), groups + 1);
    EXPECT_EQ(controller->window()->frameAnimations().size(), 1u);
    clock->advance(0.25);
    EXPECT_EQ(completions, 2);
}

TEST_F(SettingsWindowTest, MenuActionsReachTheActivePane) {
    auto controller = makeController();
    EXPECT_EQ(controller->supplementalTargetForAction("paneCommand:", nullptr), nullptr);
    controller->show(Settings::PaneIdentifier("general"));
    auto target = controller->supplementalTargetForAction("paneCommand:", nullptr);
    EXPECT_EQ(target, controller->tabViewController()->panes()[1]);
    EXPECT_EQ(controller->supplementalTargetForAction("unknownCommand:", nullptr), nullptr);
}

TEST(SettingsWindowDeathTest, UnsupportedInitialisersAndNoPanesStop) {
    EXPECT_DEATH(
        SettingsWindowController(std::shared_ptr<NSWindow>()),
        "init\\(window:\\) is not supported, use init\\(panes:style:animated:hidesToolbarForSingleItem:\\)");
    EXPECT_DEATH(makeController(Settings::Style::toolbarItems, false, {}), "at least one pane");
}
