#pragma once
// Who an SDK is, as sent to the experiment service: name, version, app ID, diversion key and
// custom properties, plus a provider of properties computed at each fetch.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "measurement/wire/ZDMPBExperimentMessages.h"

class ZDMESDKProperty;

class ZDMESDKPropertyProviderDelegate {
  public:
    virtual ~ZDMESDKPropertyProviderDelegate() = default;
    // Merged over the static custom properties at every fetch; nullopt when the provider has none
    // to give.
    virtual std::optional<std::map<std::string, std::string>> dynamicCustomPropertiesForSDKProperty(
        const ZDMESDKProperty& property) = 0;
};

class ZDMESDKProperty {
  public:
    using CustomProperties = std::map<std::string, std::string>;
    // The installation's own diversion key, used for SDKs without a key of their own; the shared
    // identity's unless replaced.
    using IdentityDiversionKey = std::function<std::optional<std::string>()>;

    // Any name passes, the empty one included.
    static std::shared_ptr<ZDMESDKProperty> initWithName(const std::string& name);
    explicit ZDMESDKProperty(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    int64_t version() const;
    void setVersion(int64_t version);
    std::optional<std::string> appID() const;
    void setAppID(std::optional<std::string> appID);
    std::optional<std::string> diversionKey() const;
    void setDiversionKey(std::optional<std::string> diversionKey);
    CustomProperties customProperties() const;
    void setCustomProperties(CustomProperties customProperties);
    std::weak_ptr<ZDMESDKPropertyProviderDelegate> delegate() const;
    void setDelegate(std::weak_ptr<ZDMESDKPropertyProviderDelegate> delegate);

    // The client property sent to the service; nullptr (860001) when neither this SDK nor the
    // installation has a diversion key, since the service cannot divert without one.
    std::shared_ptr<ZDMPBClientProperty> proto() const;

    // Replaces the shared identity as the source of the installation's key; nullptr restores it.
    static void setIdentityDiversionKey(IdentityDiversionKey source);

  private:
    const std::string name_;
    mutable std::mutex mutex_;
    int64_t version_ = 0;
    std::optional<std::string> appID_;
    std::optional<std::string> diversionKey_;
    CustomProperties customProperties_;
    std::weak_ptr<ZDMESDKPropertyProviderDelegate> delegate_;
};
