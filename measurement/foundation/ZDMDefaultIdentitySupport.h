#pragma once
// The library's view of the platform's identity services: forwards to the object the class
// "ZDMPlatformIdentitySupport" answers to "sharedInstance" when it is registered and adopts the
// protocol, and answers "absent" otherwise. The platform identifier is fetched on the serial queue
// "ZDMDefaultIdentitySupport" and waited for at most 10 ms of the process clock, so a slow platform
// never holds a caller up: it then gets the identifier of an earlier fetch.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "measurement/foundation/ZDMIdentitySupport.h"

class DispatchQueue;

class ZDMDefaultIdentitySupport : public ZDMIdentitySupport,
                                  public std::enable_shared_from_this<ZDMDefaultIdentitySupport> {
  public:
    static constexpr double kPlatformWaitSeconds = 0.010;

    static std::shared_ptr<ZDMDefaultIdentitySupport> sharedInstance();
    static bool iOS14OrAbove() { return true; }

    // Looks the platform class up now.
    ZDMDefaultIdentitySupport();

    bool hasAppDataConsentStatus() const override;
    uint64_t appDataConsentStatus() const override;  // all ones without the platform
    bool hasLimitedAdTracking() const override;
    // True unless the platform gives an identifier other than the all-zero one.
    bool limitedAdTracking() const override;
    std::optional<std::string> resettableDeviceID() const override;

  private:
    const std::shared_ptr<const ZDMIdentitySupport> platformIdentitySupport_;
    const std::shared_ptr<DispatchQueue> queue_;
    mutable std::mutex mutex_;
    mutable std::optional<std::string> resettableDeviceID_;  // the last identifier fetched
};
