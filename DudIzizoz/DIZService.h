#pragma once
// The seam between the facade and a service (a feature module such as analytics or crashes).
// `DIZServiceCommon` is what the facade drives in a service instance; `DIZServiceClass` is the
// class side of a service, which callers name when they start it or switch it on and off.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class DIZChannelGroupProtocol;
class DIZChannelUnitProtocol;
class DIZChannelUnitConfiguration;
class DIZServiceAbstract;

inline constexpr int64_t kDIZDefaultInitializationPriority = 500;

class DIZServiceCommon {
  public:
    virtual ~DIZServiceCommon() = default;

    virtual void applyEnabledState(bool isEnabled) = 0;
    virtual bool canBeUsed() = 0;
    virtual void startWithChannelGroup(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup,
                                       const std::optional<std::string>& appSecret,
                                       const std::optional<std::string>& transmissionTargetToken,
                                       bool fromApplication) = 0;
    // For a service that a library started and the application starts again.
    virtual void updateConfigurationWithAppSecret(
        const std::optional<std::string>& appSecret,
        const std::optional<std::string>& transmissionTargetToken) = 0;
    virtual bool isAppSecretRequired() const = 0;
    virtual bool isStartedFromApplication() const = 0;
    virtual bool isAvailable() = 0;
    virtual bool isEnabled() = 0;
    virtual void setEnabled(bool isEnabled) = 0;
    virtual std::shared_ptr<DIZChannelGroupProtocol> channelGroup() const = 0;
    virtual void setChannelGroup(std::shared_ptr<DIZChannelGroupProtocol> channelGroup) = 0;
    virtual std::shared_ptr<DIZChannelUnitProtocol> channelUnit() const = 0;
    virtual void setChannelUnit(std::shared_ptr<DIZChannelUnitProtocol> channelUnit) = 0;
    virtual std::optional<std::string> appSecret() const = 0;
    virtual void setAppSecret(std::optional<std::string> appSecret) = 0;
    virtual std::optional<std::string> defaultTransmissionTargetToken() const = 0;
    virtual void setDefaultTransmissionTargetToken(std::optional<std::string> token) = 0;
    // Services start from the highest priority down.
    virtual int64_t initializationPriority() const = 0;
    // A service without one starts without a unit of its own.
    virtual std::shared_ptr<DIZChannelUnitConfiguration> channelUnitConfiguration() const { return nullptr; }
};

// The class methods of a service: its names, its one instance, and its enabled switch, which acts
// only once the service is started and refuses any change while the whole client is disabled.
class DIZServiceClass {
  public:
    virtual ~DIZServiceClass() = default;

    // "DIZAnalytics"
    virtual std::string className() const = 0;
    virtual std::string serviceName() const = 0;
    virtual std::string logTag() const = 0;
    virtual std::shared_ptr<DIZServiceAbstract> sharedInstance() const = 0;

    bool isEnabled() const;
    void setEnabled(bool isEnabled) const;
};

// The class side of `Service`, from its static members kClassName, kServiceName, kLogTag and
// sharedInstance().
template <class Service>
class DIZServiceClassOf final : public DIZServiceClass {
  public:
    std::string className() const override { return Service::kClassName; }
    std::string serviceName() const override { return Service::kServiceName; }
    std::string logTag() const override { return Service::kLogTag; }
    std::shared_ptr<DIZServiceAbstract> sharedInstance() const override { return Service::sharedInstance(); }
};
