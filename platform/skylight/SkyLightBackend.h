#pragma once
// The process interface's two backends, the simulated desktop and an X11 display. SkyLight.cpp
// reads the event records and tells the one in use what they ask for.
#include <sys/types.h>

#include "platform/skylight/SkyLight.h"

class SkyLightBackend {
  public:
    virtual ~SkyLightBackend() = default;
    // Makes `pid` frontmost with `window` in front when it is one of its windows.
    virtual void setFrontProcess(pid_t pid, CGWindowID window, uint32_t options) = 0;
    // Every record posted, before it takes effect.
    virtual void posted(pid_t pid, CGWindowID window, const SLPSEventRecord& record) = 0;
    // The pair of make-key records for `window` of `pid` has arrived.
    virtual void makeKeyWindow(pid_t pid, CGWindowID window) = 0;

    // The X11 display's while the process is connected to one, else the simulated desktop's.
    static SkyLightBackend& current();
};

SkyLightBackend& simulatedSkyLight();
SkyLightBackend& x11SkyLight();
