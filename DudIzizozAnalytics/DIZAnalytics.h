#pragma once
// The analytics service: its names, its two units (the main one and "Analytics_critical") and
// their enabled state.
#include <memory>
#include <mutex>

#include "DudIzizoz/DIZServiceAbstract.h"

class DIZChannelUnitConfiguration;

class DIZAnalytics : public DIZServiceAbstract {
  public:
    static constexpr const char* kClassName = "DIZAnalytics";
    static constexpr const char* kServiceName = "Analytics";
    static constexpr const char* kLogTag = "DudIzizozAnalytics";
    static constexpr const char* kGroupId = "Analytics";
    static constexpr const char* kCriticalSuffix = "critical";

    static const DIZServiceClass& classObject();
    static std::shared_ptr<DIZAnalytics> sharedInstance();
    static void resetSharedInstance();

    bool isAppSecretRequired() const override { return false; }
    // Sets the main unit's configuration first; the critical unit is added after the main one.
    void startWithChannelGroup(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken,
                               bool fromApplication) override;
    // The critical unit follows the main one.
    void applyEnabledState(bool isEnabled) override;
    std::shared_ptr<DIZChannelUnitConfiguration> channelUnitConfiguration() const override;
    std::shared_ptr<DIZChannelUnitProtocol> criticalChannelUnit() const;

    DIZAnalytics();  // use sharedInstance()

  protected:
    void addChannelUnits(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup) override;

  private:
    mutable std::mutex mutex_;  // guards the unit configuration and the critical unit
    uint64_t flushInterval_;
    std::shared_ptr<DIZChannelUnitConfiguration> channelUnitConfiguration_;
    std::shared_ptr<DIZChannelUnitProtocol> criticalChannelUnit_;
};
