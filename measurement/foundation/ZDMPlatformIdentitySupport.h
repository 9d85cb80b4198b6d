#pragma once
// The platform's tracking-authorisation status and advertising identifier, reached through classes
// looked up by name ("ATTrackingManager", "ASIdentifierManager") instead of linked. Linux has
// neither, so there the answers are the "absent" ones; tests register stand-in classes. Both
// platform objects are fixed when the instance is made and only read afterwards.
// The class registers itself under its own name, answering "sharedInstance", so that the library
// finds it the same way whether or not it is present.
#include <memory>

#include "measurement/foundation/ZDMIdentitySupport.h"
#include "platform/foundation/Object.h"

class RuntimeObject;

class ZDMPlatformIdentitySupport : public ZDMIdentitySupport, public Object {
  public:
    static std::shared_ptr<ZDMPlatformIdentitySupport> sharedInstance();
    // What is registered under "ZDMPlatformIdentitySupport".
    static std::shared_ptr<const RuntimeObject> classObject();

    // Looks both platform classes up now.
    ZDMPlatformIdentitySupport();
    std::string className() const override { return "ZDMPlatformIdentitySupport"; }

    bool hasAppDataConsentStatus() const override;
    // The class's status; all ones when it does not answer one.
    uint64_t appDataConsentStatus() const override;
    bool hasLimitedAdTracking() const override;
    bool limitedAdTracking() const override;
    // The identifier as upper-case UUID text; nullopt when there is none or it is no UUID.
    std::optional<std::string> resettableDeviceID() const override;

  private:
    const std::shared_ptr<const RuntimeObject> trackingManagerClass_;
    const std::shared_ptr<const RuntimeObject> identifierManager_;
};
