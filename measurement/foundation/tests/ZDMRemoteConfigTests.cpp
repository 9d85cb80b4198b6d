#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "MonitorFixture.h"
#include "measurement/foundation/ZDMRemoteConfig.h"

namespace {

class RemoteConfig : public SharedMonitorFixture {
  protected:
    static std::shared_ptr<ZDMRemoteConfig> makeConfig() {
        return std::make_shared<ZDMRemoteConfig>("1:123456:ios:abcdef", nullptr, nullptr);
    }
    // The getter's answer after the server sent `text` for its key, on a fresh configuration.
    static double answerFor(const std::function<double(ZDMRemoteConfig&)>& getter, const std::string& key,
                            const std::string& text) {
        auto config = makeConfig();
        EXPECT_EQ(config->cacheValue(Value(text), key), Value(text));
        return getter(*config);
    }
};

TEST_F(RemoteConfig, FlagsCountOnlyOneAndZeroAfterTheBoundsCheck) {
    struct Case {
        const char* text;
        bool expected;
    };
    // The default is YES, so a text that falls back to it is told apart from NO.
    for (const Case& c :
         {Case{"1", true}, Case{"0", false}, Case{"2", true}, Case{"1.0", true}, Case{"0.5", false},
          Case{"-1", true}, Case{"true", true}, Case{"", true}, Case{" 1", true}}) {
        auto config = makeConfig();
        config->cacheValue(Value(c.text), "measurement.ees_feature_enabled");
        EXPECT_EQ(config->eesFeatureEnabled(), c.expected) << c.text;
    }
}

TEST_F(RemoteConfig, ConvertsTextsByKind) {
    auto config = makeConfig();
    config->cacheValue(Value("12.7"), "measurement.audience.max_count");
    EXPECT_EQ(config->maxAudienceCount(), 12);
    config->cacheValue(Value("1500.9"), "measurement.network.network_timeout");
    EXPECT_EQ(
        config->timeIntervalInSecondsFromCacheWithKey("measurement.network.network_timeout", 60, 3600, 0),
        1.5);
    config->cacheValue(Value("-300"), "measurement.account.time_zone_offset_minutes");
    EXPECT_EQ(config->analyticsAccountTimeZoneOffsetMinutes(), -300);
    config->cacheValue(Value("99999999999999999999999"), "measurement.upload.max_bundles");
    EXPECT_EQ(config->uploadMaxBundlesLimit(), 100);

    // Out of range gives the default, not the bound.
    config->cacheValue(Value("900000000"), "measurement.upload.interval");
    EXPECT_EQ(config->uploadingInterval(), 3600);

    // A count read through the millisecond conversion.
    const std::string key = "measurement.upload.max_bundles_created_per_iteration";
    for (const auto& [text, expected] : {std::pair{"100000", 100}, {"999", 100}, {"5000000", 5000}}) {
        auto fresh = makeConfig();
        fresh->cacheValue(Value(text), key);
        EXPECT_EQ(fresh->maxBundlesCreatedPerIteration(), expected) << text;
    }
}

TEST_F(RemoteConfig, AConvertedSettingIsAnsweredFromTheCache) {
    auto config = makeConfig();
    config->cacheValue(Value("20000"), "measurement.upload.interval");
    EXPECT_EQ(config->uploadingInterval(), 20);
    // Other bounds and no conversion: the stored number stands as it is.
    EXPECT_EQ(config->timeIntervalInSecondsFromCacheWithKey("measurement.upload.interval", 1, 10, 1), 20);
    EXPECT_EQ(config->int64ValueFromCacheWithKey("measurement.upload.interval", 7), 20);

    config->reset();
    EXPECT_EQ(config->uploadingInterval(), 3600);
}

TEST_F(RemoteConfig, RefusedInputIsLoggedAndStoresNothing) {
    auto config = makeConfig();
    EXPECT_EQ(config->numberFromString(Value(5)), Value());
    EXPECT_EQ(lastSampledMessage(), "E:Cannot parse number from non-string");
    EXPECT_EQ(config->cacheValue(Value(), "measurement.upload.interval"), Value());
    EXPECT_EQ(config->cacheValue(Value("5"), ""), Value());
    EXPECT_EQ(lastSampledMessage(), "W:Cannot cache empty configuration value");
    EXPECT_EQ(config->numberFromCacheWithKey("", Value(1), Value(), Value()), Value());
    EXPECT_EQ(config->uploadingInterval(), 3600);

    for (const char* text : {"abc", "1e3", "0x10", "1,5", "--1", "+", "."})
        EXPECT_EQ(config->numberFromString(Value(text)), Value()) << text;
    EXPECT_EQ(config->numberFromString(Value("+7")), Value(7));
    EXPECT_EQ(config->numberFromString(Value(".5")), Value(0.5));
}

TEST_F(RemoteConfig, OnlyAnAppIDAndADatabaseMakeAnInstance) {
    EXPECT_EQ(ZDMRemoteConfig::initWithAppID("", nullptr, nullptr), nullptr);
    EXPECT_EQ(ZDMRemoteConfig::initWithAppID("1:123456:ios:abcdef", nullptr, nullptr), nullptr);
    EXPECT_EQ(loggedCodes(), (std::vector<int64_t>{29000, 29001}));

    const auto fallback = ZDMRemoteConfig::defaultInstance();
    EXPECT_EQ(fallback, ZDMRemoteConfig::defaultInstance());
    EXPECT_TRUE(fallback->isDefaultInstance());
    EXPECT_FALSE(makeConfig()->isDefaultInstance());
}

TEST_F(RemoteConfig, DebugModeAllowsTenStarts) {
    auto config = makeConfig();
    config->cacheValue(Value("2"), "measurement.psm_start_count");
    EXPECT_EQ(config->maxPSMStartCount(), 2);
    monitor_->setDebugModeEnabled(true);
    ASSERT_TRUE(monitor_->isDebugModeEnabled());
    EXPECT_EQ(config->maxPSMStartCount(), 10);
}

enum class Kind { Interval, IntervalCount, Int32, Int64, Flag };

struct Setting {
    const char* getter;
    const char* key;
    Kind kind;
    double defaultValue, minValue, maxValue;
    std::function<double(ZDMRemoteConfig&)> read;
};

// clang-format off
const Setting kSettings[] = {
    {"uploadingBackoffInterval", "measurement.upload.backoff_period", Kind::Interval, 43200, 3600, 604800, [](ZDMRemoteConfig& c) { return double(c.uploadingBackoffInterval()); }},
    {"maxAudienceCount", "measurement.audience.max_count", Kind::Int32, 100, 0, 500, [](ZDMRemoteConfig& c) { return double(c.maxAudienceCount()); }},
    {"maxFiltersPerAudience", "measurement.audience.filter_max_count_per_audience", Kind::Int32, 10, 0, 100, [](ZDMRemoteConfig& c) { return double(c.maxFiltersPerAudience()); }},
    {"maxFilterResultCount", "measurement.audience.filter_result_max_count", Kind::Int32, 200, 0, 2000, [](ZDMRemoteConfig& c) { return double(c.maxFilterResultCount()); }},
    {"maxParametersPerFilter", "measurement.audience.parameter_max_count_filter", Kind::Int32, 25, 0, 250, [](ZDMRemoteConfig& c) { return double(c.maxParametersPerFilter()); }},
    {"databaseDeleteStaleBundlesInterval", "measurement.upload.stale_data_deletion_interval", Kind::Interval, 86400, 3600, 604800, [](ZDMRemoteConfig& c) { return double(c.databaseDeleteStaleBundlesInterval()); }},
    {"maxQueueTime", "measurement.upload.max_queue_time", Kind::Interval, 2419200, 604800, 7862400, [](ZDMRemoteConfig& c) { return double(c.maxQueueTime()); }},
    {"adIDCacheTime", "measurement.ad_id_cache_time", Kind::Interval, 1, 0, 86400, [](ZDMRemoteConfig& c) { return double(c.adIDCacheTime()); }},
    {"gateIDFAOnATTMASEnabled", "measurement.attmas_gate", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.gateIDFAOnATTMASEnabled()); }},
    {"monitoringSamplePeriod", "measurement.monitoring.sample_period_millis", Kind::Interval, 86400, 0, 604800, [](ZDMRemoteConfig& c) { return double(c.monitoringSamplePeriod()); }},
    {"isNetworkBackgroundSessionEnabled", "measurement.network.background_session_enabled", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.isNetworkBackgroundSessionEnabled()); }},
    {"networkTimeout", "measurement.network.network_timeout", Kind::Interval, 60, 30, 3600, [](ZDMRemoteConfig& c) { return double(c.networkTimeout()); }},
    {"sessionDefaultMinimumInterval", "measurement.session.default_minimum_interval", Kind::Interval, 10, 0, 86400, [](ZDMRemoteConfig& c) { return double(c.sessionDefaultMinimumInterval()); }},
    {"sessionDefaultTimeoutInterval", "measurement.session.default_timeout_interval", Kind::Interval, 1800, 0, 86400, [](ZDMRemoteConfig& c) { return double(c.sessionDefaultTimeoutInterval()); }},
    {"sessionEventUserEngagementInterval", "measurement.session.event_user_engagement_interval", Kind::Interval, 3600, 0, 86400, [](ZDMRemoteConfig& c) { return double(c.sessionEventUserEngagementInterval()); }},
    {"efficientEngagementReportingEnabled", "measurement.collection.efficient_engagement_reporting_enabled", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.efficientEngagementReportingEnabled()); }},
    {"redundantEngagementRemovalEnabled", "measurement.collection.redundant_engagement_removal_enabled", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.redundantEngagementRemovalEnabled()); }},
    {"maxConversionsPerDay", "measurement.upload.max_conversions_per_day", Kind::Int32, 10000, 0, 1000000, [](ZDMRemoteConfig& c) { return double(c.maxConversionsPerDay()); }},
    {"maxEventsPerDay", "measurement.upload.max_events_per_day", Kind::Int32, 100000, 0, 1000000, [](ZDMRemoteConfig& c) { return double(c.maxEventsPerDay()); }},
    {"maxPublicEventsPerDay", "measurement.upload.max_public_events_per_day", Kind::Int32, 50000, 0, 1000000, [](ZDMRemoteConfig& c) { return double(c.maxPublicEventsPerDay()); }},
    {"maxErrorEventsPerDay", "measurement.upload.max_error_events_per_day", Kind::Int32, 1000, 0, 1000000, [](ZDMRemoteConfig& c) { return double(c.maxErrorEventsPerDay()); }},
    {"maxTrackedCurrencies", "measurement.lifetimevalue.max_currency_tracked", Kind::Int32, 4, 1, 100, [](ZDMRemoteConfig& c) { return double(c.maxTrackedCurrencies()); }},
    {"maxPublicUserProperties", "measurement.upload.max_public_user_properties", Kind::Int32, 25, 25, 100, [](ZDMRemoteConfig& c) { return double(c.maxPublicUserProperties()); }},
    {"maxEventNameCardinality", "measurement.upload.max_event_name_cardinality", Kind::Int32, 500, 500, 2000, [](ZDMRemoteConfig& c) { return double(c.maxEventNameCardinality()); }},
    {"maxPublicEventParams", "measurement.upload.max_public_event_params", Kind::Int32, 25, 25, 100, [](ZDMRemoteConfig& c) { return double(c.maxPublicEventParams()); }},
    {"maxEventsStored", "measurement.store.max_stored_events_per_app", Kind::Int32, 100000, 0, 1000000, [](ZDMRemoteConfig& c) { return double(c.maxEventsStored()); }},
    {"uploadingInterval", "measurement.upload.interval", Kind::Interval, 3600, 15, 86400, [](ZDMRemoteConfig& c) { return double(c.uploadingInterval()); }},
    {"uploadingInitialDelayInterval", "measurement.upload.initial_upload_delay_time", Kind::Interval, 15, 1, 86400, [](ZDMRemoteConfig& c) { return double(c.uploadingInitialDelayInterval()); }},
    {"uploadMaxBundlesLimit", "measurement.upload.max_bundles", Kind::Int64, 100, 1, 10000, [](ZDMRemoteConfig& c) { return double(c.uploadMaxBundlesLimit()); }},
    {"uploadMaxEventsPerBundle", "measurement.upload.max_events_per_bundle", Kind::Int64, 1000, 1, 1000000, [](ZDMRemoteConfig& c) { return double(c.uploadMaxEventsPerBundle()); }},
    {"uploadMaxSizeLimitBytes", "measurement.upload.max_batch_size", Kind::Int64, 65536, 0, 10485760, [](ZDMRemoteConfig& c) { return double(c.uploadMaxSizeLimitBytes()); }},
    {"uploadingRetryCount", "measurement.upload.retry_count", Kind::Int32, 6, 1, 24, [](ZDMRemoteConfig& c) { return double(c.uploadingRetryCount()); }},
    {"uploadingRetryInterval", "measurement.upload.retry_time", Kind::Interval, 1800, 60, 86400, [](ZDMRemoteConfig& c) { return double(c.uploadingRetryInterval()); }},
    {"maxBundlesCreatedPerIteration", "measurement.upload.max_bundles_created_per_iteration", Kind::IntervalCount, 100, 1, 10000, [](ZDMRemoteConfig& c) { return double(c.maxBundlesCreatedPerIteration()); }},
    {"maxRealtimeEventCountPerDay", "measurement.upload.max_realtime_events_per_day", Kind::Int32, 10, 0, 10, [](ZDMRemoteConfig& c) { return double(c.maxRealtimeEventCountPerDay()); }},
    {"uploadingDebugModeInterval", "measurement.upload.debug_upload_interval", Kind::Interval, 1, 1, 15, [](ZDMRemoteConfig& c) { return double(c.uploadingDebugModeInterval()); }},
    {"uploadingRealTimeInterval", "measurement.upload.realtime_upload_interval", Kind::Interval, 10, 10, 15, [](ZDMRemoteConfig& c) { return double(c.uploadingRealTimeInterval()); }},
    {"blocklistInternal", "measurement.upload.blacklist_internal", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.blocklistInternal()); }},
    {"blocklistPublic", "measurement.upload.blacklist_public", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.blocklistPublic()); }},
    {"isEventSamplingEnabled", "measurement.event_sampling_enabled", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.isEventSamplingEnabled()); }},
    {"analyticsAccountTimeZoneOffsetMinutes", "measurement.account.time_zone_offset_minutes", Kind::Int32, 0, -900, 900, [](ZDMRemoteConfig& c) { return double(c.analyticsAccountTimeZoneOffsetMinutes()); }},
    {"checksumEnabled", "measurement.quality.checksum", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.checksumEnabled()); }},
    {"appBackgroundedEventEnabled", "measurement.lifecycle.app_backgrounded_tracking", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.appBackgroundedEventEnabled()); }},
    {"appInBackgroundParameterEnabled", "measurement.lifecycle.app_in_background_parameter", Kind::Flag, 1, 0, 1, [](ZDMRemoteConfig& c) { return double(c.appInBackgroundParameterEnabled()); }},
    {"eesFeatureEnabled", "measurement.ees_feature_enabled", Kind::Flag, 1, 0, 1, [](ZDMRemoteConfig& c) { return double(c.eesFeatureEnabled()); }},
    {"itemScopedCustomParameterEnabled", "measurement.item_scoped_custom_parameter_enabled", Kind::Flag, 1, 0, 1, [](ZDMRemoteConfig& c) { return double(c.itemScopedCustomParameterEnabled()); }},
    {"maxItemScopedCustomParameters", "measurement.upload.max_item_scoped_custom_parameters", Kind::Int32, 27, 10, 35, [](ZDMRemoteConfig& c) { return double(c.maxItemScopedCustomParameters()); }},
    {"PSMFeatureEnabled", "measurement.psm_enabled", Kind::Flag, 1, 0, 1, [](ZDMRemoteConfig& c) { return double(c.PSMFeatureEnabled()); }},
    {"maxPSMStartCount", "measurement.psm_start_count", Kind::Int32, 3, 0, 10, [](ZDMRemoteConfig& c) { return double(c.maxPSMStartCount()); }},
    {"maxPSMRetryCount", "measurement.psm_retry_count", Kind::Int32, 5, 0, 10, [](ZDMRemoteConfig& c) { return double(c.maxPSMRetryCount()); }},
    {"PSMRetryInterval", "measurement.psm_retry_interval", Kind::Interval, 300, 30, 1800, [](ZDMRemoteConfig& c) { return double(c.PSMRetryInterval()); }},
    {"isDeferredDeepLinkEnabled", "measurement.ddl.enabled", Kind::Flag, 1, 0, 1, [](ZDMRemoteConfig& c) { return double(c.isDeferredDeepLinkEnabled()); }},
    {"maxDeferredDeepLinkRetryCount", "measurement.ddl.retry_count", Kind::Int32, 5, 0, 10, [](ZDMRemoteConfig& c) { return double(c.maxDeferredDeepLinkRetryCount()); }},
    {"attributionCacheTTLInterval", "measurement.attribution.cache.ttl", Kind::Interval, 604800, 86400, 2592000, [](ZDMRemoteConfig& c) { return double(c.attributionCacheTTLInterval()); }},
    {"remoteConfigCacheTimeInterval", "measurement.config.cache_time", Kind::Interval, 3600, 60, 86400, [](ZDMRemoteConfig& c) { return double(c.remoteConfigCacheTimeInterval()); }},
    {"isSessionIDEnabled", "measurement.api.session_id", Kind::Flag, 1, 0, 1, [](ZDMRemoteConfig& c) { return double(c.isSessionIDEnabled()); }},
    {"persistentConfigInApplicationSupportEnabled", "measurement.persistent_config_in_application_support_enabled", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.persistentConfigInApplicationSupportEnabled()); }},
    {"sessionStitchingTokenFeatureEnabled", "measurement.session_stitching_token_enabled", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.sessionStitchingTokenFeatureEnabled()); }},
    {"SKANUpdateConversionValueEnabled", "measurement.skan.update_conversion_value_enabled", Kind::Flag, 0, 0, 1, [](ZDMRemoteConfig& c) { return double(c.SKANUpdateConversionValueEnabled()); }},
    {"SKANInitialCVFetchDelay", "measurement.skan.initial_cv_fetch_delay_sec", Kind::Interval, 120, 30, 3600, [](ZDMRemoteConfig& c) { return double(c.SKANInitialCVFetchDelay()); }},
    {"SKANCVFetchRetryInterval", "measurement.skan.cv_fetch_retry_interval_sec", Kind::Interval, 120, 30, 3600, [](ZDMRemoteConfig& c) { return double(c.SKANCVFetchRetryInterval()); }},
    {"SKANCVFetchRetryLimit", "measurement.skan.cv_fetch_retry_limit", Kind::Int32, 4, 1, 10, [](ZDMRemoteConfig& c) { return double(c.SKANCVFetchRetryLimit()); }},
    {"SKANFirstWindowCVFetchDelay", "measurement.skan.first_window.initial_cv_fetch_delay_sec", Kind::Interval, 20, 1, 3600, [](ZDMRemoteConfig& c) { return double(c.SKANFirstWindowCVFetchDelay()); }},
    {"SKANFirstWindowCVFetchRetryInterval", "measurement.skan.first_window.cv_fetch_retry_interval_sec", Kind::Interval, 120, 30, 3600, [](ZDMRemoteConfig& c) { return double(c.SKANFirstWindowCVFetchRetryInterval()); }},
    {"SKANFirstWindowCVFetchRetryLimit", "measurement.skan.first_window.cv_fetch_retry_limit", Kind::Int32, 4, 1, 10, [](ZDMRemoteConfig& c) { return double(c.SKANFirstWindowCVFetchRetryLimit()); }},
    {"SKANFirstWindowUploadInterval", "measurement.skan.first_window.upload_interval_sec", Kind::Interval, 1800, 15, 86400, [](ZDMRemoteConfig& c) { return double(c.SKANFirstWindowUploadInterval()); }},
};
// clang-format on

// The text the server sends for a value in the getter's unit.
std::string serverText(Kind kind, double value) {
    const bool milliseconds = kind == Kind::Interval || kind == Kind::IntervalCount;
    return std::to_string(static_cast<long long>(milliseconds ? value * 1000 : value));
}

TEST_F(RemoteConfig, EveryGetterHasItsKeyDefaultAndBounds) {
    ASSERT_EQ(std::size(kSettings), 66u);
    auto fallback = ZDMRemoteConfig::defaultInstance();
    for (const Setting& s : kSettings) {
        SCOPED_TRACE(s.getter);
        EXPECT_EQ(s.read(*fallback), s.defaultValue);
        EXPECT_EQ(s.read(*makeConfig()), s.defaultValue);
        EXPECT_EQ(answerFor(s.read, s.key, serverText(s.kind, s.minValue)), s.minValue);
        EXPECT_EQ(answerFor(s.read, s.key, serverText(s.kind, s.maxValue)), s.maxValue);
        EXPECT_EQ(answerFor(s.read, s.key, serverText(s.kind, s.minValue - 1)), s.defaultValue);
        EXPECT_EQ(answerFor(s.read, s.key, serverText(s.kind, s.maxValue + 1)), s.defaultValue);
        EXPECT_EQ(answerFor(s.read, s.key, "not a number"), s.defaultValue);
    }
}

}  // namespace
