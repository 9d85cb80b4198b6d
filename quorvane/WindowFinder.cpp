#include "quorvane/WindowFinder.h"

#include <string>

#include "platform/foundation/FatalError.h"
#include "platform/windowserver/CGWindow.h"

namespace {
constexpr long kMaxWindows = 99999;

std::optional<CGFloat> number(const Value& dictionary, const char* key) {
    const Value& value = dictionary[key];
    if (!value.isInteger() && !value.isReal()) return std::nullopt;
    return value.asReal();
}

std::optional<Coordinates> elementBounds(const AXUIElementRef& window) {
    auto position = windowPosition(window);
    auto size = windowSize(window);
    if (!position || !size) return std::nullopt;
    return Coordinates{position->x, position->y, position->x + size->width, position->y + size->height};
}
}  // namespace

SpaceSize parseSpaceSize(std::string_view size) {
    auto parsed = readSpaceSize(size);
    if (!parsed) fatalError("Invalid space size: \"" + std::string(size) + "\"");
    return *parsed;
}

Value::Array onScreenWindowList(CGFloat minimumHeight) {
    auto list = CGWindowListCopyWindowInfo(
        kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements, kCGNullWindowID);
    Value::Array kept;
    if (!list) return kept;
    for (auto& entry : *list) {
        auto height = number(entry[kCGWindowBounds], "Height");
        const Value& layer = entry[kCGWindowLayer];
        if (height && *height > minimumHeight && layer.isInteger() && *layer.asInteger() == 0)
            kept.push_back(std::move(entry));
    }
    return kept;
}

std::optional<Coordinates> windowBounds(const Value& entry) {
    const Value& bounds = entry[kCGWindowBounds];
    auto x = number(bounds, "X"), y = number(bounds, "Y");
    auto width = number(bounds, "Width"), height = number(bounds, "Height");
    if (!x || !y || !width || !height) return std::nullopt;
    return Coordinates{*x, *y, *x + *width, *y + *height};
}

bool windowInsideSpace(const Coordinates& w, const Coordinates& s, CGFloat t) {
    return w[0] >= s[0] - t && w[1] >= s[1] - t && w[2] <= s[2] + t && w[3] <= s[3] + t;
}

bool windowMatchesSpace(const Coordinates& w, const Coordinates& s, CGFloat t) {
    for (size_t i = 0; i < w.size(); ++i)
        if (w[i] < s[i] - t || w[i] > s[i] + t) return false;
    return true;
}

bool windowInSpace(const SpaceSize& size, const Coordinates& window, const Coordinates& space,
                   CGFloat looseTolerance) {
    if (size.isLoose()) return windowInsideSpace(window, space, looseTolerance);
    return windowMatchesSpace(window, space, *size.strictTolerance);
}

std::vector<AXUIElementRef> spaceCandidateApps(const Value::Array& entries, const SpaceSize& size,
                                               const Coordinates& space, CGFloat looseTolerance) {
    std::vector<AXUIElementRef> apps;
    for (const auto& entry : entries) {
        auto bounds = windowBounds(entry);
        const Value& pid = entry[kCGWindowOwnerPID];
        if (!bounds || !pid.isInteger() || !windowInSpace(size, *bounds, space, looseTolerance)) continue;
        apps.push_back(AXUIElementCreateApplication(static_cast<pid_t>(*pid.asInteger())));
    }
    return apps;
}

std::vector<AXUIElementRef> pickWindowInSpace(const SpaceSize& size,
                                              const std::vector<AXUIElementRef>& windows,
                                              const Coordinates& space, CGFloat looseTolerance) {
    std::vector<AXUIElementRef> inside;
    for (const auto& window : windows) {
        auto bounds = elementBounds(window);
        if (bounds && windowInSpace(size, *bounds, space, looseTolerance)) inside.push_back(window);
    }
    return inside;
}

std::optional<std::vector<AXUIElementRef>> applicationWindows(const AXUIElementRef& application) {
    std::vector<AXUIElementRef> windows;
    if (AXUIElementCopyAttributeValues(application, kAXWindowsAttribute, 0, kMaxWindows, &windows) !=
        kAXErrorSuccess)
        return std::nullopt;
    return windows;
}

std::vector<AXUIElementRef> frontAppWindows() {
    auto list = onScreenWindowList(minimumWindowHeight);
    if (list.empty()) return {};
    const Value& pid = list.front()[kCGWindowOwnerPID];
    if (!pid.isInteger()) return {};
    return applicationWindows(AXUIElementCreateApplication(static_cast<pid_t>(*pid.asInteger())))
        .value_or(std::vector<AXUIElementRef>{});
}

std::optional<std::pair<CGFloat, CGFloat>> readAXValue(const AXUIElementRef& element,
                                                       std::string_view attribute, AXValueType type) {
    AXAttributeValue value;
    if (AXUIElementCopyAttributeValue(element, attribute, &value) != kAXErrorSuccess) return std::nullopt;
    auto* axValue = std::get_if<AXValue>(&value);
    if (!axValue || axValue->type != type) return std::nullopt;
    return std::make_pair(axValue->first, axValue->second);
}

std::optional<CGPoint> windowPosition(const AXUIElementRef& window) {
    auto value = readAXValue(window, kAXPositionAttribute, kAXValueCGPointType);
    if (!value) return std::nullopt;
    return CGPoint{value->first, value->second};
}

std::optional<CGSize> windowSize(const AXUIElementRef& window) {
    auto value = readAXValue(window, kAXSizeAttribute, kAXValueCGSizeType);
    if (!value) return std::nullopt;
    return CGSize{value->first, value->second};
}
