#include "measurement/foundation/ZDMRemoteConfig.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "measurement/foundation/ZDMMonitor.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/zazavaroveridiz/ZIZMutableDictionary.h"

namespace {
constinit SharedInstance<ZDMRemoteConfig> sharedDefault{
    [] { return std::make_shared<ZDMRemoteConfig>(std::string(), nullptr, nullptr); }};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits with at most one point and at least one digit, after an optional sign.
bool isPlainDecimal(std::string_view text) {
    size_t at = text.starts_with('-') || text.starts_with('+') ? 1 : 0;
    bool digit = false, point = false;
    for (; at < text.size(); ++at) {
        if (isDigit(text[at])) {
            digit = true;
        } else if (text[at] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digit;
}

// Numbers compare by value across integer and real; long double holds every int64 exactly.
int compareNumbers(const Value& a, const Value& b) {
    if (a.isInteger() && b.isInteger()) {
        const int64_t x = *a.asInteger(), y = *b.asInteger();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    const long double x = a.isReal() ? *a.asReal() : static_cast<long double>(a.integerOr(0));
    const long double y = b.isReal() ? *b.asReal() : static_cast<long double>(b.integerOr(0));
    return x < y ? -1 : x > y ? 1 : 0;
}

// The integer part of a number, saturated at the type's limits (NaN reads as 0), as the platform's
// number conversions answer without undefined behaviour.
template <class Int>
Int integerOf(const Value& number) {
    if (number.isInteger() || number.isBool()) {
        const int64_t value = *number.asInteger();
        if (value < std::numeric_limits<Int>::min()) return std::numeric_limits<Int>::min();
        if (value > std::numeric_limits<Int>::max()) return std::numeric_limits<Int>::max();
        return static_cast<Int>(value);
    }
    const double value = number.realOr(0.0);
    if (std::isnan(value)) return 0;
    if (value <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
    if (value >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
    return static_cast<Int>(value);
}

double doubleOf(const Value& number) {
    return number.isReal() ? *number.asReal() : static_cast<double>(number.integerOr(0));
}

// The server sends milliseconds; a fraction of a millisecond is dropped before the division.
Value millisecondsToSeconds(const Value& milliseconds) {
    if (milliseconds.isReal() && !(std::fabs(*milliseconds.asReal()) < 9.2e18)) return Value();
    return static_cast<double>(integerOf<int64_t>(milliseconds)) / 1000.0;
}
}  // namespace

std::shared_ptr<ZDMRemoteConfig> ZDMRemoteConfig::defaultInstance() {
    return sharedDefault.get();
}

std::shared_ptr<ZDMRemoteConfig> ZDMRemoteConfig::initWithAppID(
    const std::string& appID, const std::shared_ptr<ZDMDatabase>& database,
    std::shared_ptr<ZDMEManager> experimentManager) {
    if (appID.empty()) {
        ZDMMonitor::sharedMonitor()->logWithLevel(
            1, 29000, "Cannot init remote configuration without valid Zizoda App ID");
        return nullptr;
    }
    if (!database) {
        ZDMMonitor::sharedMonitor()->logWithLevel(1, 29001,
                                                  "Cannot init remote configuration without valid database");
        return nullptr;
    }
    auto remoteConfig = std::make_shared<ZDMRemoteConfig>(appID, database, std::move(experimentManager));
    if (remoteConfig->experimentClient_) remoteConfig->experimentClient_->setDelegate(remoteConfig);
    return remoteConfig;
}

ZDMRemoteConfig::ZDMRemoteConfig(std::string appID, const std::shared_ptr<ZDMDatabase>& database,
                                 std::shared_ptr<ZDMEManager> experimentManager)
    : isDefaultInstance_(!database && appID.empty()),
      appID_(std::move(appID)),
      database_(database),
      experimentManager_(std::move(experimentManager)),
      cachedValueByRemoteConfigKeys_(std::make_shared<ZIZMutableDictionary>()),
      cachedEventConfigByEventName_(std::make_shared<ZIZMutableDictionary>()) {
    registerWithExperimentManager();
    if (!isDefaultInstance_ && database) loadFromDatabase();
}

ZDMRemoteConfig::~ZDMRemoteConfig() = default;

void ZDMRemoteConfig::reset() {
    auto settings = std::make_shared<ZIZMutableDictionary>();
    auto eventConfigs = std::make_shared<ZIZMutableDictionary>();
    std::vector<std::string> dataControls;
    std::shared_ptr<ZDMPBMeasurementConfig> dropped;
    {
        std::lock_guard lock(mutex_);
        cachedValueByRemoteConfigKeys_.swap(settings);
        cachedEventConfigByEventName_.swap(eventConfigs);
        cachedDataControls_.swap(dataControls);
        if (!isDefaultInstance_) remoteConfigProto_.swap(dropped);
    }
    if (experimentManager_) experimentManager_->reset();
}

std::vector<std::string> ZDMRemoteConfig::dataControls() const {
    std::lock_guard lock(mutex_);
    return cachedDataControls_;
}

std::shared_ptr<ZIZMutableDictionary> ZDMRemoteConfig::settingsCache() const {
    std::lock_guard lock(mutex_);
    return cachedValueByRemoteConfigKeys_;
}

Value ZDMRemoteConfig::numberFromString(const Value& object) const {
    const std::string* text = object.asString();
    if (!text) {
        ZDMMonitor::sharedMonitor()->logWithLevel(2, 29018, "Cannot parse number from non-string", object);
        return Value();
    }
    if (!isPlainDecimal(*text)) return Value();
    const std::string_view digits = text->starts_with('+') ? std::string_view(*text).substr(1) : *text;
    const char* end = digits.data() + digits.size();
    if (digits.find('.') == std::string_view::npos) {
        int64_t integer = 0;
        if (auto [ptr, error] = std::from_chars(digits.data(), end, integer);
            error == std::errc() && ptr == end)
            return integer;
    }
    double real = 0;
    auto [ptr, error] = std::from_chars(digits.data(), end, real);
    if (error != std::errc() || ptr != end) return Value();
    return real;
}

Value ZDMRemoteConfig::cacheValue(const Value& value, const std::string& key) const {
    if (value.isNull() || key.empty()) {
        ZDMMonitor::sharedMonitor()->logWithLevel(5, 29019, "Cannot cache empty configuration value");
        return Value();
    }
    settingsCache()->setObject(value, key);
    return value;
}

Value ZDMRemoteConfig::numberFromCacheWithKey(const std::string& key, const Value& defaultValue,
                                              const Value& maxValue, const Value& minValue,
                                              const std::function<Value(const Value&)>& block) const {
    if (key.empty()) {
        ZDMMonitor::sharedMonitor()->logWithLevel(7, 29020, "Cannot get setting with empty key from cache");
        return Value();
    }
    const auto cache = settingsCache();
    const Value cached = cache->objectForKeyedSubscript(key);
    if (cached.isNull()) {
        cache->setObject(defaultValue, key);
        return defaultValue;
    }
    // Bounds and conversion were applied when the number was stored.
    if (cached.isInteger() || cached.isReal()) return cached;
    Value number = numberFromString(cached);
    if (!number.isNull() && block) number = block(number);
    if (number.isNull() || (!minValue.isNull() && compareNumbers(number, minValue) < 0) ||
        (!maxValue.isNull() && compareNumbers(number, maxValue) > 0))
        number = defaultValue;
    cache->setObject(number, key);
    return number;
}

double ZDMRemoteConfig::timeIntervalInSecondsFromCacheWithKey(const std::string& key, double defaultValue,
                                                              double maxValue, double minValue) const {
    return doubleOf(numberFromCacheWithKey(key, defaultValue, maxValue, minValue, millisecondsToSeconds));
}

int32_t ZDMRemoteConfig::intValueFromCacheWithKey(const std::string& key, int32_t defaultValue,
                                                  int32_t maxValue, int32_t minValue) const {
    return integerOf<int32_t>(numberFromCacheWithKey(key, defaultValue, maxValue, minValue));
}

int64_t ZDMRemoteConfig::int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue,
                                                    int64_t maxValue, int64_t minValue) const {
    return integerOf<int64_t>(numberFromCacheWithKey(key, defaultValue, maxValue, minValue));
}

int64_t ZDMRemoteConfig::int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue) const {
    return integerOf<int64_t>(numberFromCacheWithKey(key, defaultValue, Value(), Value()));
}

bool ZDMRemoteConfig::boolValueFromCacheWithKey(const std::string& key, bool defaultValue) const {
    return intValueFromCacheWithKey(key, defaultValue ? 1 : 0, 1, 0) == 1;
}

double ZDMRemoteConfig::uploadingBackoffInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.backoff_period", 43200, 604800, 3600);
}

int32_t ZDMRemoteConfig::maxAudienceCount() const {
    return intValueFromCacheWithKey("measurement.audience.max_count", 100, 500, 0);
}

int32_t ZDMRemoteConfig::maxFiltersPerAudience() const {
    return intValueFromCacheWithKey("measurement.audience.filter_max_count_per_audience", 10, 100, 0);
}

int32_t ZDMRemoteConfig::maxFilterResultCount() const {
    return intValueFromCacheWithKey("measurement.audience.filter_result_max_count", 200, 2000, 0);
}

int32_t ZDMRemoteConfig::maxParametersPerFilter() const {
    return intValueFromCacheWithKey("measurement.audience.parameter_max_count_filter", 25, 250, 0);
}

double ZDMRemoteConfig::databaseDeleteStaleBundlesInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.stale_data_deletion_interval", 86400,
                                                 604800, 3600);
}

double ZDMRemoteConfig::maxQueueTime() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.max_queue_time", 2419200, 7862400,
                                                 604800);
}

double ZDMRemoteConfig::adIDCacheTime() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.ad_id_cache_time", 1, 86400, 0);
}

bool ZDMRemoteConfig::gateIDFAOnATTMASEnabled() const {
    return boolValueFromCacheWithKey("measurement.attmas_gate", false);
}

double ZDMRemoteConfig::monitoringSamplePeriod() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.monitoring.sample_period_millis", 86400, 604800,
                                                 0);
}

bool ZDMRemoteConfig::isNetworkBackgroundSessionEnabled() const {
    return experimentFlagOrSetting("network_background_session_enabled",
                                   "measurement.network.background_session_enabled");
}

double ZDMRemoteConfig::networkTimeout() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.network.network_timeout", 60, 3600, 30);
}

double ZDMRemoteConfig::sessionDefaultMinimumInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.session.default_minimum_interval", 10, 86400,
                                                 0);
}

double ZDMRemoteConfig::sessionDefaultTimeoutInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.session.default_timeout_interval", 1800, 86400,
                                                 0);
}

double ZDMRemoteConfig::sessionEventUserEngagementInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.session.event_user_engagement_interval", 3600,
                                                 86400, 0);
}

bool ZDMRemoteConfig::efficientEngagementReportingEnabled() const {
    return experimentFlagOrSetting("efficient_engagement_reporting_enabled",
                                   "measurement.collection.efficient_engagement_reporting_enabled");
}

bool ZDMRemoteConfig::redundantEngagementRemovalEnabled() const {
    return experimentFlagOrSetting("redundant_engagement_removal_enabled",
                                   "measurement.collection.redundant_engagement_removal_enabled");
}

int32_t ZDMRemoteConfig::maxConversionsPerDay() const {
    return intValueFromCacheWithKey("measurement.upload.max_conversions_per_day", 10000, 1000000, 0);
}

int32_t ZDMRemoteConfig::maxEventsPerDay() const {
    return intValueFromCacheWithKey("measurement.upload.max_events_per_day", 100000, 1000000, 0);
}

int32_t ZDMRemoteConfig::maxPublicEventsPerDay() const {
    return intValueFromCacheWithKey("measurement.upload.max_public_events_per_day", 50000, 1000000, 0);
}

int32_t ZDMRemoteConfig::maxErrorEventsPerDay() const {
    return intValueFromCacheWithKey("measurement.upload.max_error_events_per_day", 1000, 1000000, 0);
}

int32_t ZDMRemoteConfig::maxTrackedCurrencies() const {
    return intValueFromCacheWithKey("measurement.lifetimevalue.max_currency_tracked", 4, 100, 1);
}

int32_t ZDMRemoteConfig::maxPublicUserProperties() const {
    return intValueFromCacheWithKey("measurement.upload.max_public_user_properties", 25, 100, 25);
}

int32_t ZDMRemoteConfig::maxEventNameCardinality() const {
    return intValueFromCacheWithKey("measurement.upload.max_event_name_cardinality", 500, 2000, 500);
}

int32_t ZDMRemoteConfig::maxPublicEventParams() const {
    return intValueFromCacheWithKey("measurement.upload.max_public_event_params", 25, 100, 25);
}

int32_t ZDMRemoteConfig::maxEventsStored() const {
    return intValueFromCacheWithKey("measurement.store.max_stored_events_per_app", 100000, 1000000, 0);
}

double ZDMRemoteConfig::uploadingInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.interval", 3600, 86400, 15);
}

double ZDMRemoteConfig::uploadingInitialDelayInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.initial_upload_delay_time", 15, 86400,
                                                 1);
}

int64_t ZDMRemoteConfig::uploadMaxBundlesLimit() const {
    return int64ValueFromCacheWithKey("measurement.upload.max_bundles", 100, 10000, 1);
}

int64_t ZDMRemoteConfig::uploadMaxEventsPerBundle() const {
    return int64ValueFromCacheWithKey("measurement.upload.max_events_per_bundle", 1000, 1000000, 1);
}

int64_t ZDMRemoteConfig::uploadMaxSizeLimitBytes() const {
    return int64ValueFromCacheWithKey("measurement.upload.max_batch_size", 65536, 10485760, 0);
}

int32_t ZDMRemoteConfig::uploadingRetryCount() const {
    return intValueFromCacheWithKey("measurement.upload.retry_count", 6, 24, 1);
}

double ZDMRemoteConfig::uploadingRetryInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.retry_time", 1800, 86400, 60);
}

int32_t ZDMRemoteConfig::maxBundlesCreatedPerIteration() const {
    return static_cast<int32_t>(timeIntervalInSecondsFromCacheWithKey(
        "measurement.upload.max_bundles_created_per_iteration", 100, 10000, 1));
}

int32_t ZDMRemoteConfig::maxRealtimeEventCountPerDay() const {
    return intValueFromCacheWithKey("measurement.upload.max_realtime_events_per_day", 10, 10, 0);
}

double ZDMRemoteConfig::uploadingDebugModeInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.debug_upload_interval", 1, 15, 1);
}

double ZDMRemoteConfig::uploadingRealTimeInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.realtime_upload_interval", 10, 15, 10);
}

bool ZDMRemoteConfig::blocklistInternal() const {
    return boolValueFromCacheWithKey("measurement.upload.blacklist_internal", false);
}

bool ZDMRemoteConfig::blocklistPublic() const {
    return boolValueFromCacheWithKey("measurement.upload.blacklist_public", false);
}

bool ZDMRemoteConfig::isEventSamplingEnabled() const {
    return boolValueFromCacheWithKey("measurement.event_sampling_enabled", false);
}

int32_t ZDMRemoteConfig::analyticsAccountTimeZoneOffsetMinutes() const {
    return intValueFromCacheWithKey("measurement.account.time_zone_offset_minutes", 0, 900, -900);
}

bool ZDMRemoteConfig::checksumEnabled() const {
    return boolValueFromCacheWithKey("measurement.quality.checksum", false);
}

bool ZDMRemoteConfig::appBackgroundedEventEnabled() const {
    return boolValueFromCacheWithKey("measurement.lifecycle.app_backgrounded_tracking", false);
}

bool ZDMRemoteConfig::appInBackgroundParameterEnabled() const {
    return boolValueFromCacheWithKey("measurement.lifecycle.app_in_background_parameter", true);
}

bool ZDMRemoteConfig::eesFeatureEnabled() const {
    return boolValueFromCacheWithKey("measurement.ees_feature_enabled", true);
}

bool ZDMRemoteConfig::itemScopedCustomParameterEnabled() const {
    return boolValueFromCacheWithKey("measurement.item_scoped_custom_parameter_enabled", true);
}

int32_t ZDMRemoteConfig::maxItemScopedCustomParameters() const {
    return intValueFromCacheWithKey("measurement.upload.max_item_scoped_custom_parameters", 27, 35, 10);
}

bool ZDMRemoteConfig::PSMFeatureEnabled() const {
    return boolValueFromCacheWithKey("measurement.psm_enabled", true);
}

int32_t ZDMRemoteConfig::maxPSMStartCount() const {
    // Debug mode lets a developer try many starts in a row.
    if (ZDMMonitor::sharedMonitor()->isDebugModeEnabled()) return 10;
    return intValueFromCacheWithKey("measurement.psm_start_count", 3, 10, 0);
}

int32_t ZDMRemoteConfig::maxPSMRetryCount() const {
    return intValueFromCacheWithKey("measurement.psm_retry_count", 5, 10, 0);
}

double ZDMRemoteConfig::PSMRetryInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.psm_retry_interval", 300, 1800, 30);
}

bool ZDMRemoteConfig::isDeferredDeepLinkEnabled() const {
    return boolValueFromCacheWithKey("measurement.ddl.enabled", true);
}

int32_t ZDMRemoteConfig::maxDeferredDeepLinkRetryCount() const {
    return intValueFromCacheWithKey("measurement.ddl.retry_count", 5, 10, 0);
}

double ZDMRemoteConfig::attributionCacheTTLInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.attribution.cache.ttl", 604800, 2592000, 86400);
}

double ZDMRemoteConfig::remoteConfigCacheTimeInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.config.cache_time", 3600, 86400, 60);
}

bool ZDMRemoteConfig::isSessionIDEnabled() const {
    return boolValueFromCacheWithKey("measurement.api.session_id", true);
}

bool ZDMRemoteConfig::persistentConfigInApplicationSupportEnabled() const {
    return experimentFlagOrSetting("persistent_config_in_application_support_enabled",
                                   "measurement.persistent_config_in_application_support_enabled");
}

bool ZDMRemoteConfig::sessionStitchingTokenFeatureEnabled() const {
    return experimentFlagOrSetting("session_stitching_token_feature_enabled",
                                   "measurement.session_stitching_token_enabled");
}

bool ZDMRemoteConfig::SKANUpdateConversionValueEnabled() const {
    return experimentFlagOrSetting("skan_update_conversion_value_feature_enabled",
                                   "measurement.skan.update_conversion_value_enabled");
}

double ZDMRemoteConfig::SKANInitialCVFetchDelay() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.skan.initial_cv_fetch_delay_sec", 120, 3600,
                                                 30);
}

double ZDMRemoteConfig::SKANCVFetchRetryInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.skan.cv_fetch_retry_interval_sec", 120, 3600,
                                                 30);
}

int32_t ZDMRemoteConfig::SKANCVFetchRetryLimit() const {
    return intValueFromCacheWithKey("measurement.skan.cv_fetch_retry_limit", 4, 10, 1);
}

double ZDMRemoteConfig::SKANFirstWindowCVFetchDelay() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.skan.first_window.initial_cv_fetch_delay_sec",
                                                 20, 3600, 1);
}

double ZDMRemoteConfig::SKANFirstWindowCVFetchRetryInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.skan.first_window.cv_fetch_retry_interval_sec",
                                                 120, 3600, 30);
}

int32_t ZDMRemoteConfig::SKANFirstWindowCVFetchRetryLimit() const {
    return intValueFromCacheWithKey("measurement.skan.first_window.cv_fetch_retry_limit", 4, 10, 1);
}

double ZDMRemoteConfig::SKANFirstWindowUploadInterval() const {
    return timeIntervalInSecondsFromCacheWithKey("measurement.skan.first_window.upload_interval_sec", 1800,
                                                 86400, 15);
}
