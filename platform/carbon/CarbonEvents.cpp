#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/carbon/CarbonEvents_simulated.h"
#include "platform/carbon/CarbonHotKeyBackend.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/windowserver/X11Desktop.h"

struct OpaqueEventRef {
    OSType eventClass;
    uint32_t eventKind;
    std::optional<EventHotKeyID> hotKeyID;
};
struct OpaqueEventTargetRef {};
struct OpaqueEventHotKeyRef {
    SimulatedCarbonEvents::HotKey hotKey;
};
struct OpaqueEventHandlerRef {
    EventHandlerUPP handler;
    std::vector<EventTypeSpec> types;
    void* userData;
};

namespace {

constexpr uint32_t kCarbonModifierKeys = 0x1B00;  // Command, Shift, Option, Control

struct State {
    std::mutex mutex;
    std::vector<std::unique_ptr<OpaqueEventHotKeyRef>> hotKeys;
    std::vector<std::unique_ptr<OpaqueEventHandlerRef>> handlers;
    std::vector<std::pair<uint16_t, EventHotKeyID>> pressed;  // key code, hot key held down
    OSStatus registerStatus = noErr;
    OSStatus unregisterStatus = noErr;
    OSStatus installStatus = noErr;
    OSStatus removeStatus = noErr;
};

State& state() {
    static auto* shared = [] {
        auto* fresh = new State;  // never destroyed: a key may arrive on any thread during exit
        registerResetForTesting(&SimulatedCarbonEvents::reset);
        return fresh;
    }();
    return *shared;
}

void deliver(uint32_t kind, EventHotKeyID hotKeyID) {
    auto event = std::make_shared<OpaqueEventRef>(OpaqueEventRef{kEventClassKeyboard, kind, hotKeyID});
    DispatchQueue::main()->async([event] { SimulatedCarbonEvents::dispatch(event.get()); });
}

}  // namespace

// A press of a registered hot key is the hot key's alone; so is its release.
bool CarbonHotKeys::keyDown(uint16_t keyCode, uint32_t modifiers) {
    State& s = state();
    std::unique_lock lock(s.mutex);
    for (const auto& hotKey : s.hotKeys) {
        if (hotKey->hotKey.keyCode != keyCode ||
            (hotKey->hotKey.modifiers & kCarbonModifierKeys) != (modifiers & kCarbonModifierKeys))
            continue;
        const EventHotKeyID id = hotKey->hotKey.hotKeyID;
        s.pressed.emplace_back(keyCode, id);
        lock.unlock();
        deliver(kEventHotKeyPressed, id);
        return true;
    }
    return false;
}

bool CarbonHotKeys::keyUp(uint16_t keyCode) {
    State& s = state();
    std::unique_lock lock(s.mutex);
    auto held = std::find_if(s.pressed.begin(), s.pressed.end(),
                             [&](const auto& entry) { return entry.first == keyCode; });
    if (held == s.pressed.end()) return false;
    const EventHotKeyID id = held->second;
    s.pressed.erase(held);
    lock.unlock();
    deliver(kEventHotKeyReleased, id);
    return true;
}

HotKeyBackend& HotKeyBackend::current() {
    return X11Desktop::current() ? x11HotKeys() : simulatedHotKeys();
}

EventTargetRef GetApplicationEventTarget() {
    static OpaqueEventTargetRef application;
    return &application;
}

OSStatus RegisterEventHotKey(uint32_t keyCode, uint32_t modifiers, EventHotKeyID hotKeyID,
                             EventTargetRef target, OptionBits, EventHotKeyRef* outRef) {
    if (!outRef || target != GetApplicationEventTarget()) return paramErr;
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.registerStatus != noErr) return s.registerStatus;
    for (const auto& hotKey : s.hotKeys) {
        if (hotKey->hotKey.keyCode == keyCode &&
            (hotKey->hotKey.modifiers & kCarbonModifierKeys) == (modifiers & kCarbonModifierKeys))
            return eventHotKeyExistsErr;
    }
    if (OSStatus reserved = HotKeyBackend::current().reserve(keyCode, modifiers & kCarbonModifierKeys))
        return reserved;
    s.hotKeys.push_back(
        std::make_unique<OpaqueEventHotKeyRef>(OpaqueEventHotKeyRef{{keyCode, modifiers, hotKeyID}}));
    *outRef = s.hotKeys.back().get();
    return noErr;
}

namespace {
// Ends a record the caller was handed: the injected status if there is one, `unknown` for a record
// that is not (or no longer) there.
template <class T>
OSStatus removeRecord(std::vector<std::unique_ptr<T>> State::*records, OSStatus State::*injected,
                      const T* record, OSStatus unknown) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.*injected != noErr) return s.*injected;
    auto& list = s.*records;
    auto found =
        std::find_if(list.begin(), list.end(), [&](const auto& entry) { return entry.get() == record; });
    if (found == list.end()) return unknown;
    list.erase(found);
    return noErr;
}
}  // namespace

OSStatus UnregisterEventHotKey(EventHotKeyRef hotKey) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.unregisterStatus != noErr) return s.unregisterStatus;
    auto found = std::find_if(s.hotKeys.begin(), s.hotKeys.end(),
                              [&](const auto& entry) { return entry.get() == hotKey; });
    if (found == s.hotKeys.end()) return eventHotKeyInvalidErr;
    HotKeyBackend::current().release((*found)->hotKey.keyCode,
                                     (*found)->hotKey.modifiers & kCarbonModifierKeys);
    s.hotKeys.erase(found);
    return noErr;
}

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef) {
    if (!handler || target != GetApplicationEventTarget() || (numTypes && !list)) return paramErr;
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.installStatus != noErr) return s.installStatus;
    s.handlers.push_back(std::make_unique<OpaqueEventHandlerRef>(
        OpaqueEventHandlerRef{handler, std::vector<EventTypeSpec>(list, list + numTypes), userData}));
    if (outRef) *outRef = s.handlers.back().get();
    return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef handler) {
    return removeRecord(&State::handlers, &State::removeStatus, handler, paramErr);
}

OSType GetEventClass(EventRef event) {
    return event ? event->eventClass : 0;
}

uint32_t GetEventKind(EventRef event) {
    return event ? event->eventKind : 0;
}

OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType,
                           EventParamType* outActualType, ByteCount bufferSize, ByteCount* outActualSize,
                           void* outData) {
    if (!event || !outData) return paramErr;
    if (name != kEventParamDirectObject || !event->hotKeyID) return eventParameterNotFoundErr;
    if (desiredType != typeEventHotKeyID || bufferSize < sizeof(EventHotKeyID)) return paramErr;
    std::memcpy(outData, &*event->hotKeyID, sizeof(EventHotKeyID));
    if (outActualType) *outActualType = typeEventHotKeyID;
    if (outActualSize) *outActualSize = sizeof(EventHotKeyID);
    return noErr;
}

namespace SimulatedCarbonEvents {

namespace {
class OwnedEvent : public Event {
  public:
    explicit OwnedEvent(OpaqueEventRef event) : event_(event) {}
    EventRef ref() override { return &event_; }

  private:
    OpaqueEventRef event_;
};

void inject(OSStatus State::*injected, OSStatus status) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.*injected = status;
}

bool isInstalled(State& s, const OpaqueEventHandlerRef* handler) {
    std::lock_guard lock(s.mutex);
    return std::any_of(s.handlers.begin(), s.handlers.end(),
                       [&](const auto& entry) { return entry.get() == handler; });
}
}  // namespace

std::unique_ptr<Event> makeEvent(OSType eventClass, uint32_t eventKind,
                                 std::optional<EventHotKeyID> hotKeyID) {
    return std::make_unique<OwnedEvent>(OpaqueEventRef{eventClass, eventKind, hotKeyID});
}

OSStatus dispatch(EventRef event) {
    State& s = state();
    std::vector<const OpaqueEventHandlerRef*> candidates;
    {
        std::lock_guard lock(s.mutex);
        for (auto it = s.handlers.rbegin(); it != s.handlers.rend(); ++it) {
            const auto& types = (*it)->types;
            if (std::any_of(types.begin(), types.end(), [&](const EventTypeSpec& type) {
                    return type.eventClass == event->eventClass && type.eventKind == event->eventKind;
                }))
                candidates.push_back(it->get());
        }
    }
    for (const auto* handler : candidates) {
        // A handler may remove another one (or itself) while the event goes round.
        if (!isInstalled(s, handler)) continue;
        OSStatus status = handler->handler(nullptr, event, handler->userData);
        if (status != eventNotHandledErr) return status;
    }
    return eventNotHandledErr;
}

std::vector<HotKey> registeredHotKeys() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    std::vector<HotKey> out;
    for (const auto& hotKey : s.hotKeys) out.push_back(hotKey->hotKey);
    return out;
}

size_t installedHandlerCount() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.handlers.size();
}

void setRegisterStatus(OSStatus status) {
    inject(&State::registerStatus, status);
}

void setUnregisterStatus(OSStatus status) {
    inject(&State::unregisterStatus, status);
}

void setInstallStatus(OSStatus status) {
    inject(&State::installStatus, status);
}

void setRemoveStatus(OSStatus status) {
    inject(&State::removeStatus, status);
}

void reset() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    for (const auto& hotKey : s.hotKeys)
        HotKeyBackend::current().release(hotKey->hotKey.keyCode,
                                         hotKey->hotKey.modifiers & kCarbonModifierKeys);
    s.hotKeys.clear();
    s.handlers.clear();
    s.pressed.clear();
    s.registerStatus = s.unregisterStatus = s.installStatus = s.removeStatus = noErr;
}

}  // namespace SimulatedCarbonEvents
