#include "platform/appkit/NSScreen.h"

#include "platform/windowserver/SimulatedDesktop.h"

namespace {
// Window-server rectangles have y growing downwards from the top of the first screen.
CGRect flipped(const CGRect& r, CGFloat primaryHeight) {
    return {r.origin.x, primaryHeight - (r.origin.y + r.size.height), r.size.width, r.size.height};
}
}  // namespace

std::vector<std::shared_ptr<NSScreen>> NSScreen::screens() {
    auto attached = SimulatedDesktop::shared().screens();
    std::vector<std::shared_ptr<NSScreen>> out;
    if (attached.empty()) return out;
    CGFloat primaryHeight = attached.front().bounds.size.height;
    for (const auto& s : attached) {
        CGRect visible{s.bounds.origin.x + s.insetLeft, s.bounds.origin.y + s.insetTop,
                       s.bounds.size.width - s.insetLeft - s.insetRight,
                       s.bounds.size.height - s.insetTop - s.insetBottom};
        out.push_back(
            std::make_shared<NSScreen>(flipped(s.bounds, primaryHeight), flipped(visible, primaryHeight),
                                       Dictionary{{"NSScreenNumber", static_cast<int64_t>(s.displayID)}}));
    }
    return out;
}

std::shared_ptr<NSScreen> NSScreen::mainScreen() {
    auto all = screens();
    return all.empty() ? nullptr : all.front();
}
