#pragma once
// Test controls of the simulated system shortcuts. resetAllForTesting() (and reset()) empty the
// list and make it readable again.
#include <vector>

#include "platform/carbon/SymbolicHotKeys.h"

namespace SimulatedSymbolicHotKeys {
void setHotKeys(std::vector<Value> hotKeys);
// Every CopySymbolicHotKeys answers `status` until it is set back to noErr.
void setReadStatus(OSStatus status);
void reset();
}  // namespace SimulatedSymbolicHotKeys
