#pragma once
// The measurement library's small persistent state: 34 values under "/zizoda/measurement/…" keys
// in a configuration store (a plist in the support directory or a defaults suite, by the facade's
// store choice, which moves the file at creation). Typed reads and writes run on the serial queue
// "ZDMPersistedConfig"; a typed write schedules one synchronisation of the store a second later,
// and a further typed write within that second moves it on (plain object writes schedule none).
// The enable state lives in the application's standard defaults and survives clearValues.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "measurement/foundation/ZDMConfigStore.h"

class DispatchQueue;

class ZDMPersistedConfig : public std::enable_shared_from_this<ZDMPersistedConfig> {
  public:
    static constexpr const char* kSuiteName = "com.zizoda.measurement.config";

    // Null (27001 logged) when it could not be made.
    static std::shared_ptr<ZDMPersistedConfig> sharedInstance();
    // nullptr for an empty name. Moves the store's file to where the store choice wants it.
    static std::shared_ptr<ZDMPersistedConfig> make(const std::string& suiteName);
    // Over a store of the caller's (tests observe its synchronisations).
    ZDMPersistedConfig(std::string name, std::shared_ptr<ZDMConfigStore> store);
    ~ZDMPersistedConfig();

    const std::string& name() const { return name_; }
    const std::shared_ptr<ZDMConfigStore>& store() const { return store_; }

    // Typed primitives. A missing (empty) key answers the default at once.
    bool boolForKey(const std::string& key);
    int64_t int64ForKey(const std::string& key);
    int64_t int64ForKey(const std::string& key, ZDMConfigStore& userDefault);
    double doubleForKey(const std::string& key);
    std::optional<std::string> stringForKey(const std::string& key);
    std::optional<Dictionary> dictionaryForKey(const std::string& key);
    // Whatever is stored, of any kind.
    std::optional<Value> numberForKey(const std::string& key);
    void setBool(bool value, const std::string& key);
    void setInt64(int64_t value, const std::string& key);
    void setDouble(double value, const std::string& key);
    void setString(const std::optional<std::string>& value, const std::string& key);
    // A dictionary the store refuses with an exception is logged (27002) and changes nothing.
    void setDictionary(const std::optional<Dictionary>& value, const std::string& key);
    void setNumber(const std::optional<Value>& value, const std::string& key);

    void clearValues();
    // Off the main thread the store is synchronised at once; on it, only scheduled.
    void synchronizeToDisk();
    void scheduleSynchronizeToDisk();
    void cancelScheduledSynchronize();
    void updateConfigStoreMigrationFlagIfNeeded();

    // Path T unless noted.
    double lastDeleteStaleBundlesTimestamp() { return doubleForKey(key("last_delete_stale")); }
    void setLastDeleteStaleBundlesTimestamp(double v) { setDouble(v, key("last_delete_stale")); }
    // Path D: on the calling thread; the setter keeps only numbers.
    std::optional<Value> searchAdCampaignValue();
    void setSearchAdCampaignValue(const std::optional<Value>& value);
    double lastSearchAdLookUpTimestamp() { return doubleForKey(key("search_ad_last_attempt_timestamp")); }
    void setLastSearchAdLookUpTimestamp(double v) { setDouble(v, key("search_ad_last_attempt_timestamp")); }
    int64_t searchAdRetryCount() { return int64ForKey(key("search_ad_number_of_retries")); }
    void setSearchAdRetryCount(int64_t v) { setInt64(v, key("search_ad_number_of_retries")); }
    std::optional<std::string> appInstanceID() { return stringForKey(key("app_instance_id")); }
    void setAppInstanceID(const std::optional<std::string>& v) { setString(v, key("app_instance_id")); }
    std::optional<std::string> appIDFromZOR() { return stringForKey(key("zor_app_id")); }
    void setAppIDFromZOR(const std::optional<std::string>& v) { setString(v, key("zor_app_id")); }
    std::optional<std::string> appIDFromAdSdk() { return stringForKey(key("adsdk_app_id")); }
    void setAppIDFromAdSdk(const std::optional<std::string>& v) { setString(v, key("adsdk_app_id")); }
    std::optional<std::string> hashedResettableDeviceID() { return stringForKey(key("hashed_idfa")); }
    void setHashedResettableDeviceID(const std::optional<std::string>& v) { setString(v, key("hashed_idfa")); }
    std::optional<std::string> diversionKey() { return stringForKey(key("diversion_key")); }
    void setDiversionKey(const std::optional<std::string>& v) { setString(v, key("diversion_key")); }
    // Path S: the application's standard defaults.
    int64_t measurementEnabledState();
    void setMeasurementEnabledState(int64_t state);
    double lastBackoffTimestamp() { return doubleForKey(key("last_backoff")); }
    void setLastBackoffTimestamp(double v) { setDouble(v, key("last_backoff")); }
    double lastSuccessfulUploadTimestamp() { return doubleForKey(key("last_successful_upload")); }
    void setLastSuccessfulUploadTimestamp(double v) { setDouble(v, key("last_successful_upload")); }
    double lastFailedUploadTimestamp() { return doubleForKey(key("last_failed_upload")); }
    void setLastFailedUploadTimestamp(double v) { setDouble(v, key("last_failed_upload")); }
    std::optional<std::string> appVersion() { return stringForKey(key("app_version")); }
    void setAppVersion(const std::optional<std::string>& v) { setString(v, key("app_version")); }
    std::optional<std::string> osVersion() { return stringForKey(key("os_version")); }
    void setOSVersion(const std::optional<std::string>& v) { setString(v, key("os_version")); }
    // Drawn in [0, 86400) with millisecond resolution on first read and kept until cleared.
    double midnightOffset();
    double lastMonitorDataSampledTimestamp() { return doubleForKey(key("last_monitor_data_sampled_timestamp")); }
    void setLastMonitorDataSampledTimestamp(double v) { setDouble(v, key("last_monitor_data_sampled_timestamp")); }
    int64_t firstOpenTimestampMilliseconds() { return int64ForKey(key("first_open_timestamp_ms")); }
    void setFirstOpenTimestampMilliseconds(int64_t v) { setInt64(v, key("first_open_timestamp_ms")); }
    // Read on path Q without a kind check.
    std::optional<Value> configServerLastModifiedString() { return plainObject(key("last_modified_since_key")); }
    void setConfigServerLastModifiedString(const std::optional<std::string>& v) {
        setString(v, key("last_modified_since_key"));
    }
    std::optional<std::string> configServerETag() { return stringForKey(key("config_etag")); }
    void setConfigServerETag(const std::optional<std::string>& v) { setString(v, key("config_etag")); }
    std::optional<Value> loadTimestampValue() { return plainObject(key("load_timestamp")); }
    void setLoadTimestampValue(const std::optional<Value>& v) { setPlainObject(v, key("load_timestamp")); }
    std::optional<Value> allowPersonalizedAds() { return plainObject(key("allow_personalized_ads")); }
    void setAllowPersonalizedAds(const std::optional<Value>& v) { setPlainObject(v, key("allow_personalized_ads")); }
    std::optional<std::string> zudedaroFeatureRollouts() { return stringForKey(key("zudedaro_feature_rollouts")); }
    void setZudedaroFeatureRollouts(const std::optional<std::string>& v) {
        setString(v, key("zudedaro_feature_rollouts"));
    }
    std::optional<Value> deferredDeepLinkRetrievalComplete() { return plainObject(key("deep_link_retrieval_complete")); }
    void setDeferredDeepLinkRetrievalComplete(const std::optional<Value>& v) {
        setPlainObject(v, key("deep_link_retrieval_complete"));
    }
    int64_t deferredDeepLinkRetryCount() { return int64ForKey(key("deep_link_retry_count")); }
    void setDeferredDeepLinkRetryCount(int64_t v) { setInt64(v, key("deep_link_retry_count")); }
    bool shouldSetLastAdvertisingIDResetUserProperty() { return lowByte(key("set_last_advertising_id_reset")); }
    void setShouldSetLastAdvertisingIDResetUserProperty(bool v) { setInt64(v, key("set_last_advertising_id_reset")); }
    bool unmatchedFirstOpenWithoutIDFA() { return lowByte(key("unmatched_first_open")); }
    void setUnmatchedFirstOpenWithoutIDFA(bool v) { setInt64(v, key("unmatched_first_open")); }
    std::optional<Value> previousFirstOpenCount() { return numberForKey(key("previous_first_open_count")); }
    void setPreviousFirstOpenCount(const std::optional<Value>& v) { setNumber(v, key("previous_first_open_count")); }
    double lastSessionActivityClockTime() { return doubleForKey(key("last_engagement_end")); }
    void setLastSessionActivityClockTime(double v) { setDouble(v, key("last_engagement_end")); }
    int64_t sessionNumber() { return int64ForKey(key("session_number")); }
    void setSessionNumber(int64_t v) { setInt64(v, key("session_number")); }
    std::optional<Dictionary> defaultEventParameters() { return dictionaryForKey(key("default_event_parameters")); }
    void setDefaultEventParameters(const std::optional<Dictionary>& v) {
        setDictionary(v, key("default_event_parameters"));
    }
    int64_t lastUploadedEventTimestampMillis() { return int64ForKey(key("last_uploaded_event_millis")); }
    void setLastUploadedEventTimestampMillis(int64_t v) { setInt64(v, key("last_uploaded_event_millis")); }
    int64_t SKANEvaluationEventTimeMillis() { return int64ForKey(key("skan_evaluation_event_time_millis")); }
    void setSKANEvaluationEventTimeMillis(int64_t v) { setInt64(v, key("skan_evaluation_event_time_millis")); }
    int64_t SKANEvaluationUpdateBackoffMillis() { return int64ForKey(key("skan_evaluation_update_backoff_millis")); }
    void setSKANEvaluationUpdateBackoffMillis(int64_t v) {
        setInt64(v, key("skan_evaluation_update_backoff_millis"));
    }

    static std::string key(const char* suffix) { return std::string("/zizoda/measurement/") + suffix; }

  private:
    std::optional<Value> plainObject(const std::string& key);
    void setPlainObject(const std::optional<Value>& value, const std::string& key);
    bool lowByte(const std::string& key) { return (int64ForKey(key) & 0xff) != 0; }
    // Runs on the serial queue and waits for it.
    template <class F>
    auto onQueue(F&& work);
    void storeThenSchedule(const Value& value, const std::string& key);
    void runScheduledSynchronize(uint64_t generation);

    const std::string name_;
    const std::shared_ptr<ZDMConfigStore> store_;  // null when it could not be made
    std::shared_ptr<DispatchQueue> serialQueue_;
    std::mutex lock_;  // guards the pending write
    uint64_t synchronizeGeneration_ = 0;
    bool synchronizePending_ = false;
    bool shouldCheckConfigStoreMigrationFlag_ = true;
};
