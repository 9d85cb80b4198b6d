#pragma once
// Test controls of the simulated event taps.
#include <cstddef>

#include "platform/windowserver/CGEventTap.h"

namespace SimulatedEventTaps {
// The system disables every live tap and tells its callback with `type`.
void postTapDisabled(CGEventType type);
// Taps created and not yet released.
size_t liveTapCount();
}  // namespace SimulatedEventTaps
