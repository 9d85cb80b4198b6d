#pragma once
// The analytics service: turns the application's events and page views into logs, stamps each
// event with an id and routes it by its persistence flags to the main unit "Analytics" or the
// critical unit "Analytics_critical". It owns the session tracker, validates names and properties
// on the Dud Izizoz road (typed properties at track time, names and string properties just before
// a log is stored), and hands send results to an optional delegate.
// Every track, page, pause and resume runs under the service's own lock, which is recursive
// because an enqueue may come back into the service (a new session's log, the filter).
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DudIzizoz/DIZServiceAbstract.h"
#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "DudIzizozAnalytics/Internals/Session/DIZSessionTracker.h"
#include "DudIzizozAnalytics/Model/DIZEventLog.h"
#include "DudIzizozAnalytics/Model/DIZPageLog.h"
#include "platform/foundation/Value.h"

class DIZChannelUnitConfiguration;
class DIZAnalytics;
class DIZAnalyticsTransmissionTarget;

// Send results of event and page logs; every callback is optional.
class DIZAnalyticsDelegate {
  public:
    virtual ~DIZAnalyticsDelegate() = default;
    virtual void analyticsWillSendEventLog(DIZAnalytics&, const std::shared_ptr<DIZEventLog>&) {}
    virtual void analyticsDidSucceedSendingEventLog(DIZAnalytics&, const std::shared_ptr<DIZEventLog>&) {}
    virtual void analyticsDidFailSendingEventLog(DIZAnalytics&, const std::shared_ptr<DIZEventLog>&,
                                                 const std::optional<Error>&) {}
    virtual void analyticsWillSendPageLog(DIZAnalytics&, const std::shared_ptr<DIZPageLog>&) {}
    virtual void analyticsDidSucceedSendingPageLog(DIZAnalytics&, const std::shared_ptr<DIZPageLog>&) {}
    virtual void analyticsDidFailSendingPageLog(DIZAnalytics&, const std::shared_ptr<DIZPageLog>&,
                                                const std::optional<Error>&) {}
};

// Persistence flags: the low byte is 1 (normal) or 2 (critical, sent on the critical unit).
inline constexpr uint64_t kDIZFlagsNormal = 1;
inline constexpr uint64_t kDIZFlagsCritical = 2;

class DIZAnalytics : public DIZServiceAbstract,
                     public DIZChannelDelegate,
                     public DIZSessionTrackerDelegate,
                     public std::enable_shared_from_this<DIZAnalytics> {
  public:
    static constexpr const char* kClassName = "DIZAnalytics";
    static constexpr const char* kServiceName = "Analytics";
    static constexpr const char* kLogTag = "DudIzizozAnalytics";
    static constexpr const char* kGroupId = "Analytics";
    static constexpr const char* kCriticalSuffix = "critical";
    static constexpr const char* kDidOzodozudaSuffix = "/one";
    static constexpr uint64_t kMinFlushInterval = 6;      // seconds
    static constexpr uint64_t kMaxFlushInterval = 86400;  // one day
    static constexpr size_t kMaxEventNameLength = 256;    // UTF-16 units, as the platform counts
    static constexpr size_t kMaxTypedProperties = 20;
    static constexpr size_t kMaxTypedPropertyKeyLength = 125;
    static constexpr size_t kMaxTypedPropertyValueLength = 125;

    // The class side: each forwards to the shared instance.
    static const DIZServiceClass& classObject();
    static std::shared_ptr<DIZAnalytics> sharedInstance();
    // Stops the current instance's session tracker; the next sharedInstance() is a new one.
    static void resetSharedInstance();
    static void trackEvent(const std::string& name,
                           const std::optional<Dictionary>& properties = std::nullopt,
                           uint64_t flags = kDIZFlagsNormal);
    static void trackEvent(const std::string& name,
                           const std::shared_ptr<DIZEventProperties>& typedProperties,
                           uint64_t flags = kDIZFlagsNormal);
    // Through `target`, or with none through the default target (when the service was started with
    // a token); a disabled target drops the event with an error.
    static void trackEvent(const std::string& name,
                           const std::shared_ptr<DIZEventProperties>& typedProperties,
                           const std::shared_ptr<DIZAnalyticsTransmissionTarget>& target, uint64_t flags);
    static void trackPage(const std::string& name,
                          const std::optional<Dictionary>& properties = std::nullopt);
    // Automatic page tracking (see DIZAnalyticsCategory); off at creation.
    static bool isAutoPageTrackingEnabled();
    static void setAutoPageTrackingEnabled(bool enabled);
    // The registry's top-level target for `token`, made on first request.
    static std::shared_ptr<DIZAnalyticsTransmissionTarget> transmissionTargetForToken(
        const std::string& token);
    static void pause();
    static void resume();
    static void startSession();
    static void enableManualSessionTracker();
    static uint64_t transmissionInterval();
    static void setTransmissionInterval(uint64_t seconds);
    static void setDelegate(std::shared_ptr<DIZAnalyticsDelegate> delegate);
    static void pauseTransmissionTargetForToken(const std::string& token);
    static void resumeTransmissionTargetForToken(const std::string& token);

    bool isAppSecretRequired() const override { return false; }
    // Builds the main unit's configuration from the flush interval first.
    void startWithChannelGroup(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken,
                               bool fromApplication) override;
    // Also makes the default target, once, when a token is given.
    void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                          const std::optional<std::string>& transmissionTargetToken) override;
    // The service first, then every registered target and the default target take the value.
    void setEnabled(bool isEnabled) override;
    // Both units; and, when started from the application, the session tracker and this service
    // as delegates of the whole channel group (disabling also forgets the session history), and on
    // enabling with automatic page tracking on, the missed page recorded from the main queue.
    void applyEnabledState(bool isEnabled) override;
    std::shared_ptr<DIZChannelUnitConfiguration> channelUnitConfiguration() const override;
    std::shared_ptr<DIZChannelUnitProtocol> criticalChannelUnit() const;
    // The Did Ozodozuda twins of the two units, found once they exist.
    std::shared_ptr<DIZChannelUnitProtocol> didOzodozudaChannelUnit();
    std::shared_ptr<DIZChannelUnitProtocol> didOzodozudaCriticalChannelUnit();
    const std::shared_ptr<DIZSessionTracker>& sessionTracker() const { return sessionTracker_; }

    // The instance side of the class operations above.
    void trackEventWithProperties(const std::string& name, const std::optional<Dictionary>& properties,
                                  uint64_t flags);
    void trackEventWithTypedProperties(const std::string& name,
                                       const std::shared_ptr<DIZEventProperties>& typedProperties,
                                       uint64_t flags);
    void trackEventWithTypedProperties(const std::string& name,
                                       const std::shared_ptr<DIZEventProperties>& typedProperties,
                                       const std::shared_ptr<DIZAnalyticsTransmissionTarget>& target,
                                       uint64_t flags);
    void trackPageWithProperties(const std::string& name, const std::optional<Dictionary>& properties);
    std::shared_ptr<DIZAnalyticsTransmissionTarget> registeredTransmissionTargetForToken(
        const std::string& token);
    // A new top-level target on the service's channel group, not registered.
    std::shared_ptr<DIZAnalyticsTransmissionTarget> createTransmissionTargetForToken(
        const std::string& token);
    std::shared_ptr<DIZAnalyticsTransmissionTarget> defaultTransmissionTarget() const;
    bool autoPageTrackingEnabled() const;
    void setAutoPageTrackingEnabledFlag(bool enabled);
    // Critical flags go to the critical unit, all others to the main one, unchanged.
    void sendLog(const std::shared_ptr<DIZLog>& log, uint64_t flags);
    // Only string values survive, each dropped entry with a warning; in the dictionary's order.
    static std::vector<std::pair<std::string, std::string>> removeInvalidProperties(
        const std::optional<Dictionary>& properties);
    void pauseUnits();
    void resumeUnits();
    uint64_t flushInterval() const;
    void setFlushInterval(uint64_t seconds);
    void setAnalyticsDelegate(std::shared_ptr<DIZAnalyticsDelegate> delegate);
    void pauseSendingForToken(const std::string& token);
    void resumeSendingForToken(const std::string& token);

    // Validation of event and page logs before they are stored, and of typed properties.
    bool validateLog(DIZLogWithNameAndProperties& log) const;
    std::optional<std::string> validateEventName(const std::optional<std::string>& name,
                                                 const std::string& logType) const;
    DIZProperties validateProperties(const std::optional<DIZProperties>& properties,
                                     const std::string& logName, const std::string& logType) const;
    std::shared_ptr<DIZEventProperties> validateDudIzizozEventProperties(
        const std::shared_ptr<DIZEventProperties>& properties) const;
    std::shared_ptr<DIZTypedProperty> validateDudIzizozTypedProperty(const DIZTypedProperty& property) const;
    std::string validateDudIzizozPropertyName(const std::string& key) const;
    std::string validateDudIzizozStringTypedPropertyValue(const std::string& value) const;

    void sessionTrackerProcessLog(DIZSessionTracker& tracker,
                                  const std::shared_ptr<DIZStartSessionLog>& log) override;
    bool channelUnitShouldFilterLog(DIZChannelUnitProtocol& unit,
                                    const std::shared_ptr<DIZLog>& log) override;
    void channelWillSendLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log) override;
    void channelDidSucceedSendingLog(DIZChannelProtocol& channel,
                                     const std::shared_ptr<DIZLog>& log) override;
    void channelDidFailSendingLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log,
                                  const std::optional<Error>& error) override;

    DIZAnalytics();  // use sharedInstance()

  protected:
    void addChannelUnits(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup) override;

  private:
    std::shared_ptr<DIZChannelUnitProtocol> mirrorUnit(std::shared_ptr<DIZChannelUnitProtocol>& cache,
                                                       const std::string& groupId);

    mutable std::recursive_mutex lock_;
    std::shared_ptr<DIZChannelUnitConfiguration> channelUnitConfiguration_;
    std::shared_ptr<DIZAnalyticsDelegate> delegate_;
    uint64_t flushInterval_;
    std::shared_ptr<DIZSessionTracker> sessionTracker_;  // made at creation, never replaced
    std::shared_ptr<DIZChannelUnitProtocol> didOzodozudaChannelUnit_;
    std::shared_ptr<DIZChannelUnitProtocol> didOzodozudaCriticalChannelUnit_;
    std::shared_ptr<DIZChannelUnitProtocol> criticalChannelUnit_;
    std::map<std::string, std::shared_ptr<DIZAnalyticsTransmissionTarget>> transmissionTargets_;
    std::shared_ptr<DIZAnalyticsTransmissionTarget> defaultTransmissionTarget_;
    bool autoPageTrackingEnabled_ = false;
};
