#pragma once
// Input events as the windows receive them: mouse presses, drags, releases, moves, tracking-area
// enter/exit and key presses. Mouse events also carry the location of the window-server event
// (global display coordinates: origin at the top-left of the primary screen, y down).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/foundation/Geometry.h"

class NSObject;
class NSWindow;
class NSTrackingArea;

enum class NSEventType : uint32_t {
    LeftMouseDown = 1,
    LeftMouseUp = 2,
    RightMouseDown = 3,
    RightMouseUp = 4,
    MouseMoved = 5,
    LeftMouseDragged = 6,
    RightMouseDragged = 7,
    MouseEntered = 8,
    MouseExited = 9,
    KeyDown = 10,
    KeyUp = 11,
    FlagsChanged = 12,
    AppKitDefined = 13,
    SystemDefined = 14,
    ApplicationDefined = 15,
    Periodic = 16,
    CursorUpdate = 17,
    Rotate = 18,
    BeginGesture = 19,
    EndGesture = 20,
    ScrollWheel = 22,
    TabletPoint = 23,
    TabletProximity = 24,
    OtherMouseDown = 25,
    OtherMouseUp = 26,
    OtherMouseDragged = 27,
    Gesture = 29,
    Magnify = 30,
    Swipe = 31,
    SmartMagnify = 32,
    QuickLook = 33,
    Pressure = 34,
    DirectTouch = 37,
    ChangeMode = 38,
};

using NSEventMask = uint64_t;
inline constexpr NSEventMask NSEventMaskFromType(NSEventType type) {
    return NSEventMask{1} << static_cast<uint32_t>(type);
}

class NSEvent {
  public:
    // A mouse event at `locationInWindow` (the window's own coordinates, origin bottom-left). The
    // window-server location is derived from the window's frame and the primary screen; without a
    // window or a screen the event has none.
    static std::shared_ptr<NSEvent> mouseEvent(NSEventType type, CGPoint locationInWindow,
                                               const std::shared_ptr<NSWindow>& window,
                                               NSEventModifierFlags modifierFlags = 0, int clickCount = 1);
    // A key down, key up or flags changed event (for flags changed the key code names the modifier
    // key). Without `charactersIgnoringModifiers` the key types the same with and without modifiers.
    static std::shared_ptr<NSEvent> keyEvent(NSEventType type, uint16_t keyCode, std::string characters,
                                             NSEventModifierFlags modifierFlags,
                                             const std::shared_ptr<NSWindow>& window,
                                             std::optional<std::string> charactersIgnoringModifiers = {});
    // The modifier keys held down now, for the whole application; the simulated keyboard sets them.
    static NSEventModifierFlags currentModifierFlags();
    static void setCurrentModifierFlags(NSEventModifierFlags flags);
    // The enter or exit event of a tracking area.
    static std::shared_ptr<NSEvent> enterExitEvent(NSEventType type, CGPoint locationInWindow,
                                                   const std::shared_ptr<NSTrackingArea>& area,
                                                   const std::shared_ptr<NSWindow>& window);

    // Local monitors see the events the application dispatches, before the windows do, in the
    // order they were added. A handler returns the event to pass on (possibly another one), or null
    // to swallow it.
    using LocalMonitorHandler = std::function<std::shared_ptr<NSEvent>(const std::shared_ptr<NSEvent>&)>;
    static std::shared_ptr<NSObject> addLocalMonitorForEventsMatchingMask(NSEventMask mask,
                                                                          LocalMonitorHandler handler);
    static void removeMonitor(const std::shared_ptr<NSObject>& monitor);
    static size_t localMonitorCount();
    // Runs the monitors whose mask matches; null when one swallowed the event.
    static std::shared_ptr<NSEvent> runLocalMonitors(std::shared_ptr<NSEvent> event);

    NSEventType type() const { return type_; }
    CGPoint locationInWindow() const { return location_; }
    NSEventModifierFlags modifierFlags() const { return modifierFlags_; }
    uint16_t keyCode() const { return keyCode_; }
    const std::string& characters() const { return characters_; }
    const std::string& charactersIgnoringModifiers() const { return charactersIgnoringModifiers_; }
    int clickCount() const { return clickCount_; }
    std::shared_ptr<NSWindow> window() const { return window_.lock(); }
    std::shared_ptr<NSTrackingArea> trackingArea() const { return trackingArea_; }
    // The location of the underlying window-server event; none for events without one.
    std::optional<CGPoint> cgEventLocation() const { return cgLocation_; }
    void setCGEventLocation(std::optional<CGPoint> location) { cgLocation_ = location; }

    NSEvent(NSEventType type) : type_(type) {}

  private:
    NSEventType type_;
    CGPoint location_;
    NSEventModifierFlags modifierFlags_ = 0;
    uint16_t keyCode_ = 0;
    std::string characters_;
    std::string charactersIgnoringModifiers_;
    int clickCount_ = 0;
    std::weak_ptr<NSWindow> window_;
    std::shared_ptr<NSTrackingArea> trackingArea_;
    std::optional<CGPoint> cgLocation_;
};
