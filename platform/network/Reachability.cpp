#include "platform/network/Reachability.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/NetworkPath.h"

namespace {
struct Scheduled {
    std::mutex mutex;
    std::vector<std::weak_ptr<NetworkReachability>> references;
};

Scheduled& scheduled() {
    static Scheduled* s = new Scheduled;  // outlives every reference, even those freed at exit
    return *s;
}
}  // namespace

NetworkReachabilityFlags NetworkPath::currentFlags() {
    NetworkReachabilityFlags flags = 0;
    return simulatedFlags(&flags) ? flags : systemFlags();
}

void NetworkPath::changed() {
    std::vector<std::shared_ptr<NetworkReachability>> references;
    {
        std::lock_guard lock(scheduled().mutex);
        for (auto& weak : scheduled().references) {
            if (auto reference = weak.lock()) references.push_back(std::move(reference));
        }
    }
    const NetworkReachabilityFlags flags = currentFlags();
    for (auto& reference : references) reference->pathChanged(flags);
}

std::shared_ptr<NetworkReachability> NetworkReachability::createWithAddress(const sockaddr* address) {
    if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6)) return nullptr;
    return std::make_shared<NetworkReachability>();
}

std::shared_ptr<NetworkReachability> NetworkReachability::createWithName(const std::string& host) {
    if (host.empty()) return nullptr;
    return std::make_shared<NetworkReachability>();
}

NetworkReachability::~NetworkReachability() {
    if (scheduled_) unscheduleFromMainRunLoop();
}

bool NetworkReachability::getFlags(NetworkReachabilityFlags* flags) const {
    if (!flags) return false;
    *flags = NetworkPath::currentFlags();
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
        lastFlags_ = NetworkPath::currentFlags();
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

void NetworkReachability::pathChanged(NetworkReachabilityFlags flags) {
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
