#include "quorvane/GridSelectionView.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWindow.h"
#include "platform/foundation/FatalError.h"
#include "quorvane/Colors.h"
#include "quorvane/PointConverter.h"

namespace {
CGPoint windowServerLocation(const NSEvent& event) {
    auto location = event.cgEventLocation();
    if (!location) fatalError("Mouse event without a window-server event");
    return *location;
}
}  // namespace

GridSelectionView::GridSelectionView(CGRect frame) : NSView(frame) {
    setWantsLayer(true);
    layer()->setBackgroundColor(NSColor::grayColor().colorWithAlphaComponent(0.6));
}

void GridSelectionView::mouseDown(const NSEvent& event) {
    startPointView_ = convertPointFromView(event.locationInWindow(), nullptr);
    cgStartPoint_ = windowServerLocation(event);
    // A press without a drag selects nothing, instead of a rectangle reaching back to the last end point.
    endPointView_ = startPointView_;
    cgEndPoint_ = cgStartPoint_;
}

void GridSelectionView::mouseDragged(const NSEvent& event) {
    endPointView_ = convertPointFromView(event.locationInWindow(), nullptr);
    cgEndPoint_ = windowServerLocation(event);
    setNeedsDisplay(true);
}

void GridSelectionView::mouseUp(const NSEvent&) {
    // Without a selected cell there is no rectangle to report.
    if (!selectedCells_.empty()) {
        Rectangle r = selectionRectangle();
        if (onCreateHandler_) onCreateHandler_(r.x1, r.y1, r.x2, r.y2);
    }
    startPointView_ = {};
    endPointView_ = {};
    selectedCells_.clear();
    setNeedsDisplay(true);
}

CGRect GridSelectionView::selection() const {
    CGFloat x = std::min(startPointView_.x, endPointView_.x),
            y = std::min(startPointView_.y, endPointView_.y);
    return {x, y, std::max(startPointView_.x, endPointView_.x) - x,
            std::max(startPointView_.y, endPointView_.y) - y};
}

void GridSelectionView::drawRect(const CGRect& dirty) {
    NSView::drawRect(dirty);
    selectedCells_.clear();
    CGRect selected = selection();
    CGRect visible = visibleRect();
    CGFloat cellWidth = visible.width() / numCols, cellHeight = visible.height() / numRows;
    for (int row = 0; row < numRows; ++row) {
        for (int col = 0; col < numCols; ++col) {
            CGRect cell{col * cellWidth, row * cellHeight, cellWidth, cellHeight};
            if (!NSIsEmptyRect(selected) && CGRectIntersectsRect(selected, cell))
                selectedCells_.push_back(cell);
            bool filled = std::any_of(selectedCells_.begin(), selectedCells_.end(),
                                      [&](const CGRect& s) { return CGRectIntersectsRect(s, cell); });
            auto path = NSBezierPath::bezierPathWithRect(cell);
            if (filled) {
                Colors::gridSelectionFill().setFill();
                path.fill();
            }
            path.setLineWidth(1);
            NSColor::whiteColor().setStroke();
            path.stroke();
        }
    }
    NSColor::blueColor().setStroke();
    NSBezierPath::bezierPathWithRect(
        {selected.origin,
         {std::abs(endPointView_.x - startPointView_.x), std::abs(endPointView_.y - startPointView_.y)}})
        .stroke();
}

GridSelectionView::Rectangle GridSelectionView::selectionRectangle() const {
    NSWindow* w = window();
    auto screen = w ? w->screen() : nullptr;
    if (!screen) fatalError("Main screen not available");
    CGRect display = PointConverter::displayBounds(*screen);
    // The overlay covers the visible frame: what the menu bar and a Dock take on the top and left
    // lies between the display's edge and the grid's.
    CGFloat topInset = screen->frame().maxY() - screen->visibleFrame().maxY();
    CGFloat leftInset = screen->visibleFrame().minX() - screen->frame().minX();
    CGFloat xOffset = display.origin.x + leftInset;
    CGFloat yOffset = display.origin.y + topInset;

    CGFloat minX = std::numeric_limits<CGFloat>::max(), minTop = std::numeric_limits<CGFloat>::max();
    CGFloat maxX = std::numeric_limits<CGFloat>::min(), maxBottom = std::numeric_limits<CGFloat>::min();
    CGFloat frameMaxY = frame().origin.y + frame().size.height;
    for (const CGRect& cell : selectedCells_) {
        CGFloat top = std::round(frameMaxY - cell.maxY());
        CGFloat bottom = top + cell.height();
        minX = std::min(minX, cell.minX());
        if (cell.maxX() >= maxX) maxX = cell.maxX();
        minTop = std::min(minTop, top);
        if (bottom >= maxBottom) maxBottom = bottom;
    }
    return {std::round(minX + xOffset), std::round(minTop + yOffset), std::round(maxX + xOffset),
            std::round(maxBottom + yOffset)};
}
