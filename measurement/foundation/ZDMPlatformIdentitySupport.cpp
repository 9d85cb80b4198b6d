#include "measurement/foundation/ZDMPlatformIdentitySupport.h"

#include <limits>

#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/UUID.h"

namespace {
constinit SharedInstance<ZDMPlatformIdentitySupport> sharedSupport;

class PlatformIdentitySupportClass : public RuntimeObject {
  public:
    std::string className() const override { return "ZDMPlatformIdentitySupport"; }
    bool respondsToSelector(std::string_view selector) const override { return selector == "sharedInstance"; }
    Value perform(std::string_view selector) const override {
        if (selector != "sharedInstance") return Value();
        return Value(std::static_pointer_cast<const Object>(ZDMPlatformIdentitySupport::sharedInstance()));
    }
};

const bool classRegistered = [] {
    Runtime::registerClass("ZDMPlatformIdentitySupport", ZDMPlatformIdentitySupport::classObject());
    return true;
}();

std::shared_ptr<const RuntimeObject> sharedIdentifierManager() {
    auto managerClass = Runtime::classNamed("ASIdentifierManager");
    if (!managerClass || !managerClass->respondsToSelector("sharedManager")) return nullptr;
    return managerClass->perform("sharedManager").objectAs<RuntimeObject>();
}
}  // namespace

std::shared_ptr<ZDMPlatformIdentitySupport> ZDMPlatformIdentitySupport::sharedInstance() {
    return sharedSupport.get();
}

std::shared_ptr<const RuntimeObject> ZDMPlatformIdentitySupport::classObject() {
    static const auto* classObject = new std::shared_ptr<const RuntimeObject>(
        std::make_shared<const PlatformIdentitySupportClass>());  // never destroyed: found during exit
    return *classObject;
}

ZDMPlatformIdentitySupport::ZDMPlatformIdentitySupport()
    : trackingManagerClass_(Runtime::classNamed("ATTrackingManager")),
      identifierManager_(sharedIdentifierManager()) {}

bool ZDMPlatformIdentitySupport::hasAppDataConsentStatus() const {
    return trackingManagerClass_ != nullptr;
}

uint64_t ZDMPlatformIdentitySupport::appDataConsentStatus() const {
    constexpr uint64_t kUnknown = std::numeric_limits<uint64_t>::max();
    if (!trackingManagerClass_ || !trackingManagerClass_->respondsToSelector("trackingAuthorizationStatus"))
        return kUnknown;
    const auto status = trackingManagerClass_->perform("trackingAuthorizationStatus").asInteger();
    return status ? static_cast<uint64_t>(*status) : kUnknown;
}

bool ZDMPlatformIdentitySupport::hasLimitedAdTracking() const {
    return identifierManager_ != nullptr;
}

bool ZDMPlatformIdentitySupport::limitedAdTracking() const {
    if (!identifierManager_ || !identifierManager_->respondsToSelector("isAdvertisingTrackingEnabled"))
        return false;
    return !identifierManager_->perform("isAdvertisingTrackingEnabled").boolOr(false);
}

std::optional<std::string> ZDMPlatformIdentitySupport::resettableDeviceID() const {
    if (!identifierManager_ || !identifierManager_->respondsToSelector("advertisingIdentifier"))
        return std::nullopt;
    const Value identifier = identifierManager_->perform("advertisingIdentifier");
    const auto uuid = identifier.asString() ? UUID::fromString(*identifier.asString()) : std::nullopt;
    if (!uuid) return std::nullopt;
    return uuid->uuidString();
}
