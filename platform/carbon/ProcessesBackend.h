#pragma once
// The process manager's two backends, the simulated desktop and an X11 display: which processes
// run as applications there.
#include <sys/types.h>

class ProcessesBackend {
  public:
    virtual ~ProcessesBackend() = default;
    virtual bool hasApplication(pid_t pid) = 0;

    // The X11 display's while the process is connected to one, else the simulated desktop's.
    static ProcessesBackend& current();
};

ProcessesBackend& simulatedProcesses();
ProcessesBackend& x11Processes();
