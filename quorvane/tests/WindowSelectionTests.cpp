#include <gtest/gtest.h>

#include "platform/appkit/NSScreen.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/appkit/testing/GeometryPrinting.h"
#include "quorvane/BorderlessWindow.h"
#include "quorvane/WindowSelectionView.h"
#include "quorvane/tests/DesktopFixture.h"

namespace {

class WindowSelection : public DesktopTest {
  protected:
    WindowSelection() {
        attachScreens({kScreenA, kScreenB});
        desktop.addApplication(101, "Editor");
        desktop.addWindow(windowAt(101, 1, {100, 200, 800, 500}));
    }
    ~WindowSelection() override {
        for (auto& window : windows) window->close();
    }

    // An overlay in window-click mode over the visible frame of screen `index`.
    std::shared_ptr<WindowSelectionView> overlayOnScreen(size_t index) {
        auto window = std::make_shared<BorderlessWindow>(NSScreen::screens().at(index)->visibleFrame(), true);
        auto view = std::make_shared<WindowSelectionView>();
        view->setOnCreateHandler([this](CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2) {
            picked.push_back({x1, y1, x2, y2});
        });
        window->setContentView(view);
        window->makeKeyAndOrderFront(nullptr);
        windows.push_back(window);
        return view;
    }

    std::vector<std::shared_ptr<BorderlessWindow>> windows;
    std::vector<WindowSelectionView::Rectangle> picked;
};

}  // namespace

TEST_F(WindowSelection, HighlightsTheWindowStrictlyUnderThePointerAndAClickPicksIt) {
    auto view = overlayOnScreen(0);
    ASSERT_TRUE(view->isTracking());
    EXPECT_EQ(NSEvent::localMonitorCount(), 1u);

    simulate::movePointer({100, 300});
    EXPECT_TRUE(view->overlayView()->isHidden());
    simulate::movePointer({101, 300});
    ASSERT_FALSE(view->overlayView()->isHidden());
    EXPECT_EQ(view->overlayView()->frame(), (CGRect{100, 200, 800, 500}));

    simulate::clickAtPointer({101, 300});
    ASSERT_EQ(picked.size(), 1u);
    EXPECT_EQ(picked[0], (WindowSelectionView::Rectangle{100, 200, 900, 700}));
    EXPECT_TRUE(view->overlayView()->isHidden());
    EXPECT_EQ(NSEvent::localMonitorCount(), 0u);
    EXPECT_EQ(NSCursor::currentCursor(), NSCursor::pointingHandCursor());

    // The next draw resumes tracking, so another window can be picked.
    desktop.addWindow(windowAt(101, 2, {1000, 100, 300, 200}));
    view->display();
    view->display();
    EXPECT_EQ(NSEvent::localMonitorCount(), 1u);
    simulate::movePointer({1100, 200});
    simulate::clickAtPointer({1100, 200});
    ASSERT_EQ(picked.size(), 2u);
    EXPECT_EQ(picked[1], (WindowSelectionView::Rectangle{1000, 100, 1300, 300}));
}

TEST_F(WindowSelection, TheFrontmostOfOverlappingWindowsWins) {
    desktop.addApplication(102, "Terminal");
    desktop.addWindow(windowAt(102, 2, {300, 250, 200, 200}));
    desktop.raiseWindow(2);
    auto view = overlayOnScreen(0);
    simulate::movePointer({350, 300});
    EXPECT_EQ(view->coors(), (WindowSelectionView::Rectangle{300, 250, 500, 450}));
    simulate::movePointer({150, 300});
    EXPECT_EQ(view->coors(), (WindowSelectionView::Rectangle{100, 200, 900, 700}));
}

TEST_F(WindowSelection, OnlyTheOverlayOfTheDisplayUnderThePointerHighlights) {
    desktop.addWindow(windowAt(101, 3, {1600, 100, 400, 300}));
    auto first = overlayOnScreen(0);
    auto second = overlayOnScreen(1);
    EXPECT_EQ(NSEvent::localMonitorCount(), 2u);
    simulate::movePointer({1700, 200});
    EXPECT_TRUE(first->overlayView()->isHidden());
    ASSERT_FALSE(second->overlayView()->isHidden());
    EXPECT_EQ(second->overlayView()->frame(), (CGRect{160, 680, 400, 300}));
    simulate::movePointer({1300, 50});
    EXPECT_TRUE(second->overlayView()->isHidden());
}

TEST_F(WindowSelection, AClickBeforeAnyHighlightKeepsTracking) {
    auto view = overlayOnScreen(0);
    simulate::clickAtPointer({1000, 800});
    EXPECT_TRUE(picked.empty());
    EXPECT_TRUE(view->isTracking());
}

TEST_F(WindowSelection, HidingOrClosingStopsTrackingAndRedrawsDoNotAddMonitors) {
    auto view = overlayOnScreen(0);
    view->display();
    view->display();
    EXPECT_EQ(NSEvent::localMonitorCount(), 1u);
    view->setHidden(true);
    EXPECT_EQ(NSEvent::localMonitorCount(), 0u);
    view->setHidden(false);
    view->display();
    EXPECT_EQ(NSEvent::localMonitorCount(), 1u);
    windows.back()->close();
    EXPECT_EQ(NSEvent::localMonitorCount(), 0u);
}
