#include "platform/appkit/NSEvent.h"

#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWindow.h"

std::shared_ptr<NSEvent> NSEvent::mouseEvent(NSEventType type, CGPoint locationInWindow,
                                             const std::shared_ptr<NSWindow>& window,
                                             NSEventModifierFlags modifierFlags, int clickCount) {
    auto e = std::make_shared<NSEvent>(type);
    e->location_ = locationInWindow;
    e->window_ = window;
    e->modifierFlags_ = modifierFlags;
    e->clickCount_ = clickCount;
    // The window server counts y downwards from the top of the primary screen.
    auto screens = NSScreen::screens();
    if (window && !screens.empty()) {
        CGPoint onScreen = window->convertPointToScreen(locationInWindow);
        e->cgLocation_ = CGPoint{onScreen.x, screens.front()->frame().maxY() - onScreen.y};
    }
    return e;
}

std::shared_ptr<NSEvent> NSEvent::keyEvent(NSEventType type, uint16_t keyCode, std::string characters,
                                           NSEventModifierFlags modifierFlags,
                                           const std::shared_ptr<NSWindow>& window) {
    auto e = std::make_shared<NSEvent>(type);
    e->keyCode_ = keyCode;
    e->characters_ = std::move(characters);
    e->modifierFlags_ = modifierFlags;
    e->window_ = window;
    return e;
}

std::shared_ptr<NSEvent> NSEvent::enterExitEvent(NSEventType type, CGPoint locationInWindow,
                                                 const std::shared_ptr<NSTrackingArea>& area,
                                                 const std::shared_ptr<NSWindow>& window) {
    auto e = std::make_shared<NSEvent>(type);
    e->location_ = locationInWindow;
    e->trackingArea_ = area;
    e->window_ = window;
    return e;
}
