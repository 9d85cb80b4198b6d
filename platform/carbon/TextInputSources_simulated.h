#pragma once
// Test controls of the simulated text input sources: the built-in sources to select, failures to
// inject into UCKeyTranslate, and a count of its calls. resetAllForTesting() (and reset()) select
// the US layout again and clear the injections.
#include <cstddef>

#include "platform/carbon/TextInputSources.h"

namespace SimulatedTextInput {
TISInputSourceRef usLayout();                  // "org.quorvane.keylayout.US", ASCII-capable
TISInputSourceRef qwertzLayout();              // "org.quorvane.keylayout.QWERTZ", ASCII-capable
TISInputSourceRef greekLayout();               // "org.quorvane.keylayout.Greek", not ASCII-capable
TISInputSourceRef inputMethodWithoutLayout();  // "org.quorvane.inputmethod.Kana", no layout data

// Every UCKeyTranslate answers `status` until it is set back to noErr.
void setTranslateStatus(OSStatus status);
// Every UCKeyTranslate succeeds with no units until set back to false.
void setTranslatesToNothing(bool nothing);
size_t translateCallCount();
void setKeyboardType(uint8_t type);

void reset();
}  // namespace SimulatedTextInput
