#include "platform/windowserver/CGWindow.h"
#include "platform/windowserver/SimulatedDesktop.h"

std::optional<Value::Array> CGWindowListCopyWindowInfo(CGWindowListOption option,
                                                       CGWindowID relativeToWindow) {
    if (relativeToWindow != kCGNullWindowID) return std::nullopt;
    auto& desktop = SimulatedDesktop::shared();
    Value::Array list;
    for (const auto& w : desktop.windowsFrontToBack()) {
        if ((option & kCGWindowListOptionOnScreenOnly) && w.minimized) continue;
        if ((option & kCGWindowListExcludeDesktopElements) && w.layer < 0) continue;
        Dictionary bounds{{"Height", w.bounds.size.height},
                          {"Width", w.bounds.size.width},
                          {"X", w.bounds.origin.x},
                          {"Y", w.bounds.origin.y}};
        list.push_back(Dictionary{{kCGWindowNumber, static_cast<int64_t>(w.number)},
                                  {kCGWindowOwnerPID, static_cast<int64_t>(w.ownerPid)},
                                  {kCGWindowOwnerName, desktop.applicationName(w.ownerPid).value_or("")},
                                  {kCGWindowLayer, w.layer},
                                  {kCGWindowBounds, std::move(bounds)},
                                  {kCGWindowIsOnscreen, !w.minimized}});
    }
    return list;
}

CGDirectDisplayID CGMainDisplayID() {
    auto screens = SimulatedDesktop::shared().screens();
    return screens.empty() ? kCGNullDirectDisplay : screens.front().displayID;
}

CGRect CGDisplayBounds(CGDirectDisplayID display) {
    for (const auto& s : SimulatedDesktop::shared().screens())
        if (s.displayID == display) return s.bounds;
    return CGRectZero;
}
