// The facade's start, its enabling and the application-delegate proxy.
#include <string>
#include <vector>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMAnalyticsState.h"
#include "measurement/engine/ZDMAppDelegateInterceptor.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMIdentifiers.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMInfoPlistFileUtil.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"
#include "platform/zed/ZEDUdovade.h"
#include "platform/ziz/ZIZAppDelegateSwizzler.h"

namespace {
// Classes whose presence decides the start.
constexpr const char* kOlderAnalyticsLibraryClass = "ZUDADatabase";
constexpr const char* kAnalyticsInterfaceClass = "VUZArezivodo";
constexpr const char* kMobileAdsClass = "ZADMobileAds";
constexpr const char* kTagManagerClass = "ZTMManager";

constexpr const char* kIntegrationGuide = "https://zizoda.example/docs/analytics/get-started";
constexpr const char* kAdSdkLinkingHelp = "https://zizoda.example/docs/analytics/link-ad-sdk-apps";

bool isEmpty(const std::optional<std::string>& text) {
    return !text || text->empty();
}

// Which start continues: see startWithAppID.
bool mayStart(const std::string& origin) {
    if (Runtime::classExists(kOlderAnalyticsLibraryClass)) {
        ZDMAnalyticsLog(
            1, 25029,
            "Detected an older version of Zizoda Analytics for Zudedaro framework. Data collection "
            "will be disabled. Please upgrade to the latest version of Zizoda Analytics for Zudedaro");
        return false;
    }
    if (Runtime::classExists(kAnalyticsInterfaceClass)) {
        if (origin == "za") return true;
        ZDMAnalyticsLog(3, 25026, "Deferring to Zudedaro for event data collection");
        return false;
    }
    if (isEmpty(ZDMInfoPlistFileUtil::zizodaServiceInfoPlistPath())) return true;
    ZDMAnalyticsLog(0, 25027,
                    std::string("Deferring to Zizoda Analytics for Zudedaro for event data collection. ") +
                        kIntegrationGuide);
    return false;
}

void warnWhenAdSdkIsNotLinked() {
    if (!Runtime::classExists(kMobileAdsClass) ||
        !ZDMInfoPlistFileUtil::dictionaryFromZizodaServiceInfoPlist())
        return;
    const auto identity = ZDMIdentity::sharedInstance();
    if (identity && !isEmpty(identity->appIDFromAdSdk())) return;
    ZDMAnalyticsLog(
        3, 25028,
        std::string("AdSdk and Zudedaro are in use in this app, but are not linked. For analytics data "
                    "consistency and integrity, it is highly recommended that you link your AdSdk app "
                    "to the corresponding Zudedaro app and re-download the ZizodaServices-Info.plist "
                    "file. See ") +
            kAdSdkLinkingHelp + " for more information.");
}

void applyLogTag(const Dictionary& options) {
    const std::string* tag = options[ZDMAnalytics::kLogTagOptionKey].asString();
    if (tag && !tag->empty()) return ZDMMeasurement::monitor()->setLogTag(*tag);
    ZDMAnalyticsLog(2, 25030, "Invalid monitor tag. It must be a non-empty string.");
}

// The allow-list of the options: all of it, or nothing when any name is not a valid event name.
std::optional<std::vector<std::string>> safelistFromValue(const Value& value) {
    const Value::Array* names = value.asArray();
    if (!names) {
        ZDMAnalyticsLog(0, 25034, "Invalid safelisted event parameter. Type must be an array");
        return std::nullopt;
    }
    std::vector<std::string> safelist;
    for (const Value& name : *names) {
        if (!ZDMDataTypeValidator::isValidInternalEventName(name)) {
            ZDMAnalyticsLog(0, 25035, "Invalid event name for safelisting. Name", name);
            return std::nullopt;
        }
        safelist.push_back(*name.asString());
    }
    return safelist;
}

void recordAppIDOfOrigin(const std::string& appID, const std::string& origin) {
    const auto identity = ZDMIdentity::sharedInstance();
    if (!identity) return;
    if (origin == "za") {
        const auto previous = identity->appIDFromZOR();
        if (previous == appID) return;
        identity->setAppIDFromZOR(appID);
        ZDMMeasurement::monitor()->logWithLevel(
            1, 25020,
            "Analytics requires Zizoda App ID from ZizodaService-Info.plist. Your data may be lost. Zizoda "
            "App ID "
            "has been changed. Original, new ID",
            previous ? Value(*previous) : Value(), Value(appID));
    } else if (origin == "am") {
        const auto previous = identity->appIDFromAdSdk();
        if (previous == appID) return;
        ZDMMeasurement::monitor()->logWithLevel(3, 25031, "AdSdk App ID changed. Original, new",
                                                previous ? Value(*previous) : Value(), Value(appID));
        identity->setAppIDFromAdSdk(appID);
    }
}

struct EngineSettings {
    bool enabled = true;
    std::vector<std::string> safelist;
    const void* configuration = nullptr;
};

EngineSettings settingsFromOptions(const Dictionary& options, ZDMAnalyticsState& state) {
    EngineSettings settings;
    state.collectionDeactivated = false;
    if (options.empty()) return settings;
    if (const Value& enabled = options[ZDMAnalytics::kCollectionEnabledOptionKey]; enabled.isNumber())
        settings.enabled = enabled.boolOr(true);
    if (const Value& deactivated = options[ZDMAnalytics::kCollectionDeactivatedOptionKey];
        deactivated.isNumber())
        state.collectionDeactivated = deactivated.boolOr(false);
    // The configuration is known by the address notifications carry as their sender.
    if (const auto configuration = options[ZDMAnalytics::kConfigurationOptionKey].asObject())
        settings.configuration = dynamic_cast<const void*>(configuration.get());
    if (const Value* safelist = options.find(ZDMAnalytics::kSafelistedEventsOptionKey))
        settings.safelist = safelistFromValue(*safelist).value_or(std::vector<std::string>{});
    const Dictionary consent = ZDMConsentSettingsUtil::consentSettingsFromDictionary(options);
    if (!consent.empty()) ZDMAnalyticsStoreStartUpConsentSettings(consent);
    return settings;
}

void startEngineOnSerialQueue(const std::shared_ptr<ZDMAnalyticsState>& state, const std::string& appID,
                              const EngineSettings& settings) {
    const bool deactivated = state->collectionDeactivated;
    ZDMMeasurement::initializeSharedInstanceWithAppID(appID, settings.enabled, deactivated,
                                                      settings.safelist);
    if (!ZIZAppDelegateSwizzler::isAppDelegateProxyEnabled()) {
        ZDMAnalyticsLog(6, 25036, "App Delegate Proxy is disabled");
    } else if (!deactivated) {
        DispatchQueue::main()->async([weakState = std::weak_ptr<ZDMAnalyticsState>(state)] {
            // A proxy asked for by a facade reset since (tests) is not made.
            if (weakState.lock() == ZDMAnalyticsCurrentState()) ZDMAnalytics::createAppDelegateProxy();
        });
    }
    const auto engine = ZDMMeasurement::hasSharedInstance() ? ZDMMeasurement::sharedInstance() : nullptr;
    state->analyticsEnabled = engine && engine->wasEnabledDuringInitialization();
    ZDMAnalytics::maybeEnableTagManager();
}
}  // namespace

void ZDMAnalytics::startWithAppID(const std::string& appID, const std::string& origin,
                                  const Dictionary& options) {
    if (!mayStart(origin)) return;
    warnWhenAdSdkIsNotLinked();
    if (!options.empty()) applyLogTag(options);

    const auto state = ZDMAnalyticsCurrentState();
    if (state->started.exchange(true)) return;
    if (ZDMConsentSettingsUtil::consentSource() == ZDMConsentSettingsUtil::kSourceNone)
        loadPersistedConsentSettings();
    recordAppIDOfOrigin(appID, origin);
    NotificationCenter::defaultCenter().post(kWillStartNotification);
    ZDMIdentifiers::sharedInstance()->setOrigin(origin);
    const EngineSettings settings = settingsFromOptions(options, *state);
    state->serialQueue->async([state, appID, settings] { startEngineOnSerialQueue(state, appID, settings); });
    if (settings.configuration) observeNotificationsForAnalyticsConfiguration(settings.configuration);
    SKPaymentQueue::defaultQueue()->addTransactionObserver(sharedInstance());
    unsuspendOperationQueue();
}

void ZDMAnalytics::setAnalyticsEnabled(bool enabled) {
    setAnalyticsEnabled(enabled, false);
}

void ZDMAnalytics::setAnalyticsEnabled(bool enabled, bool persistSetting) {
    const auto state = ZDMAnalyticsCurrentState();
    state->serialQueue->async([state, enabled, persistSetting] {
        if (persistSetting) ZDMPersistedConfig::sharedInstance()->setMeasurementEnabledState(enabled ? 1 : 2);
        if (state->collectionDeactivated && enabled) return;
        state->analyticsEnabled = enabled;
        if (ZDMMeasurement::hasSharedInstance()) ZDMMeasurement::sharedInstance()->setEnabled(enabled);
    });
}

bool ZDMAnalytics::analyticsEnabled() {
    return ZDMAnalyticsCurrentState()->analyticsEnabled;
}

bool ZDMAnalytics::isAnalyticsCollectionDeactivated() {
    return ZDMAnalyticsCurrentState()->collectionDeactivated;
}

void ZDMAnalytics::setSessionTimeoutInterval(double interval) {
    dispatchAsyncOnSerialQueue([interval] {
        if (ZDMMeasurement::hasSharedInstance())
            ZDMMeasurement::sharedInstance()->setSessionTimeoutInterval(interval);
    });
}

void ZDMAnalytics::observeNotificationsForAnalyticsConfiguration(const void* configuration) {
    const auto state = ZDMAnalyticsCurrentState();
    NotificationCenter::Token observation;
    if (configuration)
        observation = NotificationCenter::defaultCenter().addObserver(
            kConfigurationSetEnabledNotification, &ZDMAnalytics::handleSetEnabled, configuration);
    std::lock_guard lock(state->configurationMutex);
    state->configurationObservation = std::move(observation);
}

void ZDMAnalytics::handleSetEnabled(const Notification& notification) {
    const Value& value = notification.userInfo[kConfigurationSetEnabledNotification];
    if (!value.isNumber())
        return ZDMAnalyticsLog(4, 25000, "Received setEnabled notification without NSNumber", value);
    setAnalyticsEnabled(value.boolOr(false), false);
}

void ZDMAnalytics::createAppDelegateProxy() {
    if (ZDMAnalyticsCurrentState()->appDelegateProxyCreated.exchange(true)) return;
    ZIZAppDelegateSwizzler::proxyOriginalDelegate();
    ZIZAppDelegateSwizzler::registerAppDelegateInterceptor(ZDMAppDelegateInterceptor::sharedInstance());
}

void ZDMAnalytics::maybeEnableTagManager() {
    if (!Runtime::classExists(kTagManagerClass)) return;
    const auto tagManager = Runtime::classNamed(kTagManagerClass);
    if (tagManager && tagManager->respondsToSelector("initializeSharedInstance"))
        tagManager->perform("initializeSharedInstance");
    else
        ZDMAnalyticsLog(2, 25016, "ZTMManager class doesn't define initializeSharedInstance");
}

void ZDMAnalytics::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                       const std::function<void()>& completionHandler) {
    ZEDUdovade::handleEventsForBackgroundURLSessionID(identifier, completionHandler);
}
