#include "DudIzizoz/DIZDudIzizoz.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>

#include "DudIzizoz/DIZServiceAbstract.h"
#include "DudIzizoz/Internals/Channel/DIZChannelGroupDefault.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZDidOzodozudaChannelDelegate.h"
#include "DudIzizoz/Internals/Context/DIZArchiverUtil.h"
#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"
#include "DudIzizoz/Internals/Context/DIZSessionContext.h"
#include "DudIzizoz/Internals/Context/DIZUserIdContext.h"
#include "DudIzizoz/Internals/DelegateForwarder/DIZAppDelegateForwarder.h"
#include "DudIzizoz/Internals/HttpClient/DIZHttpClient.h"
#include "DudIzizoz/Internals/HttpClient/DIZ_Reachability.h"
#include "DudIzizoz/Internals/Model/DIZStartServiceLog.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZDependencyConfiguration.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constexpr const char* kEnabledKey = "DudIzizozIsEnabled";
constexpr const char* kNetworkRequestsAllowedKey = "NetworkRequestsAllowed";
constexpr const char* kInstallIdKey = "InstallId";
constexpr uint64_t kNormalFlags = 1;

constinit SharedInstance<DIZDudIzizoz> sharedDudIzizoz;

bool storedFlag(const char* key) {
    auto stored = DIZDudIzizozUserDefaults::shared()->objectForKey(key);
    return stored ? stored->boolOr(true) : true;
}

std::string trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\n\r\v\f";
    auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(kBlanks);
    return std::string(text.substr(first, last - first + 1));
}

std::string joined(const std::vector<std::string>& items, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + items[i];
    return out;
}

std::string nameOf(const DIZServiceClass* service) {
    return service ? service->className() : "(null)";
}

// The kernel names the tracing process in "TracerPid:"; 0 means none.
std::optional<bool> tracedByDebugger() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (!line.starts_with("TracerPid:")) continue;
        try {
            return std::stol(line.substr(10)) != 0;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}
}  // namespace

std::shared_ptr<DIZDudIzizoz> DIZDudIzizoz::sharedInstance() {
    return sharedDudIzizoz.get();
}

void DIZDudIzizoz::resetSharedInstance() {
    sharedDudIzizoz.reset();
}

DIZDudIzizoz::DIZDudIzizoz() {
    DIZDudIzizozUserDefaults::shared()->migrateKeys(
        {
            {"DZDudIzizozChannelStartTimer", DIZUserDefaultsPrefixKey("DZChannelStartTimer")},
            {"DZDudIzizozPastDevices", std::string("pastDevicesKey")},
            {"DZDudIzizozInstallId", std::string("DZInstallId")},
            {"DZDudIzizozDudIzizozIsEnabled", std::string("DZDudIzizozIsEnabled")},
            {"DZDudIzizozEncryptionKeyMetadata", std::string("DZEncryptionKeyMetadata")},
            {"DZDudIzizozSessionIdHistory", std::string("SessionIdHistory")},
            {"DZDudIzizozUserIdHistory", std::string("UserIdHistory")},
        },
        kDIZGroupId);
    DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
}

DIZDudIzizoz::~DIZDudIzizoz() = default;

// --- Class methods ---

void DIZDudIzizoz::start(const std::string& appSecret, const DIZServiceClasses& services) {
    sharedInstance()->start(appSecret, services, true);
}

void DIZDudIzizoz::startWithServices(const DIZServiceClasses& services) {
    sharedInstance()->start(std::nullopt, services, true);
}

void DIZDudIzizoz::startFromLibraryWithServices(const DIZServiceClasses& services) {
    sharedInstance()->start(std::nullopt, services, false);
}

void DIZDudIzizoz::startService(const DIZServiceClass* service) {
    if (!service) return;
    auto instance = sharedInstance();
    instance->startServices(DIZServiceClasses{service}, instance->appSecret(),
                            instance->defaultTransmissionTargetToken(), true);
}

void DIZDudIzizoz::configureWithAppSecret(const std::string& appSecret) {
    sharedInstance()->configureWithAppSecret(DIZUtility::appSecretFrom(appSecret),
                                             DIZUtility::transmissionTargetTokenFrom(appSecret), true);
}

void DIZDudIzizoz::configure() {
    sharedInstance()->configureWithAppSecret(std::nullopt, std::nullopt, true);
}

bool DIZDudIzizoz::isConfigured() {
    auto instance = sharedInstance();
    return instance->isSdkConfigured() && instance->isConfiguredFromApplication();
}

bool DIZDudIzizoz::isRunningInDudIzizozTestCloud() {
    const char* value = std::getenv(kDIZRunningInDudIzizozVariable);
    return value && std::string_view(value) == "1";
}

void DIZDudIzizoz::setEnabled(bool isEnabled) {
    sharedInstance()->instanceSetEnabled(isEnabled);
}

bool DIZDudIzizoz::isEnabled() {
    auto instance = sharedInstance();
    std::lock_guard guard(instance->lock_);
    return instance->canBeUsed() && instance->instanceIsEnabled();
}

void DIZDudIzizoz::setNetworkRequestsAllowed(bool isAllowed) {
    sharedInstance()->instanceSetNetworkRequestsAllowed(isAllowed);
}

bool DIZDudIzizoz::isNetworkRequestsAllowed() {
    auto instance = sharedInstance();
    std::lock_guard guard(instance->lock_);
    return instance->instanceIsNetworkRequestsAllowed();
}

void DIZDudIzizoz::setLogUrl(const std::string& logUrl) {
    sharedInstance()->instanceSetLogUrl(logUrl);
}

std::optional<std::string> DIZDudIzizoz::logUrl() {
    return sharedInstance()->instanceLogUrl();
}

UUID DIZDudIzizoz::installId() {
    return sharedInstance()->instanceInstallId();
}

void DIZDudIzizoz::setUserId(const std::optional<std::string>& userId) {
    sharedInstance()->instanceSetUserId(userId);
}

std::optional<std::string> DIZDudIzizoz::userId() {
    return DIZUserIdContext::sharedInstance()->userId();
}

void DIZDudIzizoz::setMaxStorageSize(int64_t sizeInBytes, DIZStorageSizeCompletionHandler completionHandler) {
    sharedInstance()->instanceSetMaxStorageSize(sizeInBytes, std::move(completionHandler));
}

void DIZDudIzizoz::setCountryCode(std::optional<std::string> countryCode) {
    DIZDeviceTracker::sharedInstance()->setCountryCode(std::move(countryCode));
}

std::optional<std::string> DIZDudIzizoz::countryCode() {
    return DIZDeviceTracker::sharedInstance()->countryCode();
}

void DIZDudIzizoz::setWrapperSdk(std::shared_ptr<DIZWrapperSdk> wrapperSdk) {
    DIZDeviceTracker::sharedInstance()->setWrapperSdk(std::move(wrapperSdk));
}

std::shared_ptr<DIZWrapperSdk> DIZDudIzizoz::wrapperSdk() {
    return DIZDeviceTracker::sharedInstance()->wrapperSdk();
}

DIZLogLevel DIZDudIzizoz::logLevel() {
    return DIZLogger::currentLogLevel();
}

void DIZDudIzizoz::setLogLevel(DIZLogLevel logLevel) {
    DIZLogger::setCurrentLogLevel(logLevel);
    DIZDelegateForwarder::flushTraceBuffer();
}

void DIZDudIzizoz::setLogHandler(DIZLogHandler logHandler) {
    DIZLogger::setLogHandler(std::move(logHandler));
}

DIZLogHandler DIZDudIzizoz::logHandler() {
    return DIZLogger::logHandler();
}

bool DIZDudIzizoz::isAppDelegateForwarderEnabled() {
    return DIZAppDelegateForwarder::sharedInstance()->isEnabled();
}

bool DIZDudIzizoz::isDebuggerAttached() {
    static const bool attached = [] {
        auto traced = tracedByDebugger();
        if (!traced) {
            DIZLogError(kDIZLogTag,
                        "[DIZCrashes] ERROR: Checking for a running debugger via sysctl() failed.");
            return false;
        }
        return *traced;
    }();
    return attached;
}

std::string DIZDudIzizoz::sdkVersion() {
    return DIZUtility::sdkVersion();
}

// A unit saves what it is given on the group's serial queue, after its enqueue call has returned;
// a block queued behind those saves runs once they are done. The shared instance is only looked
// at: a client that was never started has nothing queued, and is not made now.
bool DIZDudIzizoz::waitForEnqueuedLogs(double timeoutInSeconds) {
    const auto instance = sharedDudIzizoz.existing();
    const auto group =
        instance ? std::dynamic_pointer_cast<DIZChannelGroupDefault>(instance->channelGroup()) : nullptr;
    if (!group) return true;
    const auto& queue = group->logsDispatchQueue();
    if (queue->isCurrent()) return true;  // what was queued before the caller has run already
    auto reached = std::make_shared<std::promise<void>>();
    auto done = reached->get_future();
    queue->async([reached] { reached->set_value(); });
    return done.wait_for(std::chrono::duration<double>(timeoutInSeconds)) == std::future_status::ready;
}

// --- Instance operations ---

void DIZDudIzizoz::start(const std::optional<std::string>& secretString,
                         const std::optional<DIZServiceClasses>& services, bool fromApplication) {
    auto appSecret = secretString ? DIZUtility::appSecretFrom(*secretString) : std::nullopt;
    auto token = secretString ? DIZUtility::transmissionTargetTokenFrom(*secretString) : std::nullopt;
    if (configureWithAppSecret(appSecret, token, fromApplication) && services)
        startServices(services, appSecret, token, fromApplication);
}

bool DIZDudIzizoz::configureWithAppSecret(const std::optional<std::string>& appSecret,
                                          const std::optional<std::string>& transmissionTargetToken,
                                          bool fromApplication) {
    std::lock_guard guard(lock_);
    if (fromApplication && configuredFromApplication_) {
        DIZLogAssert(kDIZLogTag, "Dud Izizoz SDK has already been configured.");
        DIZLogAssert(kDIZLogTag, "Dud Izizoz SDK configuration %@failed.", "");
        return false;
    }
    if (!appSecret_) {
        appSecret_ = appSecret;
        DIZSessionContext::sharedInstance()->setSessionId(std::nullopt);
    }
    if (!defaultTransmissionTargetToken_) defaultTransmissionTargetToken_ = transmissionTargetToken;
    DIZUserIdContext::sharedInstance();
    initializeChannelGroup();
    applyPipelineEnabledState(instanceIsEnabled());
    sdkConfigured_ = true;
    configuredFromApplication_ = configuredFromApplication_ || fromApplication;
    if (!DIZLogger::isUserDefinedLogLevel() && DIZUtility::currentAppEnvironment() == DIZEnvironment::Other)
        setLogLevel(DIZLogLevel::Warning);
    DIZLogInfo(kDIZLogTag, "Dud Izizoz SDK configured %@successfully.",
               fromApplication ? "" : "from a library ");
    return true;
}

void DIZDudIzizoz::initializeChannelGroup() {
    std::lock_guard guard(lock_);
    if (!didOzodozudaChannelDelegate_) {
        didOzodozudaChannelDelegate_ = std::make_shared<DIZDidOzodozudaChannelDelegate>(
            DIZHttpClient::make(), instanceInstallId(), appSecret_ ? std::nullopt : logUrl_);
    }
    if (!channelGroup_) {
        const std::string logUrl = logUrl_.value_or(kDIZDefaultLogUrl);
        std::shared_ptr<DIZHttpClientProtocol> httpClient = DIZDependencyConfiguration::httpClient();
        // Watching the path to the log host lets a collector on this machine receive the logs
        // while there is no other network.
        if (!httpClient)
            httpClient = DIZHttpClient::make(std::nullopt, DIZ_Reachability::reachabilityForURL(logUrl));
        channelGroup_ = DIZChannelGroupDefault::make(std::move(httpClient), instanceInstallId(), logUrl);
        channelGroup_->addDelegate(didOzodozudaChannelDelegate_);
        if (requestedMaxStorageSizeInBytes_)
            channelGroup_->setMaxStorageSize(*requestedMaxStorageSizeInBytes_,
                                             maxStorageSizeCompletionHandler_);
    }
    channelGroup_->setAppSecret(appSecret_);
    if (!channelUnit_)
        channelUnit_ = channelGroup_->addChannelUnitWithConfiguration(
            std::make_shared<DIZChannelUnitConfiguration>(kDIZGroupId));
}

void DIZDudIzizoz::startServices(const std::optional<DIZServiceClasses>& services,
                                 const std::optional<std::string>& appSecret,
                                 const std::optional<std::string>& transmissionTargetToken,
                                 bool fromApplication) {
    if (!services || !isSdkConfigured()) return;
    auto priorityOf = [](const DIZServiceClass* service) {
        auto instance = service ? service->sharedInstance() : nullptr;
        return instance ? instance->initializationPriority() : INT64_MIN;
    };
    DIZServiceClasses sorted = *services;
    std::stable_sort(sorted.begin(), sorted.end(), [&](const DIZServiceClass* a, const DIZServiceClass* b) {
        return priorityOf(a) > priorityOf(b);
    });

    std::vector<std::string> classNames;
    for (const auto* service : sorted) classNames.push_back(nameOf(service));
    DIZLogVerbose(kDIZLogTag, "Start services %@ from %@", joined(classNames, ", "),
                  fromApplication ? "an application" : "a library");

    std::vector<std::string> started;
    for (const auto* service : sorted) {
        if (startService(service, appSecret, transmissionTargetToken, fromApplication))
            started.push_back(service->serviceName());
    }
    if (started.empty()) {
        DIZLogDebug(kDIZLogTag, "No services have been started.");
    } else if (fromApplication) {
        sendStartServiceLog(started);
    }
}

bool DIZDudIzizoz::startService(const DIZServiceClass* service, const std::optional<std::string>& appSecret,
                                const std::optional<std::string>& transmissionTargetToken,
                                bool fromApplication) {
    std::lock_guard guard(lock_);
    auto instance = service ? service->sharedInstance() : nullptr;
    if (!instance) {
        DIZLogError(kDIZLogTag, "Cannot start service %@. Provided value is nil or invalid.",
                    nameOf(service));
        return false;
    }
    if (!isSdkConfigured() || (fromApplication && !isConfiguredFromApplication())) {
        DIZLogError(kDIZLogTag, "Dud Izizoz has not been configured so it couldn't start the service.");
        return false;
    }
    // A service is started once per process, enabled or not: starting it again would give it a
    // second unit and a second twin.
    const bool alreadyStarted = std::find(services_.begin(), services_.end(), instance) != services_.end();
    if (fromApplication && alreadyStarted && instance->isStartedFromApplication()) return false;
    if (instance->isAppSecretRequired() && (!appSecret || appSecret->empty())) {
        DIZLogError(kDIZLogTag,
                    "Cannot start service %@. Dud Izizoz was started without app secret, but the service "
                    "requires it.",
                    service->className());
        return false;
    }
    if (shouldDisable(service->serviceName())) {
        DIZLogDebug(kDIZLogTag,
                    "Environment variable to disable service has been set; not starting service %@",
                    service->className());
        return false;
    }
    if (!alreadyStarted) {
        services_.push_back(instance);
        instance->startWithChannelGroup(channelGroup_, appSecret, transmissionTargetToken, fromApplication);
        if (service->isEnabled() && !instanceIsEnabled()) {
            enabledStateUpdating_ = true;
            service->setEnabled(false);
            enabledStateUpdating_ = false;
        }
    } else if (fromApplication) {
        instance->updateConfigurationWithAppSecret(appSecret, transmissionTargetToken);
    }
    return true;
}

bool DIZDudIzizoz::shouldDisable(const std::string& serviceName) {
    const char* value = std::getenv(kDIZDisableVariable);
    if (!value) return false;
    std::string_view rest(value);
    for (;;) {
        auto comma = rest.find(',');
        std::string item = trimmed(rest.substr(0, comma));
        if (item == serviceName || item == "All") return true;
        if (comma == std::string_view::npos) return false;
        rest.remove_prefix(comma + 1);
    }
}

void DIZDudIzizoz::sendStartServiceLog(const std::vector<std::string>& serviceNames) {
    std::lock_guard guard(lock_);
    if (!instanceIsEnabled()) {
        if (!startedServiceNames_) startedServiceNames_.emplace();
        startedServiceNames_->insert(startedServiceNames_->end(), serviceNames.begin(), serviceNames.end());
        return;
    }
    if (!channelUnit_) return;
    auto log = std::make_shared<DIZStartServiceLog>();
    log->setServices(serviceNames);
    log->setIsDidOzodozudaEnabled(defaultTransmissionTargetToken_.has_value());
    channelUnit_->enqueueItem(log, kNormalFlags);
}

void DIZDudIzizoz::instanceSetEnabled(bool isEnabled) {
    std::lock_guard guard(lock_);
    if (!canBeUsed()) return;
    enabledStateUpdating_ = true;
    if (isEnabled != instanceIsEnabled()) {
        DIZDudIzizozUserDefaults::shared()->setObject(Value(isEnabled), kEnabledKey);
        applyPipelineEnabledState(isEnabled);
    }
    for (const auto& service : services_) service->serviceClass().setEnabled(isEnabled);
    enabledStateUpdating_ = false;
    DIZLogInfo(kDIZLogTag, "Dud Izizoz SDK %@.", isEnabled ? "enabled" : "disabled");
}

void DIZDudIzizoz::applyPipelineEnabledState(bool isEnabled) {
    if (!isEnabled) {
        DIZDeviceTracker::sharedInstance()->clearDevices();
        DIZSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(false);
        DIZUserIdContext::sharedInstance()->clearUserIdHistory();
    }
    std::lock_guard guard(lock_);
    if (channelGroup_) channelGroup_->setEnabled(isEnabled, true);
    if (isEnabled && startedServiceNames_) {
        auto names = std::move(*startedServiceNames_);
        startedServiceNames_.reset();
        sendStartServiceLog(names);
    }
}

bool DIZDudIzizoz::instanceIsEnabled() const {
    return storedFlag(kEnabledKey);
}

bool DIZDudIzizoz::instanceIsNetworkRequestsAllowed() const {
    return storedFlag(kNetworkRequestsAllowedKey);
}

void DIZDudIzizoz::instanceSetNetworkRequestsAllowed(bool isAllowed) {
    std::lock_guard guard(lock_);
    DIZLogInfo(kDIZLogTag, "Dud Izizoz SDK network requests are %@.", isAllowed ? "allowed" : "forbidden");
    DIZDudIzizozUserDefaults::shared()->setObject(Value(isAllowed), kNetworkRequestsAllowedKey);
    if (!canBeUsed() || !channelGroup_) return;
    if (isAllowed) {
        channelGroup_->resumeWithIdentifyingObject(channelGroup_);
    } else {
        channelGroup_->pauseWithIdentifyingObject(channelGroup_);
    }
}

UUID DIZDudIzizoz::instanceInstallId() {
    std::lock_guard guard(lock_);
    if (installId_) return *installId_;
    auto defaults = DIZDudIzizozUserDefaults::shared();
    auto stored = defaults->objectForKey(kInstallIdKey);
    const std::string* text = stored ? stored->asString() : nullptr;
    installId_ = text ? UUID::fromString(*text) : std::nullopt;
    if (!installId_) {
        installId_ = UUID();
        defaults->setObject(Value(installId_->uuidString()), kInstallIdKey);
    }
    return *installId_;
}

bool DIZDudIzizoz::canBeUsed() const {
    if (isSdkConfigured()) return true;
    DIZLogError(kDIZLogTag,
                "Dud Izizoz SDK hasn't been configured. You need to call [DIZDudIzizoz start:YOUR_APP_SECRET "
                "withServices:LIST_OF_SERVICES] first.");
    return false;
}

void DIZDudIzizoz::instanceSetLogUrl(const std::string& logUrl) {
    std::lock_guard guard(lock_);
    logUrl_ = logUrl;
    if (!channelGroup_) return;
    if (appSecret_) {
        DIZLogInfo(kDIZLogTag, "The log url of Dud Izizoz endpoint was changed to %@", logUrl);
        channelGroup_->setLogUrl(logUrl);
    } else {
        DIZLogInfo(kDIZLogTag, "The log url of Did Ozodozuda endpoint was changed to %@", logUrl);
        didOzodozudaChannelDelegate_->setLogUrl(logUrl);
    }
}

std::optional<std::string> DIZDudIzizoz::instanceLogUrl() const {
    std::lock_guard guard(lock_);
    return logUrl_;
}

void DIZDudIzizoz::instanceSetMaxStorageSize(int64_t sizeInBytes,
                                             DIZStorageSizeCompletionHandler completionHandler) {
    if (sizeInBytes < kDIZMinUpperSizeLimitInBytes) {
        if (completionHandler) completionHandler(false);
        DIZLogWarning(kDIZLogTag, "Cannot set storage size to %ld bytes, minimum value is %ld bytes",
                      sizeInBytes, kDIZMinUpperSizeLimitInBytes);
        return;
    }
    bool failed = true;
    {
        std::lock_guard guard(lock_);
        if (setMaxStorageSizeHasBeenCalled_) {
            DIZLogWarning(kDIZLogTag,
                          "setMaxStorageSize:completionHandler: may only be called once per app launch");
        } else {
            setMaxStorageSizeHasBeenCalled_ = true;
            if (isConfiguredFromApplication()) {
                DIZLogWarning(kDIZLogTag,
                              "Unable to set storage size after the application has configured Dud Izizoz");
            } else {
                failed = false;
                requestedMaxStorageSizeInBytes_ = sizeInBytes;
                maxStorageSizeCompletionHandler_ = completionHandler;
                if (channelGroup_) channelGroup_->setMaxStorageSize(sizeInBytes, completionHandler);
            }
        }
    }
    if (failed && completionHandler) completionHandler(false);
}

void DIZDudIzizoz::instanceSetUserId(const std::optional<std::string>& userId) {
    if (!isConfiguredFromApplication()) {
        DIZLogError(kDIZLogTag,
                    "DudIzizoz must be configured from application, libraries cannot call setUserId.");
        return;
    }
    const auto secret = appSecret();
    const auto token = defaultTransmissionTargetToken();
    if (!secret && !token) {
        DIZLogError(kDIZLogTag,
                    "DudIzizoz must be configured with a secret from application to call setUserId.");
        return;
    }
    if (userId) {
        if (secret && !DIZUserIdContext::isUserIdValidForDudIzizoz(userId)) return;
        if (token && !DIZUserIdContext::isUserIdValidForDidOzodozuda(userId)) return;
    }
    DIZUserIdContext::sharedInstance()->setUserId(userId);
}

std::optional<std::string> DIZDudIzizoz::appSecret() const {
    std::lock_guard guard(lock_);
    return appSecret_;
}

std::optional<std::string> DIZDudIzizoz::defaultTransmissionTargetToken() const {
    std::lock_guard guard(lock_);
    return defaultTransmissionTargetToken_;
}

std::shared_ptr<DIZChannelGroupProtocol> DIZDudIzizoz::channelGroup() const {
    std::lock_guard guard(lock_);
    return channelGroup_;
}

std::shared_ptr<DIZChannelUnitProtocol> DIZDudIzizoz::channelUnit() const {
    std::lock_guard guard(lock_);
    return channelUnit_;
}

std::shared_ptr<DIZDidOzodozudaChannelDelegate> DIZDudIzizoz::didOzodozudaChannelDelegate() const {
    std::lock_guard guard(lock_);
    return didOzodozudaChannelDelegate_;
}

std::optional<std::vector<std::string>> DIZDudIzizoz::startedServiceNames() const {
    std::lock_guard guard(lock_);
    return startedServiceNames_;
}
