#include "platform/windowserver/CGEventTap_simulated.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/windowserver/SimulatedDesktop.h"

struct CGEvent {
    CGEventType type;
    uint16_t keyCode;
    CGEventFlags flags;
};
struct CFRunLoop {};
struct CFRunLoopSource {
    CFMachPort* port;
    CFRunLoop* loop = nullptr;
};
struct CFMachPort {
    CGEventTapOptions options;
    CGEventMask mask;
    CGEventTapCallBack callback;
    void* userInfo;
    bool enabled = true;
    bool valid = true;
    CFRunLoopSource* source = nullptr;
};

namespace {

struct State {
    std::mutex mutex;
    std::vector<CFMachPort*> taps;
};

bool deliverToTaps(const SimulatedInputEvent& input);

State& state() {
    static auto* shared = [] {
        auto* fresh = new State;  // never destroyed: a key may arrive on any thread during exit
        static auto* keyboard = new SimulatedInputSubscription(SimulatedDesktop::shared().subscribeToInput(
            SimulatedDesktop::InputStage::EventTap, &deliverToTaps));
        (void)keyboard;
        return fresh;
    }();
    return *shared;
}

bool isDelivering(const CFMachPort* tap) {
    return tap->valid && tap->enabled && tap->source && tap->source->loop;
}

bool isLive(State& s, const CFMachPort* tap) {
    return std::find(s.taps.begin(), s.taps.end(), tap) != s.taps.end();
}

// Every key event passes the delivering taps in the order they were created; an active tap that
// answers no event ends its way there.
bool deliverToTaps(const SimulatedInputEvent& input) {
    if (input.type != kCGEventKeyDown && input.type != kCGEventKeyUp && input.type != kCGEventFlagsChanged)
        return false;
    State& s = state();
    std::vector<CFMachPort*> candidates;
    {
        std::lock_guard lock(s.mutex);
        for (CFMachPort* tap : s.taps)
            if (isDelivering(tap) && (tap->mask & CGEventMaskBit(input.type))) candidates.push_back(tap);
    }
    CGEvent event{input.type, input.keyCode, input.modifierFlags};
    for (CFMachPort* tap : candidates) {
        CGEventTapCallBack callback;
        void* userInfo;
        CGEventTapOptions options;
        {
            // A tap invalidated by an earlier callback hears nothing more.
            std::lock_guard lock(s.mutex);
            if (!isLive(s, tap) || !isDelivering(tap)) continue;
            callback = tap->callback;
            userInfo = tap->userInfo;
            options = tap->options;
        }
        CGEventRef passed = callback(nullptr, event.type, &event, userInfo);
        if (!passed && options == kCGEventTapOptionDefault) return true;
    }
    return false;
}

}  // namespace

CGEventType CGEventGetType(CGEventRef event) {
    return event ? event->type : 0;
}

int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field) {
    return event && field == kCGKeyboardEventKeycode ? event->keyCode : 0;
}

CGEventFlags CGEventGetFlags(CGEventRef event) {
    return event ? event->flags : 0;
}

CFMachPortRef CGEventTapCreate(CGEventTapLocation, CGEventTapPlacement, CGEventTapOptions options,
                               CGEventMask mask, CGEventTapCallBack callback, void* userInfo) {
    if (!callback || !SimulatedDesktop::shared().trusted()) return nullptr;
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.taps.push_back(new CFMachPort{options, mask, callback, userInfo});
    return s.taps.back();
}

namespace {
// Sets a flag of a tap that is still there; a released one is left alone.
void setTapFlag(CFMachPortRef tap, bool CFMachPort::*flag, bool value) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (tap && isLive(s, tap)) tap->*flag = value;
}
}  // namespace

void CGEventTapEnable(CFMachPortRef tap, bool enable) {
    setTapFlag(tap, &CFMachPort::enabled, enable);
}

bool CGEventTapIsEnabled(CFMachPortRef tap) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return tap && isLive(s, tap) && tap->enabled;
}

void CFMachPortInvalidate(CFMachPortRef port) {
    setTapFlag(port, &CFMachPort::valid, false);
}

void CFRelease(CFMachPortRef port) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!port || !isLive(s, port)) return;
    std::erase(s.taps, port);
    if (port->source) port->source->port = nullptr;
    delete port;
}

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(const void*, CFMachPortRef port, long) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!port || !isLive(s, port) || port->source) return nullptr;
    port->source = new CFRunLoopSource{port};
    return port->source;
}

void CFRelease(CFRunLoopSourceRef source) {
    if (!source) return;
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (source->port) source->port->source = nullptr;
    delete source;
}

CFRunLoopRef CFRunLoopGetMain() {
    static CFRunLoop main;
    return &main;
}

CFRunLoopRef CFRunLoopGetCurrent() {
    return CFRunLoopGetMain();
}

void CFRunLoopAddSource(CFRunLoopRef loop, CFRunLoopSourceRef source, const char*) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (source) source->loop = loop;
}

void CFRunLoopRemoveSource(CFRunLoopRef loop, CFRunLoopSourceRef source, const char*) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (source && source->loop == loop) source->loop = nullptr;
}

namespace SimulatedEventTaps {

void postTapDisabled(CGEventType type) {
    State& s = state();
    std::vector<CFMachPort*> live;
    {
        std::lock_guard lock(s.mutex);
        for (CFMachPort* tap : s.taps) {
            if (!tap->valid) continue;
            tap->enabled = false;
            live.push_back(tap);
        }
    }
    CGEvent notice{type, 0, 0};
    for (CFMachPort* tap : live) {
        CGEventTapCallBack callback;
        void* userInfo;
        {
            std::lock_guard lock(s.mutex);
            if (!isLive(s, tap) || !tap->valid) continue;
            callback = tap->callback;
            userInfo = tap->userInfo;
        }
        callback(nullptr, type, &notice, userInfo);
    }
}

std::shared_ptr<CGEvent> makeKeyEvent(CGEventType type, uint16_t keyCode, CGEventFlags flags) {
    return std::make_shared<CGEvent>(CGEvent{type, keyCode, flags});
}

size_t liveTapCount() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.taps.size();
}

}  // namespace SimulatedEventTaps
