#include "DudIzizozCrashes/DIZCrashes.h"

#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/foundation/SharedInstance.h"

namespace {
// A crash report is sent on its own and soon: one log a batch, after one second.
constexpr int64_t kCrashesPriority = 2;
constexpr uint64_t kCrashesFlushInterval = 1;
constexpr uint64_t kCrashesBatchSizeLimit = 1;
constexpr uint64_t kCrashesPendingBatchesLimit = 3;

constinit SharedInstance<DIZCrashes> sharedCrashes;
}  // namespace

const DIZServiceClass& DIZCrashes::classObject() {
    static const DIZServiceClassOf<DIZCrashes> object;
    return object;
}

std::shared_ptr<DIZCrashes> DIZCrashes::sharedInstance() {
    return sharedCrashes.get();
}

void DIZCrashes::resetSharedInstance() {
    sharedCrashes.reset();
}

DIZCrashes::DIZCrashes()
    : DIZServiceAbstract(classObject(), kGroupId),
      channelUnitConfiguration_(std::make_shared<DIZChannelUnitConfiguration>(
          kGroupId, kCrashesPriority, kCrashesFlushInterval, kCrashesBatchSizeLimit,
          kCrashesPendingBatchesLimit)) {
    DIZDudIzizozUserDefaults::shared()->migrateKeys(
        {
            {"DZDudIzizozCrashesIsEnabled", std::string("kDZCrashesIsEnabledKey")},
            {"DZDudIzizozAppDidReceiveMemoryWarning", std::string("DZAppDidReceiveMemoryWarning")},
            {"DZDudIzizozCrashesUserConfirmation", std::string("DZUserConfirmation")},
        },
        kServiceName);
}

void DIZCrashes::startWithChannelGroup(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup,
                                       const std::optional<std::string>& appSecret,
                                       const std::optional<std::string>& transmissionTargetToken,
                                       bool fromApplication) {
    DIZServiceAbstract::startWithChannelGroup(channelGroup, appSecret, transmissionTargetToken,
                                              fromApplication);
    if (channelGroup) channelGroup->addDelegate(shared_from_this());
    DIZLogVerbose(kLogTag, "Started crash service.");
}
