#include "quorvane/PointConverter.h"

#include <cmath>

#include "platform/appkit/NSScreen.h"
#include "platform/foundation/FatalError.h"
#include "platform/windowserver/CGWindow.h"
#include "quorvane/Extensions.h"

namespace PointConverter {

CGRect displayBounds(const NSScreen& screen) {
    auto id = displayID(screen);
    if (!id) fatalError("Main screen display id not available");
    return CGDisplayBounds(*id);
}

CGRect displayBounds(const std::shared_ptr<NSScreen>& screen) {
    if (!screen) fatalError("Screen not available");
    return displayBounds(*screen);
}

std::optional<ScreenMatch> screenContaining(CGPoint point) {
    for (const auto& screen : NSScreen::screens()) {
        CGRect bounds = displayBounds(*screen);
        if (CGRectContainsPoint(bounds, point)) return ScreenMatch{bounds, screen};
    }
    return std::nullopt;
}

std::optional<CGRect> rectInOverlay(CGFloat x1, CGFloat y1, CGFloat x2, CGFloat y2) {
    auto match = screenContaining({x1, y1});
    if (!match) return std::nullopt;
    const NSScreen& screen = *match->screen;
    CGRect bounds = match->bounds;
    CGFloat dockGap = std::abs(screen.visibleFrame().minY() - screen.frame().minY());
    // A Dock at the left moves the overlay's left edge in by its width.
    CGFloat leftGap = std::abs(screen.visibleFrame().minX() - screen.frame().minX());
    CGFloat height = y2 - y1;
    CGFloat localX = std::abs(bounds.minX() - x1) - leftGap;
    CGFloat localTop = std::abs(bounds.minY() - y1);
    CGFloat localY = bounds.height() - localTop - height - dockGap;
    return CGRect{localX, localY, x2 - x1, height};
}

}  // namespace PointConverter
