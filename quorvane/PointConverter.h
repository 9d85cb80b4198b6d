#pragma once
// The two display look-ups the overlays share: a screen's display bounds, and the screen whose
// display bounds contain a point. Display bounds are global window-server rectangles (origin at the
// top-left of the primary display, y down).
#include <memory>
#include <optional>

#include "platform/foundation/Geometry.h"

class NSScreen;

namespace PointConverter {

// Stops the process with "Main screen display id not available" when the screen has no display
// number, and with "Screen not available" when there is no screen.
CGRect displayBounds(const NSScreen& screen);
CGRect displayBounds(const std::shared_ptr<NSScreen>& screen);

struct ScreenMatch {
    CGRect bounds;
    std::shared_ptr<NSScreen> screen;
};
// The first screen, in the platform's order, whose display bounds contain `point`.
std::optional<ScreenMatch> screenContaining(CGPoint point);

// A global rectangle (x1, y1, x2, y2) in the coordinates of an overlay view that covers the visible
// frame of the screen holding its top-left corner; none when no screen holds that corner.
std::optional<CGRect> rectInOverlay(CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2);

}  // namespace PointConverter
