#include "platform/carbon/CarbonEvents_simulated.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/windowserver/SimulatedDesktop.h"

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
// The keyboard's event types and modifier flags, as the window server posts them.
constexpr uint32_t kKeyDown = 10;
constexpr uint32_t kKeyUp = 11;
constexpr uint64_t kShiftFlag = 0x20000;
constexpr uint64_t kControlFlag = 0x40000;
constexpr uint64_t kOptionFlag = 0x80000;
constexpr uint64_t kCommandFlag = 0x100000;

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

bool handleKey(const SimulatedInputEvent& input);

State& state() {
    static auto* shared = [] {
        auto* fresh = new State;  // never destroyed: a key may arrive on any thread during exit
        registerResetForTesting(&SimulatedCarbonEvents::reset);
        // Hot keys belong to the session: they see every key before any application does.
        static auto* keyboard = new SimulatedInputSubscription(
            SimulatedDesktop::shared().subscribeToInput(SimulatedDesktop::InputStage::Session, &handleKey));
        (void)keyboard;
        return fresh;
    }();
    return *shared;
}

uint32_t carbonModifiers(uint64_t cocoaFlags) {
    uint32_t carbon = 0;
    if (cocoaFlags & kCommandFlag) carbon |= 0x0100;
    if (cocoaFlags & kShiftFlag) carbon |= 0x0200;
    if (cocoaFlags & kOptionFlag) carbon |= 0x0800;
    if (cocoaFlags & kControlFlag) carbon |= 0x1000;
    return carbon;
}

void deliver(uint32_t kind, EventHotKeyID hotKeyID) {
    auto event = std::make_shared<OpaqueEventRef>(OpaqueEventRef{kEventClassKeyboard, kind, hotKeyID});
    DispatchQueue::main()->async([event] { SimulatedCarbonEvents::dispatch(event.get()); });
}

// A press of a registered hot key is the hot key's alone; so is its release.
bool handleKey(const SimulatedInputEvent& input) {
    State& s = state();
    std::unique_lock lock(s.mutex);
    if (input.type == kKeyDown) {
        const uint32_t modifiers = carbonModifiers(input.modifierFlags);
        for (const auto& hotKey : s.hotKeys) {
            if (hotKey->hotKey.keyCode != input.keyCode ||
                (hotKey->hotKey.modifiers & kCarbonModifierKeys) != modifiers)
                continue;
            const EventHotKeyID id = hotKey->hotKey.hotKeyID;
            s.pressed.emplace_back(input.keyCode, id);
            lock.unlock();
            deliver(kEventHotKeyPressed, id);
            return true;
        }
    } else if (input.type == kKeyUp) {
        auto held = std::find_if(s.pressed.begin(), s.pressed.end(),
                                 [&](const auto& entry) { return entry.first == input.keyCode; });
        if (held != s.pressed.end()) {
            const EventHotKeyID id = held->second;
            s.pressed.erase(held);
            lock.unlock();
            deliver(kEventHotKeyReleased, id);
            return true;
        }
    }
    return false;
}

}  // namespace

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
    return removeRecord(&State::hotKeys, &State::unregisterStatus, hotKey, eventHotKeyInvalidErr);
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
    s.hotKeys.clear();
    s.handlers.clear();
    s.pressed.clear();
    s.registerStatus = s.unregisterStatus = s.installStatus = s.removeStatus = noErr;
}

}  // namespace SimulatedCarbonEvents
