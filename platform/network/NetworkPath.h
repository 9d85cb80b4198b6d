#pragma once
// Inside platform/network only: the process-wide network path behind every reachability reference,
// and the hooks between it and its two backends (the machine's interfaces, the simulated network).
#include "platform/network/Reachability.h"

namespace NetworkPath {
// The flags of the path from the backend in use.
NetworkReachabilityFlags currentFlags();
// Backends call this whenever the path may have changed; scheduled references are called back.
void changed();

// The machine's backend: its flags now, and a watch of the interfaces that calls changed().
NetworkReachabilityFlags systemFlags();
void startSystemWatch();
void stopSystemWatch();

// The simulated backend: its flags while installed.
bool simulatedFlags(NetworkReachabilityFlags* flags);
}  // namespace NetworkPath
