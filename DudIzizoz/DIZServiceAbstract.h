#pragma once
// The base of every service: its enabled state, persisted per service under "<group id>IsEnabled",
// and its start with the client's channel group, which gives it a channel unit of its own when it
// has a unit configuration. A subclass supplies its class side, its group id and its unit
// configuration; its class side names it to callers as `<Service>::classObject()`.
// Its state is read and written under a lock of its own that no call out of the service holds;
// switches of the enabled state follow one another.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DudIzizoz/DIZService.h"

class DIZServiceAbstract : public DIZServiceCommon {
  public:
    void applyEnabledState(bool isEnabled) override;
    // Logs why at error level when it answers false.
    bool canBeUsed() override;
    void startWithChannelGroup(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken,
                               bool fromApplication) override;
    void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                          const std::optional<std::string>& transmissionTargetToken) override;
    bool isAppSecretRequired() const override { return true; }
    bool isStartedFromApplication() const override;
    bool isAvailable() override;
    // Absent means enabled.
    bool isEnabled() override;
    // A change is applied to the unit first, then stored; the current value changes nothing.
    void setEnabled(bool isEnabled) override;
    std::shared_ptr<DIZChannelGroupProtocol> channelGroup() const override;
    void setChannelGroup(std::shared_ptr<DIZChannelGroupProtocol> channelGroup) override;
    std::shared_ptr<DIZChannelUnitProtocol> channelUnit() const override;
    void setChannelUnit(std::shared_ptr<DIZChannelUnitProtocol> channelUnit) override;
    std::optional<std::string> appSecret() const override;
    void setAppSecret(std::optional<std::string> appSecret) override;
    std::optional<std::string> defaultTransmissionTargetToken() const override;
    void setDefaultTransmissionTargetToken(std::optional<std::string> token) override;
    int64_t initializationPriority() const override { return kDIZDefaultInitializationPriority; }

    // The class side of this service.
    const DIZServiceClass& serviceClass() const { return serviceClass_; }
    const std::string& groupId() const { return groupId_; }
    const std::string& isEnabledKey() const { return isEnabledKey_; }
    bool isStarted() const;

  protected:
    DIZServiceAbstract(const DIZServiceClass& serviceClass, std::string groupId);
    // Part of the start, before the service counts as started: adds the unit of
    // channelUnitConfiguration() to the group, when there is both. A service with more units adds
    // them here, so that no switch of the enabled state can come between them.
    virtual void addChannelUnits(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup);

  private:
    const DIZServiceClass& serviceClass_;
    const std::string groupId_;
    const std::string isEnabledKey_;
    mutable std::mutex lock_;
    // Held while the enabled state is applied and stored: only queued work and logging happen then.
    std::mutex switchLock_;
    bool startedFromApplication_ = false;
    bool started_ = false;
    std::shared_ptr<DIZChannelGroupProtocol> channelGroup_;
    std::shared_ptr<DIZChannelUnitProtocol> channelUnit_;
    std::optional<std::string> appSecret_;
    std::optional<std::string> defaultTransmissionTargetToken_;
};
