#include "quorvane/PointConverter.h"

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

}  // namespace PointConverter
