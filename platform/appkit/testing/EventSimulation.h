#pragma once
// Drives windows with mouse and key events as a person would, for tests. Points are in the
// window's coordinates (origin bottom-left) unless they are called global.
#include <memory>
#include <string>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSView.h"
#include "platform/appkit/NSWindow.h"
#include "platform/foundation/Unicode.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace simulate {

// Every event goes into the desktop's input stream, as real input does: hotkeys see it first, then
// the application (its local monitors, then the window). True when one of them took it.
inline bool post(NSEventType type, NSEventModifierFlags flags, uint16_t keyCode, std::string characters,
                 CGPoint location, const std::shared_ptr<NSWindow>& window) {
    NSApplication::sharedApplication();  // an application to receive it
    SimulatedInputEvent input;
    input.type = static_cast<uint32_t>(type);
    input.modifierFlags = flags;
    input.keyCode = keyCode;
    input.characters = std::move(characters);
    input.location = location;
    input.windowNumber = window ? window->windowNumber() : 0;
    return SimulatedDesktop::shared().postInput(input);
}

inline void send(const std::shared_ptr<NSWindow>& window, NSEventType type, CGPoint at,
                 NSEventModifierFlags flags = 0) {
    post(type, flags, 0, "", at, window);
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
    post(NSEventType::KeyDown, flags, keyCode, std::move(characters), {}, window);
}

// A key pressed while no window of this process takes keys: true when a hotkey consumed it.
inline bool pressKey(uint16_t keyCode, NSEventModifierFlags flags) {
    return post(NSEventType::KeyDown, flags, keyCode, "", {}, nullptr);
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
    post(type, 0, 0, "", global, nullptr);
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
