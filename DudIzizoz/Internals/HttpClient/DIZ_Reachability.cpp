#include "DudIzizoz/Internals/HttpClient/DIZ_Reachability.h"

#include <netinet/in.h>

#include "DudIzizoz/Internals/Util/DIZDispatcherUtil.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/URL.h"

namespace {
void postChanged(const DIZ_Reachability* reachability) {
    NotificationCenter::defaultCenter().post(kDZNetworkReachabilityChangedNotification, reachability);
}
}  // namespace

std::shared_ptr<DIZ_Reachability> DIZ_Reachability::reachabilityWithHostName(const std::string& hostName) {
    auto reference = NetworkReachability::createWithName(hostName);
    return reference ? std::make_shared<DIZ_Reachability>(std::move(reference)) : nullptr;
}

std::shared_ptr<DIZ_Reachability> DIZ_Reachability::reachabilityWithAddress(const sockaddr* hostAddress) {
    auto reference = NetworkReachability::createWithAddress(hostAddress);
    return reference ? std::make_shared<DIZ_Reachability>(std::move(reference)) : nullptr;
}

std::shared_ptr<DIZ_Reachability> DIZ_Reachability::reachabilityForInternetConnection() {
    sockaddr_in zeroAddress{};
    zeroAddress.sin_family = AF_INET;
    return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&zeroAddress));
}

std::shared_ptr<DIZ_Reachability> DIZ_Reachability::reachabilityForURL(const std::string& url) {
    const auto components = URLComponents::fromString(url);
    if (components && components->host && !components->host->empty()) {
        if (auto reachability = reachabilityWithHostName(*components->host)) return reachability;
    }
    return reachabilityForInternetConnection();
}

DIZ_Reachability::~DIZ_Reachability() {
    DIZDispatcherUtil::performBlockOnMainThread([reference = std::move(reachabilityRef_)] {
        reference->unscheduleFromMainRunLoop();
        reference->setCallback(nullptr);
    });
}

void DIZ_Reachability::startNotifier() {
    DIZDispatcherUtil::performBlockOnMainThread([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        const bool registered = self->reachabilityRef_->setCallback([weak](NetworkReachabilityFlags) {
            if (auto reachability = weak.lock()) postChanged(reachability.get());
        });
        if (!registered || !self->reachabilityRef_->scheduleWithMainRunLoop()) return;
        postChanged(self.get());
    });
}

void DIZ_Reachability::stopNotifier() {
    DIZDispatcherUtil::performBlockOnMainThread(
        [reference = reachabilityRef_] { reference->unscheduleFromMainRunLoop(); });
}

DIZNetworkStatus DIZ_Reachability::currentReachabilityStatus() const {
    NetworkReachabilityFlags flags = 0;
    if (!reachabilityRef_->getFlags(&flags)) return NotReachable;
    return networkStatusForFlags(flags);
}

bool DIZ_Reachability::connectionRequired() const {
    NetworkReachabilityFlags flags = 0;
    return reachabilityRef_->getFlags(&flags) && (flags & NetworkReachabilityFlag::ConnectionRequired);
}

DIZNetworkStatus DIZ_Reachability::networkStatusForFlags(NetworkReachabilityFlags flags) {
    using namespace NetworkReachabilityFlag;
    if (!(flags & Reachable)) return NotReachable;
    if (!(flags & ConnectionRequired)) return ReachableViaNetwork;
    const bool automatic =
        (flags & (ConnectionOnDemand | ConnectionOnTraffic)) && !(flags & InterventionRequired);
    return automatic ? ReachableViaNetwork : NotReachable;
}
