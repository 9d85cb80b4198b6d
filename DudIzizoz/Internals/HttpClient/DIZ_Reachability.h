#pragma once
// Whether the network can be reached, and the notification
// "kDZNetworkReachabilityChangedNotification" (object: the DIZ_Reachability) each time that changes
// once the notifier runs. Callbacks arrive on the main run loop.
#include <memory>
#include <string>

#include "platform/network/Reachability.h"

struct sockaddr;

inline constexpr const char* kDZNetworkReachabilityChangedNotification =
    "kDZNetworkReachabilityChangedNotification";

enum DIZNetworkStatus : int { NotReachable = 0, ReachableViaNetwork = 1 };

class DIZ_Reachability : public std::enable_shared_from_this<DIZ_Reachability> {
  public:
    // Null when the system reference cannot be made.
    static std::shared_ptr<DIZ_Reachability> reachabilityWithHostName(const std::string& hostName);
    static std::shared_ptr<DIZ_Reachability> reachabilityWithAddress(const sockaddr* hostAddress);
    // The zero IPv4 address: the default route.
    static std::shared_ptr<DIZ_Reachability> reachabilityForInternetConnection();
    // The path to the URL's host, so that a server on this machine counts as reachable without any
    // other network; the internet connection when the URL names no host.
    static std::shared_ptr<DIZ_Reachability> reachabilityForURL(const std::string& url);
    ~DIZ_Reachability();

    // Both act on the main thread: the start registers the callback, schedules it and posts the
    // notification once right away.
    void startNotifier();
    void stopNotifier();

    DIZNetworkStatus currentReachabilityStatus() const;
    bool connectionRequired() const;
    static DIZNetworkStatus networkStatusForFlags(NetworkReachabilityFlags flags);

    const std::shared_ptr<NetworkReachability>& reachabilityRef() const { return reachabilityRef_; }

    explicit DIZ_Reachability(std::shared_ptr<NetworkReachability> reference)
        : reachabilityRef_(std::move(reference)) {}

  private:
    std::shared_ptr<NetworkReachability> reachabilityRef_;
};
