// The server's configuration message: storing, loading and parsing it, and the facts and per-event
// settings read from it.
#include <charconv>
#include <cmath>

#include "measurement/foundation/ZDMBackgroundThreadCheck.h"
#include "measurement/foundation/ZDMConsentQueries.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMDictionaryQuery.h"
#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMIdentifiers.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMMeasurementService.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBConfigMessages.h"
#include "measurement/wire/ZDMPBProgramMessages.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/Bundle.h"
#include "platform/zazavaroveridiz/ZIZMutableDictionary.h"

namespace {
// Field indexes of the configuration messages.
constexpr int32_t kVersionIndex = 0;
constexpr int32_t kAppIDIndex = 1;
constexpr int32_t kSettingsIndex = 3;
constexpr int32_t kEventConfigIndex = 4;
constexpr int32_t kAdSdkAppIDIndex = 6;
constexpr int32_t kProgramsIndex = 8;
constexpr int32_t kDataControlsIndex = 9;
constexpr int32_t kUploadSubdomainIndex = 10;
constexpr int32_t kSettingKeyIndex = 0;
constexpr int32_t kSettingValueIndex = 1;
constexpr int32_t kEventNameIndex = 0;
constexpr int32_t kBlocklistedIndex = 1;
constexpr int32_t kCustomConversionIndex = 2;
constexpr int32_t kSamplingRateIndex = 3;
constexpr int32_t kDataControlNameIndex = 0;

ZDMMonitor& monitor() {
    return *ZDMMonitor::sharedMonitor();
}

template <class T>
std::vector<std::shared_ptr<const T>> messagesOf(const NANOMessageBase* message, int32_t index) {
    std::vector<std::shared_ptr<const T>> out;
    const auto elements = ZDMPBGetArray(message, index, &T::messageClass());
    if (!elements) return out;
    for (const Value& element : *elements) {
        if (auto object = element.objectAs<T>()) out.push_back(std::move(object));
    }
    return out;
}

// A number as plain decimal text, never in exponent form.
std::string plainDecimal(const Value& number) {
    if (auto integer = number.isReal() ? std::nullopt : number.asInteger()) return std::to_string(*integer);
    char buffer[400];
    const auto [end, failure] =
        std::to_chars(buffer, buffer + sizeof buffer, number.realOr(0), std::chars_format::fixed);
    return failure == std::errc() ? std::string(buffer, end) : std::string();
}

Dictionary appMetadata() {
    Dictionary metadata;
    metadata.set("platform", Value("macos"));
    const std::string packageName = Bundle::mainBundle()->bundleIdentifier();
    if (!packageName.empty()) metadata.set("package_name", Value(packageName));
    metadata.set("zor_version", Value(ZDMIdentity::didAdirezaridoLibraryVersion()));
    if (const auto identity = ZDMIdentifiers::engineIdentity())
        metadata.set("app_version", Value(identity->appVersion()));
    return metadata;
}

Value settingValue(const std::shared_ptr<const ZDMPBSetting>& setting, int32_t index) {
    auto text = ZDMPBGetString(setting.get(), index);
    return text ? Value(*text) : Value();
}
}  // namespace

std::shared_ptr<ZIZMutableDictionary> ZDMRemoteConfig::eventConfigCache() const {
    std::lock_guard lock(mutex_);
    return cachedEventConfigByEventName_;
}

std::shared_ptr<ZDMRemoteConfigEventEditing> ZDMRemoteConfig::eventEditing() const {
    std::lock_guard lock(mutex_);
    return eventEditing_;
}

bool ZDMRemoteConfig::loadEventEditing(const ZDMPBMeasurementConfig& config) {
    const auto programs = messagesOf<ZDMPBProgram>(&config, kProgramsIndex);
    // A configuration without programs leaves the loaded one in force.
    if (programs.empty()) return true;
    auto editing = ZDMRemoteConfigEventEditing::make();
    {
        std::lock_guard lock(mutex_);
        eventEditing_ = editing;
    }
    // The settings dictionary of this load: a reset replaces it, and the program keeps reading
    // the one it was loaded with.
    const auto settings = settingsCache();
    editing->setHostModules({[settings](const std::string& key) -> Value {
                                 const Value entry = settings->objectForKeyedSubscript(key);
                                 if (entry.isString() || entry.isNull()) return entry;
                                 return entry.isNumber() ? Value(plainDecimal(entry)) : Value();
                             },
                             &appMetadata});
    Error error;
    // Only the first program runs; later ones are ignored.
    if (!editing->loadProgram(*programs.front(), &error)) {
        monitor().logWithLevel(1, 29026, "Failed to initiate event editing instance");
        std::lock_guard lock(mutex_);
        eventEditing_.reset();
        return false;
    }
    monitor().logWithLevel(7, 29027, "Loading Event Modification and Creation programs",
                           Value(static_cast<int64_t>(programs.size())));
    return true;
}

std::shared_ptr<ZDMPBMeasurementConfig> ZDMRemoteConfig::remoteConfigProto() const {
    std::lock_guard lock(mutex_);
    return remoteConfigProto_;
}

void ZDMRemoteConfig::loadFromDatabase() {
    auto config = measurementConfigFromDatabase();
    if (!config) return;
    {
        std::lock_guard lock(mutex_);
        remoteConfigProto_ = config;
    }
    parseRemoteConfigFromMeasurementConfig(config.get());
}

std::shared_ptr<ZDMPBMeasurementConfig> ZDMRemoteConfig::measurementConfigFromDatabase() const {
    ZDMCheckOnBackgroundThread("measurementConfigFromDatabase");
    if (isDefaultInstance_) {
        monitor().logWithLevel(
            2, 29015,
            "Cannot retrieve a measurement configuration from the database for the default instance");
        return nullptr;
    }
    Error error;
    const auto database = database_.lock();
    auto config = database ? database->queryMeasurementConfigWithError(&error) : nullptr;
    if (config) return config;
    if (error.code != 0) {
        monitor().logWithLevel(2, 29016, "Cannot retrieve configuration data from database. Error",
                               ErrorObject::value(error));
    } else {
        monitor().logWithLevel(
            7, 29017,
            "Configuration was not found in database. The configuration will be fetched from "
            "the network when necessary");
    }
    return nullptr;
}

bool ZDMRemoteConfig::updateMeasurementConfig(const std::shared_ptr<ZDMPBMeasurementConfig>& config) {
    ZDMCheckOnBackgroundThread("updateMeasurementConfig:");
    if (isDefaultInstance_) {
        monitor().logWithLevel(2, 29002, "Cannot update the default measurement configuration");
        return false;
    }
    if (!config) {
        monitor().logWithLevel(5, 29003, "Cannot set empty measurement config to database");
        return false;
    }
    if (ZDMIdentifiers::sharedInstance()->origin() == "am" &&
        ZDMPBGetString(config.get(), kAdSdkAppIDIndex).value_or("") != appID_) {
        monitor().logWithLevel(2, 29022, "Cannot set measurement config when AdSdk App ID does not match");
        return false;
    }
    if (ZDMPBGetString(config.get(), kAppIDIndex).value_or("") != appID_) {
        monitor().logWithLevel(2, 29004, "Cannot set measurement config when Zizoda App ID does not match");
        return false;
    }
    if (const auto database = database_.lock()) {
        Error error;
        if (!database->updateRemoteConfig(config.get(), &error) && error.code != 0) {
            monitor().logWithLevel(1, 29005, "Cannot store config into the database",
                                   ErrorObject::value(error));
            return false;
        }
    }
    {
        std::lock_guard lock(mutex_);
        remoteConfigProto_ = config;
    }
    parseRemoteConfigFromMeasurementConfig(config.get());
    return true;
}

void ZDMRemoteConfig::parseRemoteConfigFromMeasurementConfig(const ZDMPBMeasurementConfig* config) {
    const auto settings =
        config ? ZDMPBGetArray(config, kSettingsIndex, &ZDMPBSetting::messageClass()) : std::nullopt;
    if (!settings) {
        monitor().logWithLevel(2, 29012, "Cannot parse empty measurement config. Using default values");
        return;
    }
    if (ZDMPBGetString(config, kAppIDIndex).value_or("") != appID_) return;

    // The same dictionary is emptied and refilled, so that readers holding it see the new settings.
    const auto settingsCache = this->settingsCache();
    settingsCache->removeAllObjects();
    for (const auto& setting : messagesOf<ZDMPBSetting>(config, kSettingsIndex)) {
        const Value key = settingValue(setting, kSettingKeyIndex);
        cacheValue(settingValue(setting, kSettingValueIndex), key.stringOr(""));
    }

    const auto eventConfigs = eventConfigCache();
    eventConfigs->removeAllObjects();
    for (const auto& eventConfig : messagesOf<ZDMPBEventConfig>(config, kEventConfigIndex)) {
        const std::string name = ZDMPBGetString(eventConfig.get(), kEventNameIndex).value_or("");
        if (name.empty()) {
            monitor().logWithLevel(5, 29013,
                                   "Cannot cache event configuration with an empty configuration name");
            continue;
        }
        const Value* internalName = ZDMPublicToInternalEventNameMap().find(name);
        eventConfigs->setObject(Value(std::static_pointer_cast<const Object>(eventConfig)),
                                internalName && internalName->asString() ? *internalName->asString() : name);
    }

    if (ZDMPBHasField(config, kVersionIndex))
        monitor().logWithLevel(7, 29014, "Successfully parsed a configuration. Version",
                               Value(ZDMPBGetInt64(config, kVersionIndex)));

    if (!loadEventEditing(*config)) return;

    std::vector<std::string> dataControls;
    for (const auto& control : messagesOf<ZDMPBDataControl>(config, kDataControlsIndex)) {
        if (auto name = ZDMPBGetString(control.get(), kDataControlNameIndex)) dataControls.push_back(*name);
    }
    std::lock_guard lock(mutex_);
    cachedDataControls_.swap(dataControls);
}

int64_t ZDMRemoteConfig::version() const {
    const auto config = remoteConfigProto();
    if (!config || !ZDMPBHasField(config.get(), kVersionIndex)) return -1;
    return ZDMPBGetInt64(config.get(), kVersionIndex);
}

double ZDMRemoteConfig::lastRemoteConfigUpdateTimestamp() const {
    if (isDefaultInstance_) {
        monitor().logWithLevel(
            2, 29008, "Cannot fetch the last configuration update timestamp from the default instance");
        return 0;
    }
    const auto database = database_.lock();
    if (!database) return 0;
    Error error;
    const auto timestamp = database->lastRemoteConfigUpdateTimestamp(&error);
    if (!timestamp && error.code != 0)
        monitor().logWithLevel(4, 29009, "Failed to query last configuration update timestamp. Error",
                               ErrorObject::value(error));
    return timestamp.value_or(0);
}

bool ZDMRemoteConfig::isExpired() const {
    if (isDefaultInstance_) {
        monitor().logWithLevel(2, 29007,
                               "Cannot fetch the last update timestamp from the default configuration");
        return false;
    }
    return std::fabs(Clock::current().now() - lastRemoteConfigUpdateTimestamp()) >=
           remoteConfigCacheTimeInterval();
}

std::string ZDMRemoteConfig::uploadURL() const {
    const auto config = remoteConfigProto();
    std::optional<std::string> subdomain;
    if (config && ZDMPBHasField(config.get(), kUploadSubdomainIndex))
        subdomain = ZDMPBGetString(config.get(), kUploadSubdomainIndex);
    return ZDMMeasurementService::current().urlWithPath("/a", subdomain);
}

std::optional<std::string> ZDMRemoteConfig::remoteConfigURLWithAppInstanceID(
    const std::optional<std::string>& appInstanceID, const std::optional<std::string>& platform,
    int64_t SDKVersion, int64_t runtimeVersion) const {
    const bool analyticsDenied = ZDMIsAnalyticsStorageDenied();
    const std::optional<std::string> instance =
        analyticsDenied ? std::optional<std::string>("") : appInstanceID;
    if (!instance || !platform) {
        monitor().logWithLevel(
            2, 29010,
            "Cannot create a URL to fetch a configuration with empty app instance ID or empty "
            "platform (app instance, platform)",
            instance ? Value(*instance) : Value(), platform ? Value(*platform) : Value());
        return std::nullopt;
    }
    Dictionary query;
    query.set("app_instance_id", Value(*instance));
    query.set("platform", Value(*platform));
    query.set("runtime_version", Value(std::to_string(runtimeVersion)));
    query.set("zor_version", Value(std::to_string(SDKVersion)));
    return ZDMMeasurementService::current().urlWithPath("/config/app/" + appID_) + "?" +
           zdm_queryString(query);
}

std::shared_ptr<ZDMPBEventConfig> ZDMRemoteConfig::eventConfigWithName(const std::string& eventName) const {
    if (eventName.empty()) {
        monitor().logWithLevel(5, 29006, "Cannot find event config with empty event name");
        return nullptr;
    }
    const auto object = eventConfigCache()->objectForKeyedSubscript(eventName).objectAs<ZDMPBEventConfig>();
    return std::const_pointer_cast<ZDMPBEventConfig>(object);
}

bool ZDMRemoteConfig::isEventBlocklisted(const std::string& eventName) const {
    const auto config = eventConfigWithName(eventName);
    // A present NO does not lift the global list.
    if (config && ZDMPBHasField(config.get(), kBlocklistedIndex) &&
        ZDMPBGetBool(config.get(), kBlocklistedIndex))
        return true;
    return ZDMIsPublicName(Value(eventName)) ? blocklistPublic() : blocklistInternal();
}

bool ZDMRemoteConfig::isEventCustomConversion(const std::string& eventName) const {
    const auto config = eventConfigWithName(eventName);
    return config && ZDMPBHasField(config.get(), kCustomConversionIndex) &&
           ZDMPBGetBool(config.get(), kCustomConversionIndex);
}

bool ZDMRemoteConfig::eventHasSamplingRate(const std::string& eventName) const {
    const auto config = eventConfigWithName(eventName);
    return config && ZDMPBHasField(config.get(), kSamplingRateIndex);
}

int32_t ZDMRemoteConfig::samplingRateForEvent(const std::string& eventName) const {
    const auto config = eventConfigWithName(eventName);
    if (!config || !ZDMPBHasField(config.get(), kSamplingRateIndex)) return 1;
    const int32_t rate = ZDMPBGetInt32(config.get(), kSamplingRateIndex);
    return rate >= 2 && rate <= 65535 ? rate : 1;
}
