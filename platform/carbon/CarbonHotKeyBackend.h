#pragma once
// Carbon hot keys' two backends, the simulated desktop's keyboard and an X11 display's. A backend
// reserves the keys of each hot key with its desktop and hands the presses of reserved keys to
// CarbonHotKeys, which delivers them to the handlers on the main run loop.
#include <cstdint>

#include "platform/carbon/MacTypes.h"

class HotKeyBackend {
  public:
    virtual ~HotKeyBackend() = default;
    // `modifiers` are Carbon modifier bits (⌘ 0x100, ⇧ 0x200, ⌥ 0x800, ⌃ 0x1000).
    // eventHotKeyExistsErr when another client of the desktop holds the keys.
    virtual OSStatus reserve(uint32_t keyCode, uint32_t modifiers) = 0;
    virtual void release(uint32_t keyCode, uint32_t modifiers) = 0;

    // The X11 display's while the process is connected to one, else the simulated desktop's.
    static HotKeyBackend& current();
};

HotKeyBackend& simulatedHotKeys();
HotKeyBackend& x11HotKeys();

namespace CarbonHotKeys {
// A key went down with these Carbon modifiers: true when it is a hot key's, whose press is then
// delivered. Any thread.
bool keyDown(uint16_t keyCode, uint32_t modifiers);
// The release of a key whose press a hot key took: true when it was one.
bool keyUp(uint16_t keyCode);
}  // namespace CarbonHotKeys
