#pragma once
// The window server's queries: the window list and the displays. Window-list entries are
// dictionaries with the platform's keys; rectangles are global window-server points.
#include <cstdint>
#include <optional>

#include "platform/foundation/Value.h"
#include "platform/windowserver/CGGeometry.h"

using CGWindowID = uint32_t;
using CGDirectDisplayID = uint32_t;

using CGError = int32_t;
inline constexpr CGError kCGErrorSuccess = 0;
inline constexpr CGError kCGErrorFailure = 1000;
inline constexpr CGError kCGErrorIllegalArgument = 1001;

using CGWindowListOption = uint32_t;
inline constexpr CGWindowListOption kCGWindowListOptionAll = 0;
inline constexpr CGWindowListOption kCGWindowListOptionOnScreenOnly = 1 << 0;
inline constexpr CGWindowListOption kCGWindowListExcludeDesktopElements = 1 << 4;
inline constexpr CGWindowID kCGNullWindowID = 0;
inline constexpr CGDirectDisplayID kCGNullDirectDisplay = 0;

inline constexpr const char* kCGWindowNumber = "kCGWindowNumber";
inline constexpr const char* kCGWindowOwnerPID = "kCGWindowOwnerPID";
inline constexpr const char* kCGWindowOwnerName = "kCGWindowOwnerName";
inline constexpr const char* kCGWindowLayer = "kCGWindowLayer";
inline constexpr const char* kCGWindowBounds = "kCGWindowBounds";  // {"X", "Y", "Width", "Height"}
inline constexpr const char* kCGWindowIsOnscreen = "kCGWindowIsOnscreen";

// Front to back. On-screen-only leaves out minimised windows; excluding desktop elements leaves
// out windows below the ordinary layer 0. Only the null window may be given as the relative window;
// other relative orderings are not offered.
std::optional<Value::Array> CGWindowListCopyWindowInfo(CGWindowListOption option,
                                                       CGWindowID relativeToWindow);

CGDirectDisplayID CGMainDisplayID();                // kCGNullDirectDisplay without screens
CGRect CGDisplayBounds(CGDirectDisplayID display);  // CGRectZero for an unknown display
