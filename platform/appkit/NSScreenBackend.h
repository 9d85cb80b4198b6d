#pragma once
// The screens' two backends, the simulated desktop and an X11 display: the attached screens in
// window-server points and a word when they change. NSScreen.cpp turns them into screens.
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/foundation/Geometry.h"

struct ScreenRecord {
    uint32_t displayID = 0;
    CGRect bounds;   // global window-server points: origin at the top-left of the first, y down
    CGRect visible;  // the part the menu bar, docks and panels leave
};

class NSScreenBackend {
  public:
    virtual ~NSScreenBackend() = default;
    // The primary screen first.
    virtual std::vector<ScreenRecord> screens() = 0;
    // `changed` runs after screens were attached or removed, on any thread.
    virtual uint64_t addObserver(std::function<void()> changed) = 0;
    virtual void removeObserver(uint64_t token) = 0;

    // The X11 display's while the process is connected to one, else the simulated desktop's.
    static NSScreenBackend& current();
};

NSScreenBackend& simulatedScreens();
NSScreenBackend& x11Screens();
