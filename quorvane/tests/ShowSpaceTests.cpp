#include <gtest/gtest.h>

#include "platform/appkit/NSWindow.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/appkit/testing/GeometryPrinting.h"
#include "platform/dispatch/Clock.h"
#include "quorvane/ShowSpacesManager.h"
#include "quorvane/SpaceRectangleView.h"
#include "quorvane/SpaceView.h"
#include "quorvane/tests/DesktopFixture.h"

namespace {

class ShowSpace : public DesktopTest {
  protected:
    ShowSpace() { attachScreens({kScreenA}); }
    ~ShowSpace() override {
        if (auto window = ShowSpacesManager::shared()->groupWindow()) window->close();
    }
    ScopedManualClock clock;
};

}  // namespace

TEST_F(ShowSpace, TheSmallMapScalesTheSpaceIntoItsScreen) {
    SpaceRectangleView map({0, 0, 28, 14});
    struct Case {
        std::vector<CGFloat> coordinates;
        CGRect expected;
    };
    const Case cases[] = {
        {{0, 0, 720, 450}, {0, 0, 14, 7}},
        {{720, 450, 1440, 900}, {14, 7, 14, 7}},
        {{360, 225, 1080, 675}, {7, 3.5, 14, 7}},
    };
    for (const auto& c : cases) {
        map.setCoordinates(c.coordinates);
        EXPECT_FALSE(map.spaceRectangle()->isHidden());
        EXPECT_EQ(map.spaceRectangle()->frame(), c.expected);
    }
    // A space on no screen, or a list that is no rectangle, leaves no stale rectangle behind.
    map.setCoordinates(std::vector<CGFloat>{2000, 0, 2100, 100});
    EXPECT_TRUE(map.spaceRectangle()->isHidden());
    map.setCoordinates(std::vector<CGFloat>{0, 0, 720, 450});
    map.setCoordinates(std::vector<CGFloat>{0, 0, 720});
    EXPECT_TRUE(map.spaceRectangle()->isHidden());
}

TEST_F(ShowSpace, OnlyALeftClickOnTheSmallMapShowsTheSpace) {
    auto window = std::make_shared<NSWindow>(CGRect{0, 0, 100, 50}, NSWindowStyleMaskTitled,
                                             NSBackingStoreType::Buffered, false);
    auto map = std::make_shared<SpaceRectangleView>(CGRect{10, 10, 28, 14});
    window->contentView()->addSubview(map);
    int clicks = 0;
    map->setOnClick([&] { ++clicks; });
    simulate::rightClick(window, simulate::centerOf(*map));
    EXPECT_EQ(clicks, 0);
    simulate::click(window, simulate::centerOf(*map));
    EXPECT_EQ(clicks, 1);

    map->setBlueHighlight();
    EXPECT_EQ(map->screenRectangle()->layer()->borderWidth(), 1);
    EXPECT_EQ(map->spaceRectangle()->layer()->backgroundColor(),
              map->screenRectangle()->layer()->borderColor());
    map->clearHighlight();
    EXPECT_EQ(map->screenRectangle()->layer()->borderColor(), std::nullopt);
}

TEST_F(ShowSpace, AShownSpaceFloatsAtItsRectangleWithoutFocusAndClosesAfterTwoSeconds) {
    auto preferences = std::make_shared<NSWindow>(CGRect{0, 0, 300, 200}, NSWindowStyleMaskTitled,
                                                  NSBackingStoreType::Buffered, false);
    preferences->makeKeyAndOrderFront(nullptr);
    auto manager = ShowSpacesManager::shared();
    manager->showSpace("Mail", MASShortcut::shortcutWithKeyCode(18, NSEventModifierFlagCommand),
                       {100, 50, 500, 350});

    auto window = manager->groupWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->frame(), (CGRect{100, 550, 400, 300}));
    EXPECT_EQ(window->level(), NSFloatingWindowLevel);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isKeyWindow());
    EXPECT_TRUE(preferences->isKeyWindow());
    auto view = std::dynamic_pointer_cast<SpaceView>(window->contentView());
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(view->editable());
    EXPECT_EQ(view->groupNameLabel()->textField()->stringValue(), "Mail");

    clock->advance(1.9);
    EXPECT_TRUE(window->isVisible());
    clock->advance(0.1);
    EXPECT_FALSE(window->isVisible());
    preferences->close();
}

TEST_F(ShowSpace, ASecondSpaceClosesTheFirstAtOnceAndTheFirstTimerNoLongerFires) {
    auto manager = ShowSpacesManager::shared();
    manager->showSpace(std::nullopt, nullptr, {100, 50, 500, 350});
    auto first = manager->groupWindow();
    clock->advance(1.0);
    manager->showSpace("Second", nullptr, {0, 0, 100, 100});
    auto second = manager->groupWindow();
    EXPECT_FALSE(first->isVisible());
    EXPECT_TRUE(second->isVisible());
    clock->advance(1.5);
    EXPECT_TRUE(second->isVisible());
    clock->advance(0.5);
    EXPECT_FALSE(second->isVisible());
}

TEST_F(ShowSpace, ASpaceLeftOfThePrimaryScreenIsShownAtItsNegativeX) {
    attachScreens({kScreenA, screenAt(-1280, 0, 1280, 800)});
    ShowSpacesManager::shared()->showSpace("Left", nullptr, {-1200, 100, -800, 400});
    EXPECT_EQ(ShowSpacesManager::shared()->groupWindow()->frame(), (CGRect{-1200, 500, 400, 300}));
}
