#pragma once
// Event taps: a process trusted for Accessibility may watch the session's key events before any
// application or hot key sees them. An active (default) tap decides for each event whether it goes
// on (the callback answers the event) or is swallowed (it answers none); a listen-only tap only
// watches. A tap delivers while it is enabled and its run-loop source is in a run loop, until it is
// invalidated. The system disables a tap that is too slow or that user input turned off, and says
// so to its callback with the two "disabled" event types.
#include <cstdint>

using CGEventType = uint32_t;
inline constexpr CGEventType kCGEventKeyDown = 10;
inline constexpr CGEventType kCGEventKeyUp = 11;
inline constexpr CGEventType kCGEventFlagsChanged = 12;
inline constexpr CGEventType kCGEventTapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr CGEventType kCGEventTapDisabledByUserInput = 0xFFFFFFFF;

using CGEventMask = uint64_t;
constexpr CGEventMask CGEventMaskBit(CGEventType type) {
    return CGEventMask(1) << type;
}
using CGEventFlags = uint64_t;

enum CGEventTapLocation : uint32_t {
    kCGHIDEventTap = 0,
    kCGSessionEventTap = 1,
    kCGAnnotatedSessionEventTap = 2
};
enum CGEventTapPlacement : uint32_t { kCGHeadInsertEventTap = 0, kCGTailAppendEventTap = 1 };
enum CGEventTapOptions : uint32_t { kCGEventTapOptionDefault = 0, kCGEventTapOptionListenOnly = 1 };
enum CGEventField : uint32_t { kCGKeyboardEventKeycode = 9 };

struct CGEvent;
struct CFMachPort;
struct CFRunLoopSource;
struct CFRunLoop;
using CGEventRef = CGEvent*;
using CFMachPortRef = CFMachPort*;
using CFRunLoopSourceRef = CFRunLoopSource*;
using CFRunLoopRef = CFRunLoop*;
using CGEventTapProxy = void*;
using CGEventTapCallBack = CGEventRef (*)(CGEventTapProxy proxy, CGEventType type, CGEventRef event,
                                          void* userInfo);

CGEventType CGEventGetType(CGEventRef event);
int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field);
CGEventFlags CGEventGetFlags(CGEventRef event);

// Null when the process is not trusted for Accessibility. The tap starts enabled; the caller owns it.
CFMachPortRef CGEventTapCreate(CGEventTapLocation location, CGEventTapPlacement placement,
                               CGEventTapOptions options, CGEventMask eventsOfInterest,
                               CGEventTapCallBack callback, void* userInfo);
void CGEventTapEnable(CFMachPortRef tap, bool enable);
bool CGEventTapIsEnabled(CFMachPortRef tap);
// After this the tap's callback is never called again.
void CFMachPortInvalidate(CFMachPortRef port);
void CFRelease(CFMachPortRef port);

// The tap's source; the caller owns it.
CFRunLoopSourceRef CFMachPortCreateRunLoopSource(const void* allocator, CFMachPortRef port, long order);
void CFRelease(CFRunLoopSourceRef source);

// The main thread's loop, the only one the simulated session delivers on.
CFRunLoopRef CFRunLoopGetMain();
CFRunLoopRef CFRunLoopGetCurrent();
inline constexpr const char* kCFRunLoopDefaultMode = "kCFRunLoopDefaultMode";
void CFRunLoopAddSource(CFRunLoopRef loop, CFRunLoopSourceRef source, const char* mode);
void CFRunLoopRemoveSource(CFRunLoopRef loop, CFRunLoopSourceRef source, const char* mode);
