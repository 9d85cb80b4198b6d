#include "quorvane/WindowActions.h"

#include <cstring>

#include "platform/windowserver/CGWindow.h"
#include "quorvane/UsageEvents.h"
#include "quorvane/WindowFinder.h"

namespace {
bool isFrontmost(const AXUIElementRef& application) {
    AXAttributeValue value;
    if (AXUIElementCopyAttributeValue(application, kAXFrontmostAttribute, &value) != kAXErrorSuccess)
        return false;
    auto* frontmost = std::get_if<bool>(&value);
    return frontmost && *frontmost;
}

bool isMinimized(const AXUIElementRef& window) {
    AXAttributeValue value;
    if (AXUIElementCopyAttributeValue(window, kAXMinimizedAttribute, &value) != kAXErrorSuccess) return false;
    auto* minimized = std::get_if<bool>(&value);
    return minimized && *minimized;
}

void setSize(const AXUIElementRef& window, CGSize size) {
    AXUIElementSetAttributeValue(window, kAXSizeAttribute, AXValueCreate(size));
}

void setPosition(const AXUIElementRef& window, CGPoint position) {
    AXUIElementSetAttributeValue(window, kAXPositionAttribute, AXValueCreate(position));
}
}  // namespace

void focusWindowInSpace(const Coordinates& space, const std::string& size, CGFloat minimumHeight,
                        CGFloat looseTolerance) {
    SpaceSize mode = parseSpaceSize(size);
    auto list = onScreenWindowList(minimumHeight);
    if (list.empty()) return;
    auto frontWindow = windowBounds(list.front());
    auto candidates = spaceCandidateApps(list, mode, space, looseTolerance);
    if (candidates.empty()) return;

    if (isFrontmost(candidates.front()) && frontWindow &&
        windowInSpace(mode, *frontWindow, space, looseTolerance)) {
        cycleWindowsInSpace(space, size, minimumHeight, looseTolerance);
        return;
    }
    auto windows = applicationWindows(candidates.front());
    if (!windows) return;
    auto inside = pickWindowInSpace(mode, *windows, space, looseTolerance);
    if (inside.empty()) return;
    UsageEvents::record("switched", "switch");
    focusWindow(inside.front());
}

void cycleWindowsInSpace(const Coordinates& space, const std::string& size, CGFloat minimumHeight,
                         CGFloat looseTolerance) {
    SpaceSize mode = parseSpaceSize(size);
    auto candidates = spaceCandidateApps(onScreenWindowList(minimumHeight), mode, space, looseTolerance);
    if (candidates.empty()) return;
    auto windows = applicationWindows(candidates.back());
    if (!windows) return;
    auto inside = pickWindowInSpace(mode, *windows, space, looseTolerance);
    for (auto it = inside.rbegin(); it != inside.rend(); ++it) {
        if (isMinimized(*it)) continue;
        UsageEvents::record("cycled");
        focusWindow(*it);
        return;
    }
}

void focusWindow(const AXUIElementRef& window) {
    pid_t pid = 0;
    AXUIElementGetPid(window, &pid);
    ProcessSerialNumber psn;
    GetProcessForPID(pid, &psn);
    CGWindowID windowNumber = 0;
    _AXUIElementGetWindow(window, &windowNumber);
    _SLPSSetFrontProcessWithOptions(&psn, windowNumber, kCPSUserGenerated);
    postMakeKeyWindowEvents(psn, windowNumber);
    AXUIElementPerformAction(window, kAXRaiseAction);
}

SLPSEventRecord makeKeyWindowEventRecord(uint8_t kind, CGWindowID window) {
    SLPSEventRecord record{};
    record[0x04] = 0xF8;
    record[0x08] = kind;
    std::memset(&record[0x20], 0xFF, 0x10);
    record[0x3A] = 0x10;
    std::memcpy(&record[0x3C], &window, sizeof window);
    return record;
}

void postMakeKeyWindowEvents(ProcessSerialNumber psn, CGWindowID window) {
    SLPSPostEventRecordTo(&psn, makeKeyWindowEventRecord(0x01, window));
    SLPSPostEventRecordTo(&psn, makeKeyWindowEventRecord(0x02, window));
}

void resizeFocusedWindowIntoSpace(const Coordinates& space, CGFloat minimumHeight) {
    for (const auto& window : frontAppWindows()) {
        auto position = windowPosition(window);
        auto size = windowSize(window);
        if (!position || !size || size->height <= minimumHeight) continue;
        bool sizeFirst = size->width > space[2] - space[0] && size->height > space[3] - space[1];
        setWindowFrame(window, space, sizeFirst);
        return;
    }
}

void setWindowFrame(const AXUIElementRef& window, const Coordinates& space, bool sizeFirst) {
    CGPoint position{space[0], space[1]};
    CGSize size{space[2] - space[0], space[3] - space[1]};
    if (sizeFirst) {
        setSize(window, size);
        setPosition(window, position);
        return;
    }
    setPosition(window, position);
    setSize(window, size);
    auto actual = windowSize(window);
    if (actual && (actual->width != size.width || actual->height != size.height)) setSize(window, size);
}
