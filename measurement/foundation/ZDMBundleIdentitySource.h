#pragma once
// What the engine's identifier rules read of the identity when they stamp and redact bundles:
// ZDMIdentity answers from the platform, tests from their own fakes.
#include <cstdint>
#include <optional>
#include <string>

class ZDMBundleIdentitySource {
  public:
    virtual ~ZDMBundleIdentitySource() = default;

    virtual bool iOS14OrAbove() const = 0;
    // The tracking-authorization status: 3 authorized, 6 not available.
    virtual uint64_t appleConsentStatus() = 0;
    virtual bool hasLimitedAdTracking() = 0;
    virtual bool limitedAdTracking() = 0;
    virtual std::optional<std::string> resettableDeviceID() = 0;
    virtual std::optional<std::string> identifierForVendor() const = 0;
    virtual std::optional<std::string> appInstanceID() = 0;
    virtual std::string ephemeralAppInstanceID() = 0;
};
