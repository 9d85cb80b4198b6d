#include "platform/network/Reachability.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/network/NetworkPath.h"

namespace {
struct Scheduled {
    std::mutex mutex;
    std::vector<std::weak_ptr<NetworkReachability>> references;
};

// Outlives every reference, even those freed at exit.
constinit SharedInstance<Scheduled> sharedScheduled{TestReset::keep};

Scheduled& scheduled() {
    return *sharedScheduled.get();
}

bool isLoopbackIPv4(const in_addr& address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

bool isLoopbackIPv6(const in6_addr& address) {
    if (IN6_IS_ADDR_LOOPBACK(&address)) return true;
    in_addr mapped;
    std::memcpy(&mapped, address.s6_addr + 12, sizeof mapped);
    return IN6_IS_ADDR_V4MAPPED(&address) && isLoopbackIPv4(mapped);
}

bool isLoopbackAddress(const sockaddr& address) {
    if (address.sa_family == AF_INET)
        return isLoopbackIPv4(reinterpret_cast<const sockaddr_in&>(address).sin_addr);
    return isLoopbackIPv6(reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
}

// "localhost" or an address literal of the loopback range, as a URL writes it (IPv6 in brackets).
bool isLoopbackHost(std::string host) {
    if (strcasecmp(host.c_str(), "localhost") == 0) return true;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    in_addr v4;
    in6_addr v6;
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return isLoopbackIPv4(v4);
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && isLoopbackIPv6(v6);
}
}  // namespace

NetworkReachabilityFlags NetworkPath::currentFlags(bool loopback) {
    NetworkReachabilityFlags flags = 0;
    return simulatedFlags(loopback, &flags) ? flags : systemFlags(loopback);
}

void NetworkPath::changed() {
    std::vector<std::shared_ptr<NetworkReachability>> references;
    {
        std::lock_guard lock(scheduled().mutex);
        for (auto& weak : scheduled().references) {
            if (auto reference = weak.lock()) references.push_back(std::move(reference));
        }
    }
    for (auto& reference : references) reference->pathChanged();
}

std::shared_ptr<NetworkReachability> NetworkReachability::createWithAddress(const sockaddr* address) {
    if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6)) return nullptr;
    return std::make_shared<NetworkReachability>(isLoopbackAddress(*address));
}

std::shared_ptr<NetworkReachability> NetworkReachability::createWithName(const std::string& host) {
    if (host.empty()) return nullptr;
    return std::make_shared<NetworkReachability>(isLoopbackHost(host));
}

NetworkReachability::~NetworkReachability() {
    if (scheduled_) unscheduleFromMainRunLoop();
}

bool NetworkReachability::getFlags(NetworkReachabilityFlags* flags) const {
    if (!flags) return false;
    *flags = NetworkPath::currentFlags(loopback_);
    return true;
}

bool NetworkReachability::setCallback(Callback callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
    return true;
}

bool NetworkReachability::scheduleWithMainRunLoop() {
    {
        std::lock_guard lock(mutex_);
        if (!callback_) return false;
        if (scheduled_) return true;
        scheduled_ = true;
        lastFlags_ = NetworkPath::currentFlags(loopback_);
    }
    bool first;
    {
        std::lock_guard lock(scheduled().mutex);
        first = scheduled().references.empty();
        scheduled().references.push_back(weak_from_this());
    }
    if (first) NetworkPath::startSystemWatch();
    return true;
}

void NetworkReachability::unscheduleFromMainRunLoop() {
    {
        std::lock_guard lock(mutex_);
        if (!scheduled_) return;
        scheduled_ = false;
    }
    bool last;
    {
        std::lock_guard lock(scheduled().mutex);
        auto& references = scheduled().references;
        // During destruction weak_from_this() is already expired, so expired entries go as well.
        std::erase_if(references, [this](const std::weak_ptr<NetworkReachability>& weak) {
            auto reference = weak.lock();
            return !reference || reference.get() == this;
        });
        last = references.empty();
    }
    if (last) NetworkPath::stopSystemWatch();
}

void NetworkReachability::pathChanged() {
    const NetworkReachabilityFlags flags = NetworkPath::currentFlags(loopback_);
    {
        std::lock_guard lock(mutex_);
        if (!scheduled_ || flags == lastFlags_) return;
        lastFlags_ = flags;
    }
    DispatchQueue::main()->async([weak = weak_from_this(), flags] {
        if (auto reference = weak.lock()) reference->deliver(flags);
    });
}

void NetworkReachability::deliver(NetworkReachabilityFlags flags) {
    Callback callback;
    {
        std::lock_guard lock(mutex_);
        if (!scheduled_) return;
        callback = callback_;
    }
    if (callback) callback(flags);
}
