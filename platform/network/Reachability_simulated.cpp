#include "platform/network/Reachability_simulated.h"

#include <atomic>

#include "platform/network/NetworkPath.h"

namespace {
std::atomic<bool> installed{false};
std::atomic<NetworkReachabilityFlags> simulated{0};
std::atomic<bool> loopbackSeparate{false};
std::atomic<NetworkReachabilityFlags> simulatedLoopback{0};
}  // namespace

bool NetworkPath::simulatedFlags(bool loopback, NetworkReachabilityFlags* flags) {
    if (!installed.load()) return false;
    *flags = loopback && loopbackSeparate.load() ? simulatedLoopback.load() : simulated.load();
    return true;
}

void SimulatedNetwork::install(NetworkReachabilityFlags flags) {
    simulated.store(flags);
    loopbackSeparate.store(false);
    installed.store(true);
    NetworkPath::changed();
}

void SimulatedNetwork::setLoopbackFlags(NetworkReachabilityFlags flags) {
    simulatedLoopback.store(flags);
    loopbackSeparate.store(true);
    NetworkPath::changed();
}

void SimulatedNetwork::setFlags(NetworkReachabilityFlags flags) {
    simulated.store(flags);
    NetworkPath::changed();
}

void SimulatedNetwork::uninstall() {
    installed.store(false);
    NetworkPath::changed();
}
