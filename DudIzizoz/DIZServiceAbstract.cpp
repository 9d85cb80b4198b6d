#include "DudIzizoz/DIZServiceAbstract.h"

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"

namespace {
// "DIZAnalytics" -> "Analytics", as the messages name a service.
std::string shortName(const DIZServiceClass& serviceClass) {
    std::string name = serviceClass.className();
    return name.starts_with("DIZ") ? name.substr(3) : name;
}
}  // namespace

DIZServiceAbstract::DIZServiceAbstract(const DIZServiceClass& serviceClass, std::string groupId)
    : serviceClass_(serviceClass), groupId_(std::move(groupId)), isEnabledKey_(groupId_ + "IsEnabled") {}

void DIZServiceAbstract::applyEnabledState(bool isEnabled) {
    if (auto unit = channelUnit()) unit->setEnabled(isEnabled, true);
}

bool DIZServiceAbstract::canBeUsed() {
    if (DIZDudIzizoz::sharedInstance()->isSdkConfigured() && isStarted()) return true;
    DIZLogError(kDIZLogTag,
                "%@ service hasn't been started. You need to call [DIZDudIzizoz start:YOUR_APP_SECRET "
                "withServices:LIST_OF_SERVICES] first.",
                shortName(serviceClass()));
    return false;
}

void DIZServiceAbstract::startWithChannelGroup(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup,
                                               const std::optional<std::string>& appSecret,
                                               const std::optional<std::string>& transmissionTargetToken,
                                               bool fromApplication) {
    {
        std::lock_guard guard(lock_);
        startedFromApplication_ = fromApplication;
        channelGroup_ = channelGroup;
        appSecret_ = appSecret;
        defaultTransmissionTargetToken_ = transmissionTargetToken;
    }
    // The group tells its delegates of every new unit at once, so no lock is held meanwhile.
    addChannelUnits(channelGroup);
    std::lock_guard switching(switchLock_);
    {
        std::lock_guard guard(lock_);
        started_ = true;
    }
    if (isEnabled()) applyEnabledState(true);
}

void DIZServiceAbstract::addChannelUnits(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup) {
    if (auto configuration = channelUnitConfiguration(); configuration && channelGroup)
        setChannelUnit(channelGroup->addChannelUnitWithConfiguration(configuration));
}

void DIZServiceAbstract::updateConfigurationWithAppSecret(
    const std::optional<std::string>& appSecret, const std::optional<std::string>& transmissionTargetToken) {
    {
        std::lock_guard guard(lock_);
        startedFromApplication_ = true;
        appSecret_ = appSecret;
        defaultTransmissionTargetToken_ = transmissionTargetToken;
    }
    std::lock_guard switching(switchLock_);
    if (isEnabled()) applyEnabledState(true);
}

bool DIZServiceAbstract::isStartedFromApplication() const {
    std::lock_guard guard(lock_);
    return startedFromApplication_;
}

bool DIZServiceAbstract::isAvailable() {
    return isEnabled() && isStarted();
}

bool DIZServiceAbstract::isEnabled() {
    auto stored = DIZDudIzizozUserDefaults::shared()->objectForKey(isEnabledKey_);
    return !stored || stored->boolOr(true);
}

void DIZServiceAbstract::setEnabled(bool isEnabled) {
    std::lock_guard switching(switchLock_);
    if (isEnabled == this->isEnabled()) return;
    applyEnabledState(isEnabled);
    DIZDudIzizozUserDefaults::shared()->setObject(Value(isEnabled), isEnabledKey_);
}

std::shared_ptr<DIZChannelGroupProtocol> DIZServiceAbstract::channelGroup() const {
    std::lock_guard guard(lock_);
    return channelGroup_;
}

void DIZServiceAbstract::setChannelGroup(std::shared_ptr<DIZChannelGroupProtocol> channelGroup) {
    std::lock_guard guard(lock_);
    channelGroup_ = std::move(channelGroup);
}

std::shared_ptr<DIZChannelUnitProtocol> DIZServiceAbstract::channelUnit() const {
    std::lock_guard guard(lock_);
    return channelUnit_;
}

void DIZServiceAbstract::setChannelUnit(std::shared_ptr<DIZChannelUnitProtocol> channelUnit) {
    std::lock_guard guard(lock_);
    channelUnit_ = std::move(channelUnit);
}

std::optional<std::string> DIZServiceAbstract::appSecret() const {
    std::lock_guard guard(lock_);
    return appSecret_;
}

void DIZServiceAbstract::setAppSecret(std::optional<std::string> appSecret) {
    std::lock_guard guard(lock_);
    appSecret_ = std::move(appSecret);
}

std::optional<std::string> DIZServiceAbstract::defaultTransmissionTargetToken() const {
    std::lock_guard guard(lock_);
    return defaultTransmissionTargetToken_;
}

void DIZServiceAbstract::setDefaultTransmissionTargetToken(std::optional<std::string> token) {
    std::lock_guard guard(lock_);
    defaultTransmissionTargetToken_ = std::move(token);
}

bool DIZServiceAbstract::isStarted() const {
    std::lock_guard guard(lock_);
    return started_;
}

bool DIZServiceClass::isEnabled() const {
    auto service = sharedInstance();
    return service->canBeUsed() && service->isEnabled();
}

void DIZServiceClass::setEnabled(bool isEnabled) const {
    auto service = sharedInstance();
    // The client's state is read before the service switches: the facade holds its own lock while
    // it switches the services, so taking the two the other way round could deadlock.
    auto facade = DIZDudIzizoz::sharedInstance();
    const bool refused =
        facade->isSdkConfigured() && !DIZDudIzizoz::isEnabled() && !facade->isEnabledStateUpdating();
    if (!service->canBeUsed()) return;
    if (refused) {
        DIZLogError(
            kDIZLogTag,
            "The SDK is disabled. Re-enable the whole SDK from DudIzizoz first before enabling %@ service.",
            shortName(*this));
        return;
    }
    service->setEnabled(isEnabled);
}
