#pragma once
// What the identity code asks of the platform's tracking authorisation and advertising identifier;
// it works without them when no implementation is present.
#include <cstdint>
#include <optional>
#include <string>

class ZDMIdentitySupport {
  public:
    virtual ~ZDMIdentitySupport() = default;
    virtual bool hasAppDataConsentStatus() const = 0;
    virtual uint64_t appDataConsentStatus() const = 0;
    virtual bool hasLimitedAdTracking() const = 0;
    virtual bool limitedAdTracking() const = 0;
    virtual std::optional<std::string> resettableDeviceID() const = 0;
};
