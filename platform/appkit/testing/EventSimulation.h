#pragma once
// Drives a window with mouse and key events as a person would, for tests. Points are in the
// window's coordinates (origin bottom-left).
#include <memory>
#include <string>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSView.h"
#include "platform/appkit/NSWindow.h"
#include "platform/foundation/Unicode.h"

namespace simulate {

// Events go through the application, as real input does: local monitors see them first.
inline void send(const std::shared_ptr<NSWindow>& window, NSEventType type, CGPoint at,
                 NSEventModifierFlags flags = 0) {
    NSApplication::sharedApplication()->sendEvent(NSEvent::mouseEvent(type, at, window, flags));
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
    window->sendEvent(
        *NSEvent::keyEvent(NSEventType::KeyDown, keyCode, std::move(characters), flags, window));
}

// The centre of `view` in its window's coordinates.
inline CGPoint centerOf(const NSView& view) {
    CGRect b = view.bounds();
    return view.convertPointToView({b.midX(), b.midY()}, nullptr);
}

// The pointer at `global` (window-server coordinates: top-left of the primary screen, y down), as
// the application receives it: an event of `type` for the front window under the pointer (or for
// no window), through the local monitors first.
inline void pointerEvent(NSEventType type, CGPoint global) {
    auto screens = NSScreen::screens();
    CGFloat primaryTop = screens.empty() ? 0 : screens.front()->frame().maxY();
    CGPoint onScreen{global.x, primaryTop - global.y};
    std::shared_ptr<NSWindow> under;
    for (const auto& window : NSWindow::orderedWindows()) {
        if (CGRectContainsPoint(window->frame(), onScreen)) {
            under = window;
            break;
        }
    }
    auto event = NSEvent::mouseEvent(type, under ? under->convertPointFromScreen(onScreen) : onScreen, under);
    event->setCGEventLocation(global);
    NSApplication::sharedApplication()->sendEvent(event);
}

inline void movePointer(CGPoint global) {
    pointerEvent(NSEventType::MouseMoved, global);
}

inline void clickAtPointer(CGPoint global) {
    pointerEvent(NSEventType::LeftMouseDown, global);
    pointerEvent(NSEventType::LeftMouseUp, global);
}

// Types `text` into the window's first responder, one key event per character.
inline void type(const std::shared_ptr<NSWindow>& window, const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        size_t start = i;
        decodeUtf8(text, i);
        keyDown(window, 0, text.substr(start, i - start));
    }
}

}  // namespace simulate
