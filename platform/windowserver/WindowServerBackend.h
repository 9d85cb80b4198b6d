#pragma once
// The window server's two backends, the simulated desktop and an X11 display: what each reports of
// its windows and displays. CGWindow.cpp asks the one in use and builds the platform's answers.
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/windowserver/CGWindow.h"

struct WindowServerWindow {
    CGWindowID number = 0;
    pid_t ownerPid = 0;
    std::string ownerName;
    int layer = 0;
    CGRect bounds;
    bool onScreen = true;  // neither minimised nor on another workspace
};

struct WindowServerDisplay {
    CGDirectDisplayID id = 0;
    CGRect bounds;
};

class WindowServerBackend {
  public:
    virtual ~WindowServerBackend() = default;
    // Front to back.
    virtual std::vector<WindowServerWindow> windows() = 0;
    // The main display first.
    virtual std::vector<WindowServerDisplay> displays() = 0;

    // The X11 display's while the process is connected to one, else the simulated desktop's.
    static WindowServerBackend& current();
};

WindowServerBackend& simulatedWindowServer();
WindowServerBackend& x11WindowServer();
