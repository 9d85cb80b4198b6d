#pragma once
#include "platform/network/Reachability.h"

// While installed, the network path of the process is simulated and its flags are set by hand.
// The loopback path follows the same flags until it is given flags of its own.
namespace SimulatedNetwork {
void install(NetworkReachabilityFlags flags = NetworkReachabilityFlag::Reachable);
void setFlags(NetworkReachabilityFlags flags);
void setLoopbackFlags(NetworkReachabilityFlags flags);
void uninstall();

class Scoped {
  public:
    explicit Scoped(NetworkReachabilityFlags flags = NetworkReachabilityFlag::Reachable) { install(flags); }
    ~Scoped() { uninstall(); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
};
}  // namespace SimulatedNetwork
