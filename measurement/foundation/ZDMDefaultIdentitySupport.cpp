#include "measurement/foundation/ZDMDefaultIdentitySupport.h"

#include <condition_variable>
#include <limits>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<ZDMDefaultIdentitySupport> sharedSupport;
constexpr const char* kAllZeroIdentifier = "00000000-0000-0000-0000-000000000000";

std::shared_ptr<const ZDMIdentitySupport> platformImplementation() {
    const auto platformClass = Runtime::classNamed("ZDMPlatformIdentitySupport");
    if (!platformClass || !platformClass->respondsToSelector("sharedInstance")) return nullptr;
    // Kept only when the object really adopts the protocol.
    return platformClass->perform("sharedInstance").objectAs<ZDMIdentitySupport>();
}

// Ends when the fetch is done or the deadline passes, whichever comes first.
class BoundedWait {
  public:
    void finish() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return finished_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
};
}  // namespace

std::shared_ptr<ZDMDefaultIdentitySupport> ZDMDefaultIdentitySupport::sharedInstance() {
    return sharedSupport.get();
}

ZDMDefaultIdentitySupport::ZDMDefaultIdentitySupport()
    : platformIdentitySupport_(platformImplementation()),
      queue_(DispatchQueue::serial("ZDMDefaultIdentitySupport")) {}

bool ZDMDefaultIdentitySupport::hasAppDataConsentStatus() const {
    return platformIdentitySupport_ && platformIdentitySupport_->hasAppDataConsentStatus();
}

uint64_t ZDMDefaultIdentitySupport::appDataConsentStatus() const {
    if (!platformIdentitySupport_) return std::numeric_limits<uint64_t>::max();
    return platformIdentitySupport_->appDataConsentStatus();
}

bool ZDMDefaultIdentitySupport::hasLimitedAdTracking() const {
    return platformIdentitySupport_ && platformIdentitySupport_->hasLimitedAdTracking();
}

bool ZDMDefaultIdentitySupport::limitedAdTracking() const {
    const auto identifier = resettableDeviceID();
    return !identifier || *identifier == kAllZeroIdentifier;
}

std::optional<std::string> ZDMDefaultIdentitySupport::resettableDeviceID() const {
    if (!platformIdentitySupport_) return std::nullopt;
    auto wait = std::make_shared<BoundedWait>();
    // The fetch may outlive this call (and this object), so it holds what it needs itself.
    std::weak_ptr<const ZDMDefaultIdentitySupport> weakSelf = weak_from_this();
    queue_->async([weakSelf, platform = platformIdentitySupport_, wait] {
        auto identifier = platform->resettableDeviceID();
        if (auto self = weakSelf.lock()) {
            std::lock_guard lock(self->mutex_);
            self->resettableDeviceID_ = std::move(identifier);
        }
        wait->finish();
    });
    const auto clock = Clock::shared();
    const auto deadline =
        clock->schedule(kPlatformWaitSeconds, DispatchQueue::global(), [wait] { wait->finish(); });
    wait->wait();
    clock->cancel(deadline);
    std::lock_guard lock(mutex_);
    return resettableDeviceID_;
}
