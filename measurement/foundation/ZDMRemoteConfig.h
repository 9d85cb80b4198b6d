#pragma once
// The server-side measurement configuration of one app, turned into fast lookups: sixty-six named
// settings with defaults and bounds. A setting arrives as the server's text and is parsed, converted
// and bounded on the first read, then kept as a number until the next parse or reset; a text that
// does not parse, or a number outside the bounds, yields the setting's default (never the bound).
// Intervals arrive in milliseconds and are answered in seconds; flags count only 0 and 1.
//
// Getters may be called from any thread: the caches are thread-safe dictionaries, each operation
// atomic, with no lock over a read-convert-store (two threads converting one text store the same
// number).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/foundation/ZDMRemoteConfigEventEditing.h"
#include "measurement/foundation/ZDMRemoteConfigExperiments.h"
#include "platform/foundation/Value.h"

class ZDMDatabase;
class ZDMPBEventConfig;
class ZDMPBMeasurementConfig;
class ZIZMutableDictionary;

class ZDMRemoteConfig : public std::enable_shared_from_this<ZDMRemoteConfig> {
  public:
    using ZDMEManager = ZDMRemoteConfigExperimentManager;
    static constexpr const char* kExperimentSDKName = "measurement_engine";

    // The process-wide instance without app ID or database: it never touches a database and
    // answers every setting with its default.
    static std::shared_ptr<ZDMRemoteConfig> defaultInstance();
    // nullptr, logged, for an empty app ID or a missing database. Observes its experiment client.
    static std::shared_ptr<ZDMRemoteConfig> initWithAppID(const std::string& appID,
                                                          const std::shared_ptr<ZDMDatabase>& database,
                                                          std::shared_ptr<ZDMEManager> experimentManager);
    // Every argument may be empty; without app ID and database it makes a default instance. With an
    // experiment manager it registers as the SDK "measurement_engine" with four flags at 0 and
    // activates the latest snapshot (29023 on failure); with a database, the configuration stored
    // there is loaded and parsed.
    ZDMRemoteConfig(std::string appID, const std::shared_ptr<ZDMDatabase>& database,
                    std::shared_ptr<ZDMEManager> experimentManager);
    ~ZDMRemoteConfig();

    bool isDefaultInstance() const { return isDefaultInstance_; }
    const std::string& appID() const { return appID_; }
    // Empties the caches and the data-control list and, unless default, drops the configuration.
    void reset();
    std::vector<std::string> dataControls() const;

    // The server's configuration. An update must be this app's (29002-29005, 29022): it is stored
    // with the time, kept and parsed; a refused one leaves everything in force. A parse rebuilds
    // every cache from the message unless it has no settings list (29012) or is another app's.
    bool updateMeasurementConfig(const std::shared_ptr<ZDMPBMeasurementConfig>& config);
    void parseRemoteConfigFromMeasurementConfig(const ZDMPBMeasurementConfig* config);
    std::shared_ptr<ZDMPBMeasurementConfig> measurementConfigFromDatabase() const;
    std::shared_ptr<ZDMPBMeasurementConfig> remoteConfigProto() const;
    // The program loaded from the last configuration that carried one; nullptr when none or when
    // that configuration's first program failed to load.
    std::shared_ptr<ZDMRemoteConfigEventEditing> eventEditing() const;

    // Experiments. A new snapshot is only marked; activateNewSnapshot activates a marked one and
    // keeps the mark when that fails (29024), so the next call tries again.
    void clientDidReceiveNewSnapshot();
    void clientDidReceiveFetchError(const std::optional<Error>& error);
    bool activateNewSnapshot();
    std::vector<int64_t> experimentIDs() const;
    const std::shared_ptr<ZDMRemoteConfigExperimentClient>& experimentClient() const {
        return experimentClient_;
    }

    // The configuration's version; -1 without one.
    int64_t version() const;
    // When the stored configuration was fetched; 0 when never, on the default instance or on failure.
    double lastRemoteConfigUpdateTimestamp() const;
    // At least remoteConfigCacheTimeInterval from now, past or future; never on the default instance.
    bool isExpired() const;
    // The upload endpoint "/a" on the measurement host, behind the configuration's sub-domain.
    std::string uploadURL() const;
    // ".../config/app/<app ID>?app_instance_id=…&platform=…&runtime_version=…&zor_version=…"; the
    // app instance ID is left empty while analytics storage is denied. nullopt (29010) without a
    // platform, or without an app instance ID while it counts.
    std::optional<std::string> remoteConfigURLWithAppInstanceID(
        const std::optional<std::string>& appInstanceID, const std::optional<std::string>& platform,
        int64_t SDKVersion, int64_t runtimeVersion) const;

    // Per-event settings, by internal name for reserved events.
    std::shared_ptr<ZDMPBEventConfig> eventConfigWithName(const std::string& eventName) const;
    // The event's own flag when it says YES, else the global public or internal blocklist.
    bool isEventBlocklisted(const std::string& eventName) const;
    bool isEventCustomConversion(const std::string& eventName) const;
    bool eventHasSamplingRate(const std::string& eventName) const;
    // 2..65535 as configured; 1 otherwise.
    int32_t samplingRateForEvent(const std::string& eventName) const;

    // Shared readers behind the getters.
    // A plain decimal text ("-12", "1500.9", ".5") whatever the locale: an integer when it has no
    // point and fits, else a real. Null for other texts, and (logged) for anything but a text.
    Value numberFromString(const Value& object) const;
    // Stores the value under the key and answers it; a null value or empty key is logged and
    // answered as null without storing.
    Value cacheValue(const Value& value, const std::string& key) const;
    // The cached number, else the cached text parsed, converted and checked against the bounds (a
    // null bound is none), stored in place of the text; an absent key stores the default.
    Value numberFromCacheWithKey(const std::string& key, const Value& defaultValue, const Value& maxValue,
                                 const Value& minValue,
                                 const std::function<Value(const Value&)>& block = nullptr) const;
    // Milliseconds from the server, seconds in the bounds and the answer.
    double timeIntervalInSecondsFromCacheWithKey(const std::string& key, double defaultValue, double maxValue,
                                                 double minValue) const;
    int32_t intValueFromCacheWithKey(const std::string& key, int32_t defaultValue, int32_t maxValue,
                                     int32_t minValue) const;
    int64_t int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue, int64_t maxValue,
                                       int64_t minValue) const;
    int64_t int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue) const;
    // YES exactly when the setting reads as the int32 1 within 0..1.
    bool boolValueFromCacheWithKey(const std::string& key, bool defaultValue) const;

    // The settings. The six flags that an experiment may override read the setting only when the
    // experiment client has no value for them (or there is no client).
    double uploadingBackoffInterval() const;
    int32_t maxAudienceCount() const;
    int32_t maxFiltersPerAudience() const;
    int32_t maxFilterResultCount() const;
    int32_t maxParametersPerFilter() const;
    double databaseDeleteStaleBundlesInterval() const;
    double maxQueueTime() const;
    double adIDCacheTime() const;
    bool gateIDFAOnATTMASEnabled() const;
    double monitoringSamplePeriod() const;
    bool isNetworkBackgroundSessionEnabled() const;
    double networkTimeout() const;
    double sessionDefaultMinimumInterval() const;
    double sessionDefaultTimeoutInterval() const;
    double sessionEventUserEngagementInterval() const;
    bool efficientEngagementReportingEnabled() const;
    bool redundantEngagementRemovalEnabled() const;
    int32_t maxConversionsPerDay() const;
    int32_t maxEventsPerDay() const;
    int32_t maxPublicEventsPerDay() const;
    int32_t maxErrorEventsPerDay() const;
    int32_t maxTrackedCurrencies() const;
    int32_t maxPublicUserProperties() const;
    int32_t maxEventNameCardinality() const;
    int32_t maxPublicEventParams() const;
    int32_t maxEventsStored() const;
    double uploadingInterval() const;
    double uploadingInitialDelayInterval() const;
    int64_t uploadMaxBundlesLimit() const;
    int64_t uploadMaxEventsPerBundle() const;
    int64_t uploadMaxSizeLimitBytes() const;
    int32_t uploadingRetryCount() const;
    double uploadingRetryInterval() const;
    int32_t maxBundlesCreatedPerIteration() const;
    int32_t maxRealtimeEventCountPerDay() const;
    double uploadingDebugModeInterval() const;
    double uploadingRealTimeInterval() const;
    bool blocklistInternal() const;
    bool blocklistPublic() const;
    bool isEventSamplingEnabled() const;
    int32_t analyticsAccountTimeZoneOffsetMinutes() const;
    bool checksumEnabled() const;
    bool appBackgroundedEventEnabled() const;
    bool appInBackgroundParameterEnabled() const;
    bool eesFeatureEnabled() const;
    bool itemScopedCustomParameterEnabled() const;
    int32_t maxItemScopedCustomParameters() const;
    bool PSMFeatureEnabled() const;
    int32_t maxPSMStartCount() const;
    int32_t maxPSMRetryCount() const;
    double PSMRetryInterval() const;
    bool isDeferredDeepLinkEnabled() const;
    int32_t maxDeferredDeepLinkRetryCount() const;
    double attributionCacheTTLInterval() const;
    double remoteConfigCacheTimeInterval() const;
    bool isSessionIDEnabled() const;
    bool persistentConfigInApplicationSupportEnabled() const;
    bool sessionStitchingTokenFeatureEnabled() const;
    bool SKANUpdateConversionValueEnabled() const;
    double SKANInitialCVFetchDelay() const;
    double SKANCVFetchRetryInterval() const;
    int32_t SKANCVFetchRetryLimit() const;
    double SKANFirstWindowCVFetchDelay() const;
    double SKANFirstWindowCVFetchRetryInterval() const;
    int32_t SKANFirstWindowCVFetchRetryLimit() const;
    double SKANFirstWindowUploadInterval() const;

  private:
    std::shared_ptr<ZIZMutableDictionary> settingsCache() const;
    std::shared_ptr<ZIZMutableDictionary> eventConfigCache() const;
    void loadFromDatabase();
    // False when the configuration's first program failed to load.
    bool loadEventEditing(const ZDMPBMeasurementConfig& config);
    void registerWithExperimentManager();
    // The client's flag when it has one, else the setting.
    bool experimentFlagOrSetting(const std::string& flagName, const std::string& key) const;

    const bool isDefaultInstance_;
    const std::string appID_;
    const std::weak_ptr<ZDMDatabase> database_;
    const std::shared_ptr<ZDMEManager> experimentManager_;
    std::shared_ptr<ZDMRemoteConfigExperimentClient> experimentClient_;
    std::atomic<bool> hasNewSnapshot_{false};  // written under mutex_, read without it
    // Replaced whole by reset(), so a reader holds the dictionary it took under the lock.
    mutable std::mutex mutex_;
    std::shared_ptr<ZIZMutableDictionary> cachedValueByRemoteConfigKeys_;
    std::shared_ptr<ZIZMutableDictionary> cachedEventConfigByEventName_;
    std::vector<std::string> cachedDataControls_;
    std::shared_ptr<ZDMPBMeasurementConfig> remoteConfigProto_;
    std::shared_ptr<ZDMRemoteConfigEventEditing> eventEditing_;
};
