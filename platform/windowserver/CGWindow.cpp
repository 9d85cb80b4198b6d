#include "platform/windowserver/CGWindow.h"

#include "platform/windowserver/WindowServerBackend.h"
#include "platform/windowserver/X11Desktop.h"

WindowServerBackend& WindowServerBackend::current() {
    return X11Desktop::current() ? x11WindowServer() : simulatedWindowServer();
}

std::optional<Value::Array> CGWindowListCopyWindowInfo(CGWindowListOption option,
                                                       CGWindowID relativeToWindow) {
    if (relativeToWindow != kCGNullWindowID) return std::nullopt;
    Value::Array list;
    for (const auto& w : WindowServerBackend::current().windows()) {
        if ((option & kCGWindowListOptionOnScreenOnly) && !w.onScreen) continue;
        if ((option & kCGWindowListExcludeDesktopElements) && w.layer < 0) continue;
        Dictionary bounds{{"Height", w.bounds.size.height},
                          {"Width", w.bounds.size.width},
                          {"X", w.bounds.origin.x},
                          {"Y", w.bounds.origin.y}};
        list.push_back(Dictionary{{kCGWindowNumber, static_cast<int64_t>(w.number)},
                                  {kCGWindowOwnerPID, static_cast<int64_t>(w.ownerPid)},
                                  {kCGWindowOwnerName, w.ownerName},
                                  {kCGWindowLayer, w.layer},
                                  {kCGWindowBounds, std::move(bounds)},
                                  {kCGWindowIsOnscreen, w.onScreen}});
    }
    return list;
}

CGDirectDisplayID CGMainDisplayID() {
    auto all = WindowServerBackend::current().displays();
    return all.empty() ? kCGNullDirectDisplay : all.front().id;
}

CGRect CGDisplayBounds(CGDirectDisplayID display) {
    for (const auto& d : WindowServerBackend::current().displays())
        if (d.id == display) return d.bounds;
    return CGRectZero;
}
