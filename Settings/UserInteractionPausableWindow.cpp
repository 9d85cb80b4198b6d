#include "Settings/UserInteractionPausableWindow.h"

#include <algorithm>

UserInteractionPausableWindow::UserInteractionPausableWindow(CGRect contentRect, NSWindowStyleMask styleMask,
                                                             NSBackingStoreType backing, bool defer)
    : NSWindow(contentRect, styleMask, backing, defer) {}

const std::vector<NSEventType>& UserInteractionPausableWindow::pausedEventTypes() {
    using T = NSEventType;
    static const std::vector<NSEventType> types = {
        T::LeftMouseDown,
        T::LeftMouseUp,
        T::RightMouseDown,
        T::RightMouseUp,
        T::LeftMouseDragged,
        T::RightMouseDragged,
        T::KeyDown,
        T::KeyUp,
        T::ScrollWheel,
        T::TabletPoint,
        T::OtherMouseDown,
        T::OtherMouseUp,
        T::OtherMouseDragged,
        T::Gesture,
        T::Magnify,
        T::Swipe,
        T::Rotate,
        T::BeginGesture,
        T::EndGesture,
        T::SmartMagnify,
        T::Pressure,
        T::QuickLook,
        T::DirectTouch,
    };
    return types;
}

void UserInteractionPausableWindow::sendEvent(const NSEvent& event) {
    if (!userInteractionEnabled_) {
        const auto& paused = pausedEventTypes();
        if (std::find(paused.begin(), paused.end(), event.type()) != paused.end()) return;
    }
    NSWindow::sendEvent(event);
}

bool UserInteractionPausableWindow::respondsToSelector(std::string_view selector) const {
    if (selector == "toggleToolbarShown:") return false;
    return NSWindow::respondsToSelector(selector);
}
