#include <atomic>

#include "platform/network/NetworkPath.h"

namespace {
std::atomic<bool> installed{false};
std::atomic<NetworkReachabilityFlags> simulated{0};
}  // namespace

bool NetworkPath::simulatedFlags(NetworkReachabilityFlags* flags) {
    if (!installed.load()) return false;
    *flags = simulated.load();
    return true;
}

void SimulatedNetwork::install(NetworkReachabilityFlags flags) {
    simulated.store(flags);
    installed.store(true);
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
