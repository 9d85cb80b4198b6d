#pragma once
// The core library's version and the tags its libraries' loggers print.

// The tag the analytics library's monitor prints in front of its lines.
inline constexpr const char* kZUDLoggerAnalytics = "[Zudedaro/Analytics]";
// The tag of the core library's own lines.
inline constexpr const char* kZUDLoggerCore = "[Zudedaro/Core]";

inline const char* ZUDZudedaroVersion() {
    return "10.13.0";
}
