#include "platform/appkit/NSEvent.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/appkit/NSObject.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWindow.h"
#include "platform/foundation/SharedInstance.h"

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
                                           const std::shared_ptr<NSWindow>& window,
                                           std::optional<std::string> charactersIgnoringModifiers) {
    auto e = std::make_shared<NSEvent>(type);
    e->keyCode_ = keyCode;
    e->charactersIgnoringModifiers_ = charactersIgnoringModifiers.value_or(characters);
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

namespace {

class LocalMonitor : public NSObject {
  public:
    LocalMonitor(NSEventMask mask, NSEvent::LocalMonitorHandler handler)
        : mask(mask), handler(std::move(handler)) {}
    NSEventMask mask;
    NSEvent::LocalMonitorHandler handler;
};

std::atomic<NSEventModifierFlags>& currentFlags() {
    static std::atomic<NSEventModifierFlags>* flags = [] {
        auto* fresh = new std::atomic<NSEventModifierFlags>(0);  // never destroyed: read during exit
        registerResetForTesting([] { NSEvent::setCurrentModifierFlags(0); });
        return fresh;
    }();
    return *flags;
}

std::vector<std::shared_ptr<LocalMonitor>>& monitors() {
    static std::vector<std::shared_ptr<LocalMonitor>> list;
    return list;
}

}  // namespace

NSEventModifierFlags NSEvent::currentModifierFlags() {
    return currentFlags().load();
}

void NSEvent::setCurrentModifierFlags(NSEventModifierFlags flags) {
    currentFlags().store(flags);
}

std::shared_ptr<NSObject> NSEvent::addLocalMonitorForEventsMatchingMask(NSEventMask mask,
                                                                        LocalMonitorHandler handler) {
    auto monitor = std::make_shared<LocalMonitor>(mask, std::move(handler));
    monitors().push_back(monitor);
    return monitor;
}

void NSEvent::removeMonitor(const std::shared_ptr<NSObject>& monitor) {
    std::erase_if(monitors(), [&](const std::shared_ptr<LocalMonitor>& m) { return m == monitor; });
}

size_t NSEvent::localMonitorCount() {
    return monitors().size();
}

std::shared_ptr<NSEvent> NSEvent::runLocalMonitors(std::shared_ptr<NSEvent> event) {
    // A handler may add or remove monitors; the ones present when the event arrived see it.
    auto snapshot = monitors();
    for (const auto& monitor : snapshot) {
        if (!event) break;
        if (!(monitor->mask & NSEventMaskFromType(event->type()))) continue;
        bool stillInstalled = std::find(monitors().begin(), monitors().end(), monitor) != monitors().end();
        if (stillInstalled) event = monitor->handler(event);
    }
    return event;
}
