#include "platform/appkit/NSScreen.h"

#include "platform/appkit/NSScreenBackend.h"
#include "platform/windowserver/X11Desktop.h"

namespace {
// Window-server rectangles have y growing downwards from the top of the first screen.
CGRect flipped(const CGRect& r, CGFloat primaryHeight) {
    return {r.origin.x, primaryHeight - (r.origin.y + r.size.height), r.size.width, r.size.height};
}
}  // namespace

NSScreenBackend& NSScreenBackend::current() {
    return X11Desktop::current() ? x11Screens() : simulatedScreens();
}

std::vector<std::shared_ptr<NSScreen>> NSScreen::screens() {
    auto attached = NSScreenBackend::current().screens();
    std::vector<std::shared_ptr<NSScreen>> out;
    if (attached.empty()) return out;
    CGFloat primaryHeight = attached.front().bounds.size.height;
    for (const auto& s : attached) {
        out.push_back(
            std::make_shared<NSScreen>(flipped(s.bounds, primaryHeight), flipped(s.visible, primaryHeight),
                                       Dictionary{{"NSScreenNumber", static_cast<int64_t>(s.displayID)}}));
    }
    return out;
}

std::shared_ptr<NSScreen> NSScreen::mainScreen() {
    auto all = screens();
    return all.empty() ? nullptr : all.front();
}
