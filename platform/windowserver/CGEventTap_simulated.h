#pragma once
// Test controls of the simulated event taps.
#include <cstddef>
#include <memory>

#include "platform/windowserver/CGEventTap.h"

namespace SimulatedEventTaps {
// The system disables every live tap and tells its callback with `type`.
void postTapDisabled(CGEventType type);
// A key event as the session hands it to taps, for calling a tap's handler directly.
std::shared_ptr<CGEvent> makeKeyEvent(CGEventType type, uint16_t keyCode, CGEventFlags flags);
// Taps created and not yet released.
size_t liveTapCount();
}  // namespace SimulatedEventTaps
