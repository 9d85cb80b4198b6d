#include "DudIzizozAnalytics/DIZAnalyticsTransmissionTarget.h"

#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "DudIzizozAnalytics/DIZPropertyConfigurator.h"
#include "DudIzizozAnalytics/TransmissionTarget/DIZAnalyticsAuthenticationProvider.h"

namespace {

// One lock for the enabled state of the whole tree: a target's rules read its parent's flag and
// write its children's, and a change must not interleave with another.
std::mutex& treeLock() {
    static std::mutex* lock = new std::mutex;  // never destroyed: targets live for the process
    return *lock;
}

std::mutex& providerLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::shared_ptr<DIZAnalyticsAuthenticationProvider>& sharedProvider() {
    static auto* provider = new std::shared_ptr<DIZAnalyticsAuthenticationProvider>;
    return *provider;
}

std::string enabledKeyFor(const std::string& token) {
    return DIZAnalytics::sharedInstance()->isEnabledKey() + "/" +
           DIZUtility::targetKeyFromTargetToken(token).value_or(token);
}

}  // namespace

DIZAnalyticsTransmissionTarget::DIZAnalyticsTransmissionTarget(
    std::string token, std::shared_ptr<DIZAnalyticsTransmissionTarget> parentTarget,
    std::shared_ptr<DIZChannelGroupProtocol> channelGroup)
    : parentTarget_(parentTarget),
      isTopLevel_(!parentTarget),
      isEnabledKey_(enabledKeyFor(token)),
      channelGroup_(std::move(channelGroup)),
      transmissionTargetToken_(std::move(token)) {}

std::shared_ptr<DIZAnalyticsTransmissionTarget>
DIZAnalyticsTransmissionTarget::initWithTransmissionTargetToken(
    const std::string& token, const std::shared_ptr<DIZAnalyticsTransmissionTarget>& parentTarget,
    const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup) {
    std::shared_ptr<DIZAnalyticsTransmissionTarget> target(
        new DIZAnalyticsTransmissionTarget(token, parentTarget, channelGroup));
    target->propertyConfigurator_ = std::make_shared<DIZPropertyConfigurator>(target);
    {
        std::lock_guard lock(treeLock());
        if (!target->isImmediateParentLocked()) {
            DIZDudIzizozUserDefaults::shared()->setObject(Value(false), target->isEnabledKey_);
        }
    }
    if (channelGroup) {
        channelGroup->addDelegate(target->propertyConfigurator_);
        channelGroup->addDelegate(target);
    }
    return target;
}

// Tracking.

void DIZAnalyticsTransmissionTarget::trackEvent(const std::string& name) {
    trackEvent(name, std::optional<Dictionary>(), 1);
}

void DIZAnalyticsTransmissionTarget::trackEvent(const std::string& name,
                                                const std::optional<Dictionary>& properties, uint64_t flags) {
    std::shared_ptr<DIZEventProperties> typed;
    if (properties) {
        typed = std::make_shared<DIZEventProperties>();
        for (const auto& [key, value] : *properties) {
            const std::string* text = value.asString();
            typed->setString(text ? std::optional(*text) : std::nullopt, key);
        }
    }
    trackEvent(name, typed, flags);
}

void DIZAnalyticsTransmissionTarget::trackEvent(const std::string& name,
                                                const std::shared_ptr<DIZEventProperties>& properties,
                                                uint64_t flags) {
    auto merged = std::make_shared<DIZEventProperties>();
    for (auto target = shared_from_this(); target; target = target->parentTarget()) {
        target->propertyConfigurator_->mergeTypedPropertiesWith(*merged);
    }
    if (properties) {
        merged->mergeEventProperties(*properties);
    } else if (merged->isEmpty()) {
        merged = nullptr;
    }
    DIZAnalytics::trackEvent(name, merged, shared_from_this(), flags);
}

std::shared_ptr<DIZAnalyticsTransmissionTarget> DIZAnalyticsTransmissionTarget::transmissionTargetForToken(
    const std::string& token) {
    {
        std::lock_guard lock(treeLock());
        auto found = childTransmissionTargets_.find(token);
        if (found != childTransmissionTargets_.end()) return found->second;
    }
    // Made outside the lock, which making a target takes; a child made twice at once keeps the first.
    auto child = initWithTransmissionTargetToken(token, shared_from_this(), channelGroup_);
    std::lock_guard lock(treeLock());
    return childTransmissionTargets_.emplace(token, child).first->second;
}

// Enabled state.

bool DIZAnalyticsTransmissionTarget::isEnabled() {
    std::lock_guard lock(treeLock());
    return isEnabledLocked();
}

bool DIZAnalyticsTransmissionTarget::isEnabledLocked() const {
    auto stored = DIZDudIzizozUserDefaults::shared()->objectForKey(isEnabledKey_);
    return !stored || stored->boolOr(true);
}

bool DIZAnalyticsTransmissionTarget::isImmediateParent() {
    std::lock_guard lock(treeLock());
    return isImmediateParentLocked();
}

bool DIZAnalyticsTransmissionTarget::isImmediateParentLocked() const {
    if (isTopLevel_) return DIZAnalytics::sharedInstance()->isEnabled();
    auto parent = parentTarget_.lock();
    return parent && parent->isEnabledLocked();
}

void DIZAnalyticsTransmissionTarget::setEnabled(bool isEnabled) {
    std::vector<std::shared_ptr<DIZAnalyticsTransmissionTarget>> resumed;
    {
        std::lock_guard lock(treeLock());
        setEnabledLocked(isEnabled, resumed);
    }
    for (const auto& target : resumed) target->resume();
}

void DIZAnalyticsTransmissionTarget::setEnabledLocked(
    bool isEnabled, std::vector<std::shared_ptr<DIZAnalyticsTransmissionTarget>>& resumed) {
    if (isEnabled != isEnabledLocked()) {
        if (isEnabled && !isImmediateParentLocked()) {
            DIZLogWarning(DIZAnalytics::kLogTag,
                          "Can't enable; parent transmission target and/or Analytics service is disabled.");
            return;
        }
        DIZDudIzizozUserDefaults::shared()->setObject(Value(isEnabled), isEnabledKey_);
        if (isEnabled) resumed.push_back(shared_from_this());
    }
    for (const auto& [token, child] : childTransmissionTargets_) child->setEnabledLocked(isEnabled, resumed);
}

void DIZAnalyticsTransmissionTarget::pause() {
    sendPauseOrResume(true);
}

void DIZAnalyticsTransmissionTarget::resume() {
    sendPauseOrResume(false);
}

void DIZAnalyticsTransmissionTarget::sendPauseOrResume(bool pause) {
    if (!isEnabled()) {
        DIZLogError(DIZAnalytics::kLogTag, "This transmission target is disabled.");
        return;
    }
    if (pause) {
        DIZAnalytics::pauseTransmissionTargetForToken(transmissionTargetToken_);
    } else {
        DIZAnalytics::resumeTransmissionTargetForToken(transmissionTargetToken_);
    }
}

// Ticket keys and the shared provider.

void DIZAnalyticsTransmissionTarget::channelPrepareLog(DIZChannelProtocol&,
                                                       const std::shared_ptr<DIZLog>& log) {
    auto coreSchemaLog = std::dynamic_pointer_cast<DIZCoreSchemaLog>(log);
    if (!coreSchemaLog) return;
    auto tokens = log->transmissionTargetTokens();
    if (!tokens || !tokens->contains(transmissionTargetToken_) || !isEnabled()) return;
    auto provider = authenticationProvider();
    if (!provider || !provider->ticketKeyHash()) return;
    if (!coreSchemaLog->ext()) coreSchemaLog->setExt(std::make_shared<DIZCSExtensions>());
    auto& ext = *coreSchemaLog->ext();
    if (!ext.protocolExt()) ext.setProtocolExt(std::make_shared<DIZProtocolExtension>());
    ext.protocolExt()->setTicketKeys(std::vector<std::string>{*provider->ticketKeyHash()});
    provider->checkTokenExpiry();
}

void DIZAnalyticsTransmissionTarget::addAuthenticationProvider(
    const std::shared_ptr<DIZAnalyticsAuthenticationProvider>& provider) {
    if (!provider) {
        DIZLogError(DIZAnalytics::kLogTag, "Authentication provider may not be null.");
        return;
    }
    setAuthenticationProvider(provider);
    // Outside the lock: a host that answers at once must not meet it.
    provider->acquireTokenAsync();
}

std::shared_ptr<DIZAnalyticsAuthenticationProvider> DIZAnalyticsTransmissionTarget::authenticationProvider() {
    std::lock_guard lock(providerLock());
    return sharedProvider();
}

void DIZAnalyticsTransmissionTarget::setAuthenticationProvider(
    const std::shared_ptr<DIZAnalyticsAuthenticationProvider>& provider) {
    std::lock_guard lock(providerLock());
    sharedProvider() = provider;
}
