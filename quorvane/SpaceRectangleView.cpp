#include "quorvane/SpaceRectangleView.h"

#include <cmath>

#include "platform/appkit/NSScreen.h"
#include "quorvane/Colors.h"
#include "quorvane/Extensions.h"
#include "quorvane/PointConverter.h"

namespace {
std::shared_ptr<NSView> miniature(const NSColor& color) {
    auto view = std::make_shared<NSView>();
    view->setWantsLayer(true);
    view->layer()->setBackgroundColor(color);
    view->layer()->setCornerRadius(2);
    return view;
}
}  // namespace

SpaceRectangleView::SpaceRectangleView(CGRect frame)
    : NSView(frame),
      screenRectangle_(miniature(Colors::screenMiniature())),
      spaceRectangle_(miniature(Colors::spaceMiniature())) {
    // Laid out once, rather than on every draw.
    addSubview(screenRectangle_);
    screenRectangle_->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints({
        screenRectangle_->centerYAnchor().constraintEqualToAnchor(centerYAnchor(), 0),
        screenRectangle_->leftAnchor().constraintEqualToAnchor(leftAnchor()),
        screenRectangle_->widthAnchor().constraintEqualToConstant(WIDTH),
        screenRectangle_->heightAnchor().constraintEqualToConstant(HEIGHT),
    });
    addSubview(spaceRectangle_);
    spaceRectangle_->setHidden(true);
}

void SpaceRectangleView::setCoordinates(std::optional<std::vector<CGFloat>> coordinates) {
    coordinates_ = std::move(coordinates);
    // A rectangle from an earlier value must not linger when this one places nothing.
    bool placed = false;
    if (coordinates_ && coordinates_->size() == 4)
        for (const auto& screen : NSScreen::screens())
            placed = placeSpaceRectangle(*screen, *coordinates_) || placed;
    spaceRectangle_->setHidden(!placed);
    setNeedsDisplay(true);
}

bool SpaceRectangleView::placeSpaceRectangle(const NSScreen& screen, const std::vector<CGFloat>& c) {
    CGRect bounds = PointConverter::displayBounds(screen);
    if (!CGRectContainsPoint(bounds, {c[0], c[1]})) return false;
    CGPoint origin{std::abs(bounds.minX() - c[0]) / bounds.width() * WIDTH,
                   std::abs(bounds.minY() - c[1]) / bounds.height() * HEIGHT};
    spaceRectangle_->setFrameOrigin(origin);
    spaceRectangle_->setFrameSize(
        {(c[2] - c[0]) / bounds.width() * WIDTH, (c[3] - c[1]) / bounds.height() * HEIGHT});
    return true;
}

void SpaceRectangleView::highlight(const NSColor& color) {
    spaceRectangle_->layer()->setBackgroundColor(color);
    screenRectangle_->layer()->setBorderWidth(1);
    screenRectangle_->layer()->setCornerRadius(3);
    screenRectangle_->layer()->setBorderColor(color);
}

void SpaceRectangleView::setDarkHighlight() {
    highlight(hexColor("#262626", 1.0));
}
void SpaceRectangleView::setBlueHighlight() {
    highlight(hexColor("#3B82F6", 1.0));
}

void SpaceRectangleView::clearHighlight() {
    spaceRectangle_->layer()->setBackgroundColor(Colors::spaceMiniature());
    screenRectangle_->layer()->setBorderWidth(0);
    screenRectangle_->layer()->setBorderColor(std::nullopt);
}

void SpaceRectangleView::mouseDown(const NSEvent& event) {
    NSView::mouseDown(event);
    if (event.type() == NSEventType::LeftMouseDown && onClick_) onClick_();
}
