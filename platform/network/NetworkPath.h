#pragma once
// Inside platform/network only: the process-wide network path behind every reachability reference,
// and the hooks between it and its two backends (the machine's interfaces, the simulated network).
#include "platform/network/Reachability.h"

struct ifaddrs;

namespace NetworkPath {
// The flags of the path, or of the loopback path, from the backend in use.
NetworkReachabilityFlags currentFlags(bool loopback);
// Backends call this whenever the path may have changed; scheduled references are called back.
void changed();

// The machine's backend: its flags now, and a watch of the interfaces that calls changed().
NetworkReachabilityFlags systemFlags(bool loopback);
// The flags that a list of interfaces gives, as getifaddrs() reports them.
NetworkReachabilityFlags flagsForInterfaces(const ifaddrs* interfaces, bool loopback);
void startSystemWatch();
void stopSystemWatch();

// The simulated backend: its flags while installed.
bool simulatedFlags(bool loopback, NetworkReachabilityFlags* flags);
}  // namespace NetworkPath
