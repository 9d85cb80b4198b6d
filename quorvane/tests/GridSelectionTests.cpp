#include <gtest/gtest.h>

#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWindow.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/appkit/testing/GeometryPrinting.h"
#include "quorvane/Extensions.h"
#include "quorvane/GridSelectionView.h"
#include "quorvane/PointConverter.h"
#include "quorvane/tests/DesktopFixture.h"

inline void PrintTo(const GridSelectionView::Rectangle& r, std::ostream* os) {
    *os << "(" << r.x1 << ", " << r.y1 << ", " << r.x2 << ", " << r.y2 << ")";
}

namespace {

SimulatedScreen screenWithInsets(CGFloat x, CGFloat y, CGFloat top, CGFloat left) {
    SimulatedScreen screen = screenAt(x, y, 1440, 900);
    screen.insetTop = top;
    screen.insetLeft = left;
    return screen;
}

class GridSelection : public DesktopTest {
  protected:
    ~GridSelection() override {
        for (auto& window : windows) window->close();
    }

    // A grid over the visible frame of screen `index`, as the create overlay lays it out.
    std::shared_ptr<GridSelectionView> gridOnScreen(size_t index) {
        auto screen = NSScreen::screens().at(index);
        auto window = std::make_shared<NSWindow>(screen->visibleFrame(), NSWindowStyleMaskBorderless,
                                                 NSBackingStoreType::Buffered, false);
        auto grid = std::make_shared<GridSelectionView>();
        auto content = window->contentView();
        content->addSubview(grid);
        pinEdges(*grid, {.top = content->topAnchor(),
                         .left = content->leftAnchor(),
                         .bottom = content->bottomAnchor(),
                         .right = content->rightAnchor()});
        grid->setOnCreateHandler([this](CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2) {
            results.push_back({x1, y1, x2, y2});
        });
        window->orderFront(nullptr);
        windows.push_back(window);
        return grid;
    }

    // A drag that stays inside the top-left cell of the grid's window.
    void dragInTopLeftCell(const std::shared_ptr<GridSelectionView>& grid) {
        CGFloat top = grid->window()->frame().size.height;
        simulate::drag(windows.back(), {10, top - 10}, {20, top - 20});
    }

    std::vector<std::shared_ptr<NSWindow>> windows;
    std::vector<GridSelectionView::Rectangle> results;
};

}  // namespace

TEST_F(GridSelection, TheTopLeftCellBecomesGlobalTopLeftCoordinatesBelowTheMenuBar) {
    attachScreens({screenWithInsets(0, 0, 25, 0)});
    auto grid = gridOnScreen(0);
    dragInTopLeftCell(grid);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], (GridSelectionView::Rectangle{0, 25, 144, 113}));
    EXPECT_NE(grid->cgStartPoint(), (CGPoint{0, 0}));

    // Released: nothing stays selected and the grid is drawn empty again.
    EXPECT_TRUE(grid->selectedCells().empty());
    EXPECT_EQ(grid->startPointView(), (CGPoint{0, 0}));
    const auto& ops = grid->drawing()->operations();
    EXPECT_EQ(std::count_if(ops.begin(), ops.end(),
                            [](auto& op) { return op.kind == DrawOperation::Kind::FillPath; }),
              0);
}

TEST_F(GridSelection, ADragFillsEveryCellItTouches) {
    attachScreens({screenWithInsets(0, 0, 25, 0)});
    auto grid = gridOnScreen(0);
    auto& window = windows.back();
    simulate::send(window, NSEventType::LeftMouseDown, {100, 870});
    simulate::send(window, NSEventType::LeftMouseDragged, {300, 700});
    // Columns 0-2 and the two top rows: six cells, each filled and outlined.
    EXPECT_EQ(grid->selectedCells().size(), 6u);
    const auto& ops = grid->drawing()->operations();
    EXPECT_EQ(std::count_if(ops.begin(), ops.end(),
                            [](auto& op) { return op.kind == DrawOperation::Kind::FillPath; }),
              6);
    simulate::send(window, NSEventType::LeftMouseUp, {300, 700});
    ASSERT_EQ(results.size(), 1u);
    // The second row's top, 87.5 down, rounds to 88 before its height is added: 88 + 87.5 + 25 → 201.
    EXPECT_EQ(results[0], (GridSelectionView::Rectangle{0, 25, 432, 201}));
}

TEST_F(GridSelection, TheOriginOfTheDisplayAndALeftDockShiftTheResult) {
    attachScreens(
        {screenWithInsets(0, 0, 25, 0), screenWithInsets(1440, 0, 25, 0), screenWithInsets(2880, 0, 25, 80)});
    dragInTopLeftCell(gridOnScreen(1));
    dragInTopLeftCell(gridOnScreen(2));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0], (GridSelectionView::Rectangle{1440, 25, 1584, 113}));
    // The Dock takes 80 points at the left: cells are 136 wide and start 80 in.
    EXPECT_EQ(results[1], (GridSelectionView::Rectangle{2960, 25, 3096, 113}));
}

TEST_F(GridSelection, AClickWithoutADragReportsNothing) {
    attachScreens({screenWithInsets(0, 0, 25, 0)});
    auto grid = gridOnScreen(0);
    simulate::click(windows.back(), {700, 400});
    dragInTopLeftCell(grid);
    simulate::click(windows.back(), {700, 400});
    EXPECT_EQ(results.size(), 1u);
}

TEST_F(GridSelection, ScreensAreFoundByTheirDisplayBounds) {
    attachScreens({kScreenA, kScreenB});
    auto match = PointConverter::screenContaining({1500, 10});
    ASSERT_TRUE(match);
    EXPECT_EQ(match->bounds, kScreenB.bounds);
    EXPECT_EQ(PointConverter::displayBounds(*NSScreen::screens()[0]), kScreenA.bounds);
    EXPECT_FALSE(PointConverter::screenContaining({-5, 10}));
    EXPECT_FALSE(PointConverter::screenContaining({1440 + 1920, 10}));
}

TEST(GridSelectionDeathTest, StopsWithTheFixedMessages) {
    EXPECT_DEATH(GridSelectionView().selectionRectangle(), "Main screen not available");
    CGRect frame{0, 0, 10, 10};
    EXPECT_DEATH(PointConverter::displayBounds(NSScreen(frame, frame, {})),
                 "Main screen display id not available");
    EXPECT_DEATH(PointConverter::displayBounds(std::shared_ptr<NSScreen>()), "Screen not available");
}
