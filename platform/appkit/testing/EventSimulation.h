#pragma once
// Drives a window with mouse and key events as a person would, for tests. Points are in the
// window's coordinates (origin bottom-left).
#include <memory>
#include <string>

#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSView.h"
#include "platform/appkit/NSWindow.h"

namespace simulate {

inline void send(const std::shared_ptr<NSWindow>& window, NSEventType type, CGPoint at,
                 NSEventModifierFlags flags = 0) {
    window->sendEvent(*NSEvent::mouseEvent(type, at, window, flags));
}

inline void moveMouse(const std::shared_ptr<NSWindow>& window, CGPoint at) {
    send(window, NSEventType::MouseMoved, at);
}

inline void click(const std::shared_ptr<NSWindow>& window, CGPoint at) {
    send(window, NSEventType::LeftMouseDown, at);
    send(window, NSEventType::LeftMouseUp, at);
}

inline void rightClick(const std::shared_ptr<NSWindow>& window, CGPoint at) {
    send(window, NSEventType::RightMouseDown, at);
    send(window, NSEventType::RightMouseUp, at);
}

inline void drag(const std::shared_ptr<NSWindow>& window, CGPoint from, CGPoint to) {
    send(window, NSEventType::LeftMouseDown, from);
    send(window, NSEventType::LeftMouseDragged, to);
    send(window, NSEventType::LeftMouseUp, to);
}

inline void keyDown(const std::shared_ptr<NSWindow>& window, uint16_t keyCode, std::string characters,
                    NSEventModifierFlags flags = 0) {
    window->sendEvent(*NSEvent::keyEvent(NSEventType::KeyDown, keyCode, std::move(characters), flags, window));
}

// The centre of `view` in its window's coordinates.
inline CGPoint centerOf(const NSView& view) {
    CGRect b = view.bounds();
    return view.convertPointToView({b.midX(), b.midY()}, nullptr);
}

}  // namespace simulate
