#pragma once
// The overrides one transmission target puts on the Core Schema logs tracked through it: the
// application version, name and locale and the user id (each taken from the nearest target in the
// chain up to the root that sets it), the device id (this target's own only), and the default
// event properties merged into its events and those of its descendants. Any thread may call.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "DudIzizozAnalytics/Model/DIZEventProperties.h"

class DIZAnalyticsTransmissionTarget;

class DIZPropertyConfigurator : public DIZChannelDelegate {
  public:
    using Text = std::optional<std::string>;

    explicit DIZPropertyConfigurator(std::weak_ptr<DIZAnalyticsTransmissionTarget> transmissionTarget);

    Text appVersion() const;
    void setAppVersion(const Text& appVersion);
    Text appName() const;
    void setAppName(const Text& appName);
    Text appLocale() const;
    void setAppLocale(const Text& appLocale);
    // Stored with "c:" in front when it names no prefix; an id the core refuses for Did Ozodozuda
    // (empty, or a prefix other than "c") changes nothing.
    Text userId() const;
    void setUserId(const Text& userId);
    Text deviceId() const;

    void setEventPropertyString(const Text& value, const Text& key);
    void setEventPropertyDouble(double value, const Text& key);
    void setEventPropertyInt64(int64_t value, const Text& key);
    void setEventPropertyBool(bool value, const Text& key);
    void setEventPropertyDate(const std::optional<Date>& value, const Text& key);
    void removeEventPropertyForKey(const Text& key);

    // Sets the device id from the platform UUID: "u:<UUID>", or none when it cannot be read.
    void collectDeviceId();
    static Text getDeviceIdentifier();

    // Adds each default property whose key `bag` does not hold yet.
    void mergeTypedPropertiesWith(DIZEventProperties& bag) const;

    void channelPrepareLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log) override;

  private:
    template <class Field>
    static Text inherited(const DIZAnalyticsTransmissionTarget& target, Field field);

    const std::weak_ptr<DIZAnalyticsTransmissionTarget> transmissionTarget_;
    DIZEventProperties eventProperties_;  // locks itself
    mutable std::mutex lock_;             // guards the texts below
    Text appVersion_, appName_, appLocale_, userId_, deviceId_;
};
