#include "DudIzizozCrashes/DIZCrashes.h"

#include <mutex>

#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"

namespace {
// A crash report is sent on its own and soon: one log a batch, after one second.
constexpr int64_t kCrashesPriority = 2;
constexpr uint64_t kCrashesFlushInterval = 1;
constexpr uint64_t kCrashesBatchSizeLimit = 1;
constexpr uint64_t kCrashesPendingBatchesLimit = 3;

std::mutex& sharedLock() {
    static std::mutex lock;
    return lock;
}
std::shared_ptr<DIZCrashes>& sharedSlot() {
    static std::shared_ptr<DIZCrashes> instance;
    return instance;
}
}  // namespace

const DIZServiceClass& DIZCrashes::classObject() {
    static const DIZServiceClassOf<DIZCrashes> object;
    return object;
}

std::shared_ptr<DIZCrashes> DIZCrashes::sharedInstance() {
    std::lock_guard guard(sharedLock());
    if (!sharedSlot()) sharedSlot() = std::make_shared<DIZCrashes>();
    return sharedSlot();
}

void DIZCrashes::resetSharedInstance() {
    std::shared_ptr<DIZCrashes> dropped;
    std::lock_guard guard(sharedLock());
    dropped.swap(sharedSlot());
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
