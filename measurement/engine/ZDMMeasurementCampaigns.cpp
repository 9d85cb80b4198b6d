// Campaign attribution: links that opened the app (while it ran, at launch, or deferred from the
// ad-services endpoint) become the campaign event "_cmp", and the engine's search-ad reporter.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMDeepLink.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/engine/ZDMSearchAdReporter.h"
#include "measurement/foundation/ZDMAEU.h"
#include "measurement/foundation/ZDMDictionaryQuery.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMMeasurementService.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/NSUserActivity.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"
#include "platform/foundation/URL.h"

using zdm_engine::log;

namespace {
bool isNonEmptyText(const Value& value) {
    return value.asString() && !value.asString()->empty();
}

std::optional<std::string_view> campaignParameterName(std::string_view queryKey) {
    for (const auto& [key, name] : kZDMCampaignParameterMap)
        if (key == queryKey) return name;
    return std::nullopt;
}

// The class is looked up by name: where it lacks either property, activities carry no links.
bool userActivitiesHaveLinks() {
    const auto activityClass = Runtime::classNamed("NSUserActivity");
    if (!activityClass || !activityClass->respondsToSelector("instancesRespondToSelector:")) return false;
    return activityClass->performWithObject("instancesRespondToSelector:", Value("webpageURL"))
               .boolOr(false) &&
           activityClass->performWithObject("instancesRespondToSelector:", Value("activityType"))
               .boolOr(false);
}

// The engine's own configuration once it has one, else the default one.
std::shared_ptr<ZDMRemoteConfig> configOf(const ZDMMeasurement& engine) {
    auto config = engine.remoteConfigInstance();
    return config ? config : ZDMMeasurement::remoteConfig();
}

bool launchedWithArgument(std::string_view argument) {
    const auto arguments = ProcessInfo::arguments();
    return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
}
}  // namespace

std::shared_ptr<const URL> ZDMMeasurement::deepLinkFromUserActivity(
    const std::shared_ptr<const NSUserActivity>& userActivity) {
    if (!userActivity) {
        log(7, 23003, "User Activity is empty. User Activity");
        return nullptr;
    }
    if (!userActivitiesHaveLinks()) {
        log(3, 23005, "NSUserActivity is not supported");
        return nullptr;
    }
    const auto& url = userActivity->webpageURL();
    if (userActivity->activityType() == NSUserActivityTypeBrowsingWeb && url &&
        !url->absoluteString().empty())
        return url;
    monitor()->logWithLevel(3, 23006, "User Activity does not have Deep Link. User Activity",
                            Value(std::static_pointer_cast<const Object>(userActivity)));
    return nullptr;
}

void ZDMMeasurement::handleStoredURLAfterAppLaunchWithNotification(const Notification& notification) {
    const Dictionary* userInfo = notification.userInfo.asDictionary();
    if (!userInfo) return;
    const auto store = ZDMUserDefaults::standardUserDefaults();
    const Dictionary* activities =
        (*userInfo)["UIApplicationLaunchOptionsUserActivityDictionaryKey"].asDictionary();
    if (activities && !activities->empty()) {
        if (const auto activity =
                (*activities)["UIApplicationLaunchOptionsUserActivityKey"].objectAs<NSUserActivity>()) {
            if (const auto url = deepLinkFromUserActivity(activity))
                ZDMStoreDeepLink(*store, url->absoluteString());
            return;
        }
    }
    if (const auto url = (*userInfo)["UIApplicationLaunchOptionsURLKey"].objectAs<URL>())
        ZDMStoreDeepLink(*store, url->absoluteString());
}

void ZDMMeasurement::handleNonFirstOpenEventURL(const std::shared_ptr<const URL>& url,
                                                double eventTimestampInSeconds) {
    if (DispatchQueue::currentLabel() == scheduler_->workerQueue()->label())
        return log(2, 23163, "Do not call handleNonFirstOpenOpenURL on the measurement worker queue");
    handleOpenURL(url, std::nullopt, eventTimestampInSeconds);
}

void ZDMMeasurement::handleOpenURL(const std::shared_ptr<const URL>& url,
                                   std::optional<int64_t> clickTimestampInMs,
                                   double eventTimestampInSeconds) {
    if (!url || url->absoluteString().empty()) return;
    handleDebugModeWithURL(url);
    handleDeepLink(url, clickTimestampInMs, eventTimestampInSeconds);
}

void ZDMMeasurement::handleDeepLink(const std::shared_ptr<const URL>& url,
                                    std::optional<int64_t> clickTimestampInMs,
                                    double eventTimestampInSeconds) {
    scheduleOnWorkerQueue(
        "ZDMMeasurement:397", [url, clickTimestampInMs, eventTimestampInSeconds](ZDMMeasurement& self) {
            self.handleOpenURLOnWorkerQueue(url, clickTimestampInMs, eventTimestampInSeconds, std::nullopt);
        });
}

void ZDMMeasurement::reportStoredCampaignEventOnWorkerQueue(std::optional<int64_t> clickTimestampInMs) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName(
        "reportStoredCampaignEventWithClickTimestampInMillisOnWorkerQueue:");
    const auto store = ZDMUserDefaults::standardUserDefaults();
    auto link = store->stringForKey(kZDMDeepLinkKey);
    if (!link || link->empty()) return;
    const double storedAt = store->doubleForKey(kZDMDeepLinkTimestampKey);
    Dictionary extras;
    if (ZDMIsStoredDeepLinkOlderThan(*store, configOf(*this)->attributionCacheTTLInterval())) {
        // Too old to name its campaign, the link still records that a campaign brought the user.
        extras = {{"utm_source", Value("(not set)")},
                  {"utm_medium", Value("(not set)")},
                  {"_cc", Value(int64_t{1})}};
        link = "(not set)";
    } else {
        extras = {{"_cc", Value(ZDMHourStartBeforeMillis(static_cast<int64_t>(storedAt * 1000)))}};
    }
    ZDMRemoveStoredDeepLink(*store);
    handleOpenURLOnWorkerQueue(URL::URLWithString(*link), clickTimestampInMs, storedAt, extras);
}

void ZDMMeasurement::handleOpenURLOnWorkerQueue(const std::shared_ptr<const URL>& url,
                                                std::optional<int64_t> clickTimestampInMs,
                                                double eventTimestampInSeconds,
                                                const std::optional<Dictionary>& extraParameters) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName(
        "handleOpenURLOnWorkerQueue:clickTimestampInMs:eventTimestampInSeconds:extraParameters:");
    Dictionary params;
    Dictionary numbers;
    for (const auto& [key, value] : extraParameters.value_or(Dictionary{})) {
        if (value.asString())
            params.set(key, value);
        else if (value.isNumber())
            numbers.set(key, value);
    }
    if (url && url->query())
        for (const auto& [key, value] : zdm_dictionaryWithHttpArgumentsString(*url->query()))
            params.set(key, value);
    if (params.empty()) return log(7, 23000, "Deep Link Web URL query is empty");
    if (!isValidCampaignURLParamDictionary(params))
        return monitor()->logWithLevel(
            3, 23001, "Deep Link does not contain valid required params. URL params", Value(params));

    Dictionary parameters;
    for (const auto& [key, value] : params)
        if (const auto name = campaignParameterName(key); name && isNonEmptyText(value))
            parameters.set(std::string(*name), value);
    if (!shouldAllowClickID())
        for (const char* clickID : {"zclid", "zdclid", "zsltid"}) parameters.erase(clickID);
    for (const auto& [key, value] : numbers) parameters.set(key, value);
    if (clickTimestampInMs) parameters.set("click_timestamp", Value(*clickTimestampInMs));

    // No campaign is dated before the install's first open.
    const double timestamp =
        std::max(static_cast<double>(persistedConfig_->firstOpenTimestampMilliseconds()) / 1000,
                 eventTimestampInSeconds);
    if (const Value& zbraid = parameters["zbraid"]; isNonEmptyText(zbraid))
        setUserPropertyInDatabaseOnWorkerQueue(
            ZDMUserAttribute::initWithOrigin("auto", "_zbraid", ZDMValue::initWithString(zbraid), timestamp));
    const Value& expiredMark = parameters["_cc"];
    const bool expired = expiredMark.isNumber() && expiredMark.asReal() == 1.0;
    // The write path tells the event listeners of it.
    handleInternalEventOnWorkerQueue(
        ZDMEvent::initWithOrigin("auto", false, expired ? "_cmpx" : "_cmp", timestamp, 0, parameters));
}

bool ZDMMeasurement::isValidCampaignURLParamDictionary(const Dictionary& parameters) {
    return std::any_of(std::begin(kZDMCampaignRequiredKeys), std::end(kZDMCampaignRequiredKeys),
                       [&](std::string_view key) { return isNonEmptyText(parameters[key]); });
}

bool ZDMMeasurement::shouldAllowClickID() {
    constexpr uint64_t kAuthorized = 3;
    const auto identity = this->identity();
    if (!identity || !identity->iOS14OrAbove()) return true;
    const auto deviceID = identity->resettableDeviceID();
    return (deviceID && !deviceID->empty()) || identity->appleConsentStatus() == kAuthorized;
}

bool ZDMMeasurement::shouldAllowRequestDeferredDeepLink() {
    const auto config = configOf(*this);
    if (!config->isDeferredDeepLinkEnabled()) {
        log(5, 23193, "Deferred Deep Link feature disabled");
        return false;
    }
    const auto enabled =
        Bundle::mainBundle()->objectForInfoDictionaryKey("ZIZODA_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED");
    if (!enabled || !enabled->isNumber() || !enabled->boolOr(false)) return false;
    if (persistedConfig_->deferredDeepLinkRetrievalComplete()) {
        log(7, 23194, "Already retrieved Deferred Deep Link. Skipping");
        return false;
    }
    if (persistedConfig_->deferredDeepLinkRetryCount() >= config->maxDeferredDeepLinkRetryCount()) {
        log(3, 23195, "Failed to retrieve Deferred Deep Link. Reached retry limit");
        persistedConfig_->setDeferredDeepLinkRetrievalComplete(Value(int64_t{1}));
        return false;
    }
    if (ZDMConsentSettingsUtil::isAdStorageDenied()) {
        log(3, 23252,
            "IDFA unavailable to retrieve Deferred Deep Link due to denied ad storage consent. Skipping");
        return false;
    }
    const auto identity = this->identity();
    if (identity && identity->hasLimitedAdTracking() && !identity->limitedAdTracking()) {
        log(7, 23197, "Deferred Deep Link feature enabled");
        return true;
    }
    log(3, 23196, "IDFA unavailable to retrieve Deferred Deep Link. Skipping");
    return false;
}

void ZDMMeasurement::requestDeferredDeepLink() {
    const auto identity = this->identity();
    if (!identity || !network_) return;
    std::string path = "/adsvc/conversion/app/deeplink?sdk_version=" +
                       std::to_string(ZDMIdentity::didAdirezaridoLibraryVersion()) +
                       "&rdid=" + URLQueryPercentEncoded(identity->resettableDeviceID().value_or("")) +
                       "&id_type=idfa&bundleid=" + URLQueryPercentEncoded(identity->appID()) +
                       "&retry=" + std::to_string(persistedConfig_->deferredDeepLinkRetryCount());
    if (!ZDMAEU::isFAS() && launchedWithArgument("-DebugDeferredDeepLink")) path += "&ddl_test=1";
    const std::string url = ZDMMeasurementService::adServices().urlWithPath(path);
    if (!URL::URLWithString(url)) return log(3, 23198, "URL to retrieve Deferred Deep Link is invalid");

    setIsNetworkRequestPending(true);
    network_->setTimeoutInterval(configOf(*this)->networkTimeout());
    std::weak_ptr<ZDMMeasurement> weakSelf = weak_from_this();
    network_->getURL(url, std::nullopt, scheduler_->workerQueue(), false,
                     [weakSelf](std::shared_ptr<const HTTPURLResponse> response, std::optional<Data> data,
                                std::optional<Error> error) {
                         if (const auto self = weakSelf.lock())
                             self->handleDeferredDeepLinkResponse(*response, data, error);
                     });
}

void ZDMMeasurement::handleDeferredDeepLinkResponse(const HTTPURLResponse& response,
                                                    const std::optional<Data>& data,
                                                    const std::optional<Error>& error) {
    setIsNetworkRequestPending(false);
    const long status = response.statusCode;
    if (error || (status != kZEDUdovadeHTTPStatusCodeNotModified && status != kZEDUdovadeHTTPStatusOK &&
                  status != kZEDUdovadeHTTPStatusNoContent)) {
        monitor()->logWithLevel(
            1, 23199, "Failed to retrieve Deferred Deep Link. Will retry on next launch. Code, error",
            Value(int64_t{status}), error ? ErrorObject::value(*error) : Value());
        persistedConfig_->setDeferredDeepLinkRetryCount(persistedConfig_->deferredDeepLinkRetryCount() + 1);
        return updateSchedule();
    }
    persistedConfig_->setDeferredDeepLinkRetrievalComplete(Value(int64_t{0}));
    const auto info = deepLinkInfoFromResponseData(data);
    if (!info || info->empty()) return updateSchedule();
    log(7, 23200, "Successfully retrieved Deferred Deep Link");
    handleDeferredDeepLinkInfo(*info);
}

std::optional<Dictionary> ZDMMeasurement::deepLinkInfoFromResponseData(const std::optional<Data>& data) {
    if (!data || data->empty()) {
        log(8, 23201, "Deferred Deep Link response is empty");
        return std::nullopt;
    }
    Error error;
    const auto parsed =
        json::parse(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()), &error);
    if (!parsed) {
        zdm_engine::logError(1, 23202, "Failed to parse Deferred Deep Link from JSON. Error", error);
        return std::nullopt;
    }
    const Dictionary* info = parsed->asDictionary();
    if (!info || info->empty()) return std::nullopt;
    const auto* link = (*info)["deeplink"].asString();
    if (!link || !URL::URLWithString(*link)) return std::nullopt;
    return *info;
}

void ZDMMeasurement::handleDeferredDeepLinkInfo(const Dictionary& info) {
    const auto* link = info["deeplink"].asString();
    const auto url = link ? URL::URLWithString(*link) : nullptr;
    if (!url) return;
    log(8, 23203, "Sending Deferred Deep Link to app delegate");
    std::optional<Dictionary> extraInfo;
    if (const Value* timestamp = info.find("timestamp")) extraInfo = Dictionary{{"timestamp", *timestamp}};
    std::weak_ptr<ZDMMeasurement> weakSelf = weak_from_this();
    DispatchQueue::main()->async([weakSelf, url, extraInfo] {
        const auto self = weakSelf.lock();
        if (!self || self->sendDeepLinkURLToAppDelegateOnMainThread(url, extraInfo)) return;
        monitor()->logWithLevel(3, 23204, "App delegate not configured to handle Deferred Deep Link",
                                Value(std::static_pointer_cast<const Object>(url)));
    });
}

bool ZDMMeasurement::sendDeepLinkURLToAppDelegateOnMainThread(
    const std::shared_ptr<const URL>& /*url*/, const std::optional<Dictionary>& /*extraInfo*/) {
    return false;
}

std::shared_ptr<ZDMSearchAdReporter> ZDMMeasurement::searchAdReporter() const {
    std::lock_guard lock(componentsMutex_);
    return searchAdReporter_;
}

void ZDMMeasurement::startSearchAdReporterOnWorkerQueue() {
    auto reporter = ZDMSearchAdReporter::initWithWorkerQueue(scheduler_->workerQueue(), persistedConfig_);
    {
        std::lock_guard lock(componentsMutex_);
        searchAdReporter_ = reporter;
    }
    if (!reporter) return;
    reporter->setSearchAdReporterEnabled(true);
    reporter->start();
}

void ZDMMeasurement::setSearchAdReporterEnabledOnWorkerQueue(bool enabled) {
    if (const auto reporter = searchAdReporter()) reporter->setSearchAdReporterEnabled(enabled);
}
