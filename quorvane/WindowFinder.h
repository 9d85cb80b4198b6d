#pragma once
// From a space to the windows of other applications: the window server's ordinary on-screen
// windows, the loose and strict in-space tests, and the Accessibility elements of the applications
// and windows lying in a space. Nothing is cached: every call reads the platform afresh.
#include <optional>
#include <string_view>
#include <vector>

#include "platform/accessibility/AXUIElement.h"
#include "platform/foundation/Value.h"
#include "quorvane/Group.h"

// A window-list entry counts only when taller than this; the resize action skips lower windows.
inline constexpr CGFloat minimumWindowHeight = 30.0;
// How far a window may overhang each edge of a space in the loose test.
inline constexpr CGFloat looseTolerance = 20.0;

// Stops the process on a size that is neither "all" nor a number: only those are ever stored.
SpaceSize parseSpaceSize(std::string_view size);

// Layer-0 windows taller than `minimumHeight`, front to back.
Value::Array onScreenWindowList(CGFloat minimumHeight);
// The entry's bounds as x1, y1, x2, y2; none when the entry lacks them.
std::optional<Coordinates> windowBounds(const Value& entry);

// Each window edge within `tolerance` outside the space; the window may be smaller than the space.
bool windowInsideSpace(const Coordinates& window, const Coordinates& space, CGFloat tolerance);
// Each window edge within `tolerance` of the same edge of the space, on either side.
bool windowMatchesSpace(const Coordinates& window, const Coordinates& space, CGFloat tolerance);
// The in-space test of the size mode: loose with `looseTolerance`, strict with the mode's own.
bool windowInSpace(const SpaceSize& size, const Coordinates& window, const Coordinates& space,
                   CGFloat looseTolerance);

// One application element per entry lying in the space, in list order: an application with
// several windows there appears several times, the owner of the front-most window first.
std::vector<AXUIElementRef> spaceCandidateApps(const Value::Array& entries, const SpaceSize& size,
                                               const Coordinates& space, CGFloat looseTolerance);
// The window elements lying in the space, in the given order.
std::vector<AXUIElementRef> pickWindowInSpace(const SpaceSize& size,
                                              const std::vector<AXUIElementRef>& windows,
                                              const Coordinates& space, CGFloat looseTolerance);
// The "AXWindows" of the application owning the front-most listed window; empty when unreadable.
std::vector<AXUIElementRef> frontAppWindows();
// At most 99999 "AXWindows" of an application; none when they cannot be read.
std::optional<std::vector<AXUIElementRef>> applicationWindows(const AXUIElementRef& application);

// The two numbers of a point or size attribute.
std::optional<std::pair<CGFloat, CGFloat>> readAXValue(const AXUIElementRef& element,
                                                       std::string_view attribute, AXValueType type);
std::optional<CGPoint> windowPosition(const AXUIElementRef& window);
std::optional<CGSize> windowSize(const AXUIElementRef& window);
