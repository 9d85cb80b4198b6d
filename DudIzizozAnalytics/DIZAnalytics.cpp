#include "DudIzizozAnalytics/DIZAnalytics.h"

#include <mutex>

#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<DIZAnalytics> sharedAnalytics;
}  // namespace

const DIZServiceClass& DIZAnalytics::classObject() {
    static const DIZServiceClassOf<DIZAnalytics> object;
    return object;
}

std::shared_ptr<DIZAnalytics> DIZAnalytics::sharedInstance() { return sharedAnalytics.get(); }

void DIZAnalytics::resetSharedInstance() { sharedAnalytics.reset(); }

DIZAnalytics::DIZAnalytics()
    : DIZServiceAbstract(classObject(), kGroupId), flushInterval_(kDIZDefaultFlushInterval) {
    DIZDudIzizozUserDefaults::shared()->migrateKeys(
        {
            {"DZDudIzizozAnalyticsIsEnabled", DIZUserDefaultsPrefixKey("kDZAnalyticsIsEnabledKey")},
            {"DZDudIzizozPastSessions", std::string("pastSessionsKey")},
        },
        kServiceName);
}

void DIZAnalytics::startWithChannelGroup(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup,
                                         const std::optional<std::string>& appSecret,
                                         const std::optional<std::string>& transmissionTargetToken,
                                         bool fromApplication) {
    std::lock_guard guard(serviceLock());
    channelUnitConfiguration_ = std::make_shared<DIZChannelUnitConfiguration>(groupId(), flushInterval_);
    DIZServiceAbstract::startWithChannelGroup(channelGroup, appSecret, transmissionTargetToken,
                                              fromApplication);
    if (channelGroup) {
        criticalChannelUnit_ = channelGroup->addChannelUnitWithConfiguration(
            std::make_shared<DIZChannelUnitConfiguration>(groupId() + "_" + kCriticalSuffix));
    }
    DIZLogVerbose(kLogTag, "Started Analytics service.");
}

void DIZAnalytics::applyEnabledState(bool isEnabled) {
    std::lock_guard guard(serviceLock());
    DIZServiceAbstract::applyEnabledState(isEnabled);
    if (criticalChannelUnit_) criticalChannelUnit_->setEnabled(isEnabled, true);
    DIZLogInfo(kLogTag, "Analytics service has been %@.", isEnabled ? "enabled" : "disabled");
}

std::shared_ptr<DIZChannelUnitConfiguration> DIZAnalytics::channelUnitConfiguration() const {
    std::lock_guard guard(serviceLock());
    return channelUnitConfiguration_;
}

std::shared_ptr<DIZChannelUnitProtocol> DIZAnalytics::criticalChannelUnit() const {
    std::lock_guard guard(serviceLock());
    return criticalChannelUnit_;
}
