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

std::shared_ptr<DIZAnalytics> DIZAnalytics::sharedInstance() {
    return sharedAnalytics.get();
}

void DIZAnalytics::resetSharedInstance() {
    sharedAnalytics.reset();
}

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
    {
        std::lock_guard guard(mutex_);
        channelUnitConfiguration_ = std::make_shared<DIZChannelUnitConfiguration>(groupId(), flushInterval_);
    }
    DIZServiceAbstract::startWithChannelGroup(channelGroup, appSecret, transmissionTargetToken,
                                              fromApplication);
    DIZLogVerbose(kLogTag, "Started Analytics service.");
}

void DIZAnalytics::addChannelUnits(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup) {
    DIZServiceAbstract::addChannelUnits(channelGroup);
    if (!channelGroup) return;
    auto critical = channelGroup->addChannelUnitWithConfiguration(
        std::make_shared<DIZChannelUnitConfiguration>(groupId() + "_" + kCriticalSuffix));
    std::lock_guard guard(mutex_);
    criticalChannelUnit_ = std::move(critical);
}

void DIZAnalytics::applyEnabledState(bool isEnabled) {
    DIZServiceAbstract::applyEnabledState(isEnabled);
    if (auto critical = criticalChannelUnit()) critical->setEnabled(isEnabled, true);
    DIZLogInfo(kLogTag, "Analytics service has been %@.", isEnabled ? "enabled" : "disabled");
}

std::shared_ptr<DIZChannelUnitConfiguration> DIZAnalytics::channelUnitConfiguration() const {
    std::lock_guard guard(mutex_);
    return channelUnitConfiguration_;
}

std::shared_ptr<DIZChannelUnitProtocol> DIZAnalytics::criticalChannelUnit() const {
    std::lock_guard guard(mutex_);
    return criticalChannelUnit_;
}
