#pragma once
// Network reachability references: the flags of the network path to an address or a host, and a
// callback whenever they change, delivered on the main run loop while the reference is scheduled.
// Every reference reads one process-wide path: the machine's network interfaces, or, while
// installed, the simulated network that tests drive (Reachability_simulated.h). A loopback host
// (127.0.0.0/8, ::1, "localhost") has a path of its own, the loopback interface, so a server on
// this machine stays reachable without any other network.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

struct sockaddr;
namespace NetworkPath {
void changed();
}

using NetworkReachabilityFlags = uint32_t;

namespace NetworkReachabilityFlag {
inline constexpr NetworkReachabilityFlags TransientConnection = 1u << 0;
inline constexpr NetworkReachabilityFlags Reachable = 1u << 1;
inline constexpr NetworkReachabilityFlags ConnectionRequired = 1u << 2;
inline constexpr NetworkReachabilityFlags ConnectionOnTraffic = 1u << 3;
inline constexpr NetworkReachabilityFlags InterventionRequired = 1u << 4;
inline constexpr NetworkReachabilityFlags ConnectionOnDemand = 1u << 5;
inline constexpr NetworkReachabilityFlags IsLocalAddress = 1u << 16;
inline constexpr NetworkReachabilityFlags IsDirect = 1u << 17;
}  // namespace NetworkReachabilityFlag

class NetworkReachability : public std::enable_shared_from_this<NetworkReachability> {
  public:
    using Callback = std::function<void(NetworkReachabilityFlags)>;

    // Null for a null address or a family other than IPv4 and IPv6.
    static std::shared_ptr<NetworkReachability> createWithAddress(const sockaddr* address);
    // Null for an empty host name.
    static std::shared_ptr<NetworkReachability> createWithName(const std::string& host);
    ~NetworkReachability();

    bool getFlags(NetworkReachabilityFlags* flags) const;
    // Whether the reference follows the loopback path (a loopback address or host).
    bool isLoopback() const { return loopback_; }
    // A null callback clears it.
    bool setCallback(Callback callback);
    // False when no callback is set. From now on every change of the flags calls the callback.
    bool scheduleWithMainRunLoop();
    void unscheduleFromMainRunLoop();

    explicit NetworkReachability(bool loopback) : loopback_(loopback) {}  // use the create functions

  private:
    friend void NetworkPath::changed();
    void pathChanged();
    void deliver(NetworkReachabilityFlags flags);

    const bool loopback_;
    mutable std::mutex mutex_;
    Callback callback_;
    bool scheduled_ = false;
    NetworkReachabilityFlags lastFlags_ = 0;
};
