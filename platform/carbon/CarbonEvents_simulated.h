#pragma once
// Test controls of the simulated Carbon events. The simulated desktop's keyboard drives the hot
// keys; tests may also build events of their own and hand them to the installed handlers.
#include <memory>
#include <optional>
#include <vector>

#include "platform/carbon/CarbonEvents.h"

namespace SimulatedCarbonEvents {

struct HotKey {
    uint32_t keyCode;
    uint32_t modifiers;
    EventHotKeyID hotKeyID;
};

// An event a test made; the handlers get its EventRef.
class Event {
  public:
    virtual ~Event() = default;
    virtual EventRef ref() = 0;
};
// A keyboard-class event carries the hot-key id when one is given.
std::unique_ptr<Event> makeEvent(OSType eventClass, uint32_t eventKind,
                                 std::optional<EventHotKeyID> hotKeyID = std::nullopt);
// Calls the handlers of the application target for the event's class and kind, newest first, until
// one answers other than eventNotHandledErr; that answer, or eventNotHandledErr.
OSStatus dispatch(EventRef event);

std::vector<HotKey> registeredHotKeys();
size_t installedHandlerCount();

// The next calls of each function answer `status` (and do nothing) until set back to noErr.
void setRegisterStatus(OSStatus status);
void setUnregisterStatus(OSStatus status);
void setInstallStatus(OSStatus status);
void setRemoveStatus(OSStatus status);

// Forgets every hot key, handler and injected status.
void reset();

}  // namespace SimulatedCarbonEvents
