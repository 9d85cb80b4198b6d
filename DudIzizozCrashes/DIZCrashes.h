#pragma once
// The crash service: its names, its unit "Crashes" (one log a batch, sent after a second) and its
// place among the channel group's delegates. It starts before every other service.
#include <memory>

#include "DudIzizoz/DIZServiceAbstract.h"
#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"

class DIZChannelUnitConfiguration;

class DIZCrashes : public DIZServiceAbstract,
                   public DIZChannelDelegate,
                   public std::enable_shared_from_this<DIZCrashes> {
  public:
    static constexpr const char* kClassName = "DIZCrashes";
    static constexpr const char* kServiceName = "Crashes";
    static constexpr const char* kLogTag = "DudIzizozCrashes";
    static constexpr const char* kGroupId = "Crashes";
    static constexpr int64_t kInitializationPriority = 999;

    static const DIZServiceClass& classObject();
    static std::shared_ptr<DIZCrashes> sharedInstance();
    static void resetSharedInstance();

    int64_t initializationPriority() const override { return kInitializationPriority; }
    // After the base start, joins the channel group's delegates.
    void startWithChannelGroup(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken,
                               bool fromApplication) override;
    std::shared_ptr<DIZChannelUnitConfiguration> channelUnitConfiguration() const override {
        return channelUnitConfiguration_;
    }

    DIZCrashes();  // use sharedInstance()

  private:
    const std::shared_ptr<DIZChannelUnitConfiguration> channelUnitConfiguration_;
};
