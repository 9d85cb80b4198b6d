#include "measurement/engine/ZDMMeasurement.h"

#include <filesystem>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMDeepLink.h"
#include "measurement/engine/ZDMEngineAudience.h"
#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/foundation/ZDMAlarm.h"
#include "measurement/foundation/ZDMIdentifiers.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMInstalledRemoteConfig.h"
#include "measurement/foundation/ZDMMeasurementService.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"
#include "platform/zed/ZEDUdovade.h"

namespace fs = std::filesystem;

using zdm_engine::log;

namespace {
constexpr const char* kAnalyticsInterfaceClass = "VUZArezivodo";
constexpr const char* kLoggingHelp = " (see https://quorvane.example/help/measurement-logging)";

// The shared instance and whether initialisation was attempted, under one mutex. The state is made
// once and never freed; a reset for tests puts it back to a new process's.
struct ClassState {
    std::mutex mutex;
    std::shared_ptr<ZDMMeasurement> instance;
    bool initializationAttempted = false;
    ZDMMeasurement::ExperimentManagerSource experimentManagerSource;
    ZDMMeasurement::SharedInstanceObserver sharedInstanceObserver;
};
ClassState& classState() {
    static ClassState* state = [] {
        auto* made = new ClassState;
        registerResetForTesting([] { ZDMMeasurement::resetSharedInstance(); });
        return made;
    }();
    return *state;
}

// The identifiers below the engine answer from the engine's identity once it runs.
const bool engineIdentityInstalled = [] {
    ZDMIdentifiers::setEngineIdentitySource([]() -> std::shared_ptr<ZDMIdentity> {
        if (!ZDMMeasurement::hasSharedInstance()) return nullptr;
        const auto measurement = ZDMMeasurement::sharedInstance();
        return measurement ? measurement->identity() : nullptr;
    });
    return true;
}();

std::string analyticsVersion() {
    const auto interface = Runtime::classNamed(kAnalyticsInterfaceClass);
    if (interface && interface->respondsToSelector("topLevelVersion")) {
        const Value version = interface->perform("topLevelVersion");
        if (const std::string* text = version.asString()) return *text;
    }
    return ZDMMeasurement::kDefaultVersion;
}

// Tells the developer how to switch debug and verbose logging the other way.
void logLoggingHints(const ZDMMonitor& monitor) {
    const bool interfacePresent = Runtime::classExists(kAnalyticsInterfaceClass);
    const std::string prefix = interfacePresent ? "VUZArezivodo" : "ZDMAnalytics";
    const std::string debugArgument =
        monitor.isDebugModeEnabled() ? "-no" + prefix + "DebugEnabled" : "-" + prefix + "DebugEnabled";
    log(6, 23008,
        std::string(monitor.isDebugModeEnabled() ? "To disable" : "To enable") +
            " debug logging set the following application argument: " + debugArgument + kLoggingHelp);
    log(7, 23009, "Debug logging enabled");
    const std::string verboseArgument =
        "-" + prefix + "VerboseLogging" + (monitor.isVerboseLoggingEnabled() ? "Disabled" : "Enabled");
    log(7, 23207,
        std::string(monitor.isVerboseLoggingEnabled() ? "To disable" : "To enable") +
            " verbose logging set the following application argument: " + verboseArgument + kLoggingHelp);
}
}  // namespace

// The foundation's classes log before any engine exists, so the monitor itself is kept there.
std::shared_ptr<ZDMMonitor> ZDMMeasurement::monitor() {
    return ZDMMonitor::sharedMonitor();
}

// The foundation's rules read the configuration too, so the slot is kept there; the engine
// installs its configuration into it when it makes one.
std::shared_ptr<ZDMRemoteConfig> ZDMMeasurement::remoteConfig() {
    return ZDMInstalledRemoteConfig();
}

void ZDMMeasurement::setRemoteConfigForTesting(std::shared_ptr<ZDMRemoteConfig> remoteConfig) {
    ZDMInstallRemoteConfig(std::move(remoteConfig));
}

void ZDMMeasurement::initializeSharedInstanceWithAppID(const std::string& appID,
                                                       bool isAnalyticsCollectionEnabled,
                                                       bool isAnalyticsCollectionDeactivated,
                                                       std::vector<std::string> safelistedEvents) {
    auto& state = classState();
    std::shared_ptr<ZDMMeasurement> made;
    SharedInstanceObserver observer;
    {
        std::lock_guard lock(state.mutex);
        if (state.initializationAttempted) return;
        state.initializationAttempted = true;
        if (appID.empty()) return;
        monitor();
        auto experimentManager = state.experimentManagerSource ? state.experimentManagerSource() : nullptr;
        state.instance = initWithAppID(appID, isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated,
                                       std::move(safelistedEvents), std::move(experimentManager));
        made = state.instance;
        observer = state.sharedInstanceObserver;
    }
    // Outside the lock: the observer may ask for the shared instance.
    if (made && observer) observer(made);
}

void ZDMMeasurement::setSharedInstanceObserver(SharedInstanceObserver observer) {
    auto& state = classState();
    std::lock_guard lock(state.mutex);
    state.sharedInstanceObserver = std::move(observer);
}

bool ZDMMeasurement::hasSharedInstance() {
    auto& state = classState();
    std::lock_guard lock(state.mutex);
    return state.instance && state.initializationAttempted;
}

std::shared_ptr<ZDMMeasurement> ZDMMeasurement::sharedInstance() {
    auto& state = classState();
    std::lock_guard lock(state.mutex);
    if (!state.initializationAttempted && Runtime::classExists(kAnalyticsInterfaceClass))
        ZIZLogWarning("<DidAdirezarido>", false, "I-ACS023147",
                      "Zizoda Analytics for Zudedaro has not been created. Please, configure Zudedaro by "
                      "calling [ZUDApp configure]");
    return state.instance;
}

void ZDMMeasurement::resetSharedInstance() {
    std::shared_ptr<ZDMMeasurement> released;
    {
        auto& state = classState();
        std::lock_guard lock(state.mutex);
        released.swap(state.instance);
        state.initializationAttempted = false;
    }
}

void ZDMMeasurement::setExperimentManagerSource(ExperimentManagerSource source) {
    auto& state = classState();
    std::lock_guard lock(state.mutex);
    state.experimentManagerSource = std::move(source);
}

std::shared_ptr<ZDMMeasurement> ZDMMeasurement::initWithAppID(
    const std::string& appID, bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
    std::vector<std::string> safelistedEvents, std::shared_ptr<ExperimentManager> experimentManager) {
    if (appID.empty()) {
        log(1, 23170, "Cannot start Measurement. App ID is empty.");
        return nullptr;
    }
    log(6, 23007, "Analytics v." + analyticsVersion() + " started");
    if (Runtime::classExists(kAnalyticsInterfaceClass))
        log(8, 23222, "Build " + std::to_string(ZDMIdentity::didAdirezaridoLibraryVersion()));
    const auto monitor = ZDMMeasurement::monitor();
    logLoggingHints(*monitor);

    auto network = ZEDUdovade::initWithReachabilityHost(ZDMMeasurementService::current().host);
    if (network)
        network->setIsDebugModeEnabled(monitor->isDebugModeEnabled());
    else
        log(1, 23010, "Failed to initialize network component");
    auto scheduler = ZDMScheduler::initWithWorkerQueueLabel(ZDMScheduler::kWorkerQueueLabel);
    auto alarm = ZDMAlarm::make(scheduler->workerQueue(), kAlarmName);
    auto engine = initWithDatabaseName(kDatabaseName, ZDMPersistedConfig::sharedInstance(), network,
                                       std::move(scheduler), std::move(alarm), appID,
                                       isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated,
                                       std::move(safelistedEvents), std::move(experimentManager));
    // The client holds both weakly; an engine cannot hand out a weak reference before it exists.
    if (network && engine) {
        network->setLoggerDelegate(engine);
        network->setReachabilityDelegate(engine);
    }
    return engine;
}

std::shared_ptr<ZDMMeasurement> ZDMMeasurement::initWithDatabaseName(
    std::string databaseName, std::shared_ptr<ZDMPersistedConfig> persistedConfig,
    std::shared_ptr<ZEDUdovade> network, std::shared_ptr<ZDMScheduler> scheduler,
    std::shared_ptr<ZDMAlarm> alarm, std::string appID, bool isAnalyticsCollectionEnabled,
    bool isAnalyticsCollectionDeactivated, std::vector<std::string> safelistedEvents,
    std::shared_ptr<ExperimentManager> experimentManager) {
    // Every state the engine keeps goes through the persisted configuration and every step through
    // the worker queue: without either there is nothing an engine could do.
    if (!persistedConfig || !scheduler) return nullptr;
    std::shared_ptr<ZDMMeasurement> engine(new ZDMMeasurement);
    engine->appID_ = std::move(appID);
    engine->isAnalyticsCollectionEnabled_ = isAnalyticsCollectionEnabled;
    engine->isAnalyticsCollectionDeactivated_ = isAnalyticsCollectionDeactivated;
    engine->experimentManager_ = std::move(experimentManager);
    // A run that ended before its first open was reported left its load time behind; the reports
    // of this run are dated from it.
    if (const auto stored = persistedConfig->loadTimestampValue(); stored && stored->asReal()) {
        engine->initTimestamp_ = *stored->asReal();
    } else {
        engine->initTimestamp_ = ZDMAnalytics::loadTimestamp();
        persistedConfig->setLoadTimestampValue(Value(engine->initTimestamp_));
    }
    engine->databaseName_ = std::move(databaseName);
    engine->persistedConfig_ = std::move(persistedConfig);
    engine->network_ = std::move(network);
    engine->scheduler_ = std::move(scheduler);
    engine->alarm_ = std::move(alarm);
    engine->safelistedEvents_ = std::move(safelistedEvents);
    const bool shouldEnable = engine->shouldEnableMeasurement();
    engine->setEnabled(shouldEnable);
    engine->wasEnabledDuringInitialization_ = shouldEnable;
    return engine;
}

ZDMMeasurement::~ZDMMeasurement() = default;

bool ZDMMeasurement::shouldEnableMeasurement() {
    if (isAnalyticsCollectionDeactivated_) return false;
    switch (persistedConfig_->measurementEnabledState()) {
        case 1:
            return true;
        case 2:
            return false;
        default:
            return isAnalyticsCollectionEnabled_;
    }
}

void ZDMMeasurement::scheduleOnWorkerQueue(const std::string& blockID,
                                           std::function<void(ZDMMeasurement&)> work) {
    std::weak_ptr<ZDMMeasurement> weakSelf = weak_from_this();
    scheduler_->scheduleOnWorkerQueueBlockID(blockID, [weakSelf, work = std::move(work)] {
        if (auto self = weakSelf.lock()) work(*self);
    });
}

void ZDMMeasurement::setEnabled(bool enabled) {
    scheduleOnWorkerQueue("ZDMMeasurement:599",
                          [enabled](ZDMMeasurement& self) { self.setEnabledOnWorkerQueue(enabled); });
}

void ZDMMeasurement::setEnabledOnWorkerQueue(bool enabled) {
    ZDMScheduler::checkOnBackgroundThreadWithMethodName("setEnabledOnWorkerQueue:");
    if (isAnalyticsCollectionDeactivated_ && enabled)
        return log(6, 23206, "Analytics collection deactivated");
    // The first switch of a fresh install is remembered for its first-open report.
    if (!isAnalyticsCollectionDeactivated_ && !ZDMAnalytics::deferredAnalyticsCollection())
        ZDMAnalytics::setDeferredAnalyticsCollection(Value(int64_t{enabled ? 0 : 1}));
    enabled_ = enabled;
    if (enabled) {
        if (!startMeasurementOnWorkerQueue()) {
            log(0, 23011, "Failed to start Analytics. Analytics is disabled");
            return setEnabled(false);
        }
        if (const auto reporter = sessionReporter()) reporter->setReportingEnabled(true);
        setSearchAdReporterEnabledOnWorkerQueue(true);
        return log(6, 23012, "Analytics collection enabled");
    }
    ZDMRemoveStoredDeepLinkIfExpired(*remoteConfig());
    if (alarm_) alarm_->cancel();
    if (const auto reporter = sessionReporter()) reporter->setReportingEnabled(false);
    setSearchAdReporterEnabledOnWorkerQueue(false);
    log(6, 23013, "Analytics collection disabled");
}

int64_t ZDMMeasurement::timestampMillisRoundedUpToNextHour(int64_t millis) {
    constexpr int64_t kHour = 3600000;
    return millis / kHour * kHour + kHour;
}

std::optional<Dictionary> ZDMMeasurement::fileAttributesForPath(const std::string& path) {
    if (path.empty()) return std::nullopt;
    std::error_code ec;
    const auto status = fs::status(path, ec);
    Dictionary attributes;
    if (!ec && fs::exists(status)) {
        attributes.set("NSFileType",
                       Value(fs::is_directory(status) ? "NSFileTypeDirectory" : "NSFileTypeRegular"));
        if (fs::is_regular_file(status))
            attributes.set("NSFileSize", Value(int64_t(fs::file_size(path, ec))));
        const auto modified = fs::last_write_time(path, ec);
        if (!ec) {
            const auto seconds =
                std::chrono::duration<double>(std::chrono::file_clock::to_sys(modified).time_since_epoch());
            attributes.set("NSFileModificationDate", Value(Date::fromUnix(seconds.count())));
        }
        attributes.set("NSFilePosixPermissions", Value(int64_t(status.permissions())));
    }
    if (attributes.empty()) {
        const std::string reason = ec ? ec.message() : "No such file or directory";
        monitor()->logWithLevel(5, 23022, "Unable to read attributes of path. Path, error", Value(path),
                                Value(reason));
        return std::nullopt;
    }
    return attributes;
}

void ZDMMeasurement::setSessionTimeoutInterval(double interval) {
    scheduleOnWorkerQueue("ZDMMeasurement:1499", [interval](ZDMMeasurement& self) {
        if (const auto reporter = self.sessionReporter()) reporter->setTimeoutSessionInterval(interval);
    });
}

void ZDMMeasurement::reachabilityDidChange() {
    scheduleOnWorkerQueue("ZDMMeasurement:1005", [](ZDMMeasurement& self) { self.updateSchedule(); });
}

int64_t ZDMMeasurement::monitorLevelForNetworkLevel(int networkLevel) {
    switch (networkLevel) {
        case 3:
            return 1;
        case 4:
            return 4;
        case 5:
            return 3;
        case 6:
            return 6;
        case 7:
            return 7;
        default:
            return 3;
    }
}

void ZDMMeasurement::ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t messageCode,
                                             const std::string& message) {
    ZEDUdovade_logWithLevel(level, messageCode, message, Value::Array{});
}

void ZDMMeasurement::ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t messageCode,
                                             const std::string& message, const Value& context) {
    ZEDUdovade_logWithLevel(level, messageCode, message, Value::Array{context});
}

void ZDMMeasurement::ZEDUdovade_logWithLevel(ZEDUdovadeLoggerLevel level, int64_t messageCode,
                                             const std::string& message, const Value::Array& contexts) {
    monitor()->logWithContexts(monitorLevelForNetworkLevel(static_cast<int>(level)), messageCode, message,
                               contexts);
}

std::shared_ptr<ZDMEngineAudience> ZDMMeasurement::audience() const {
    std::lock_guard lock(componentsMutex_);
    return audience_;
}

std::shared_ptr<ZDMRemoteConfig> ZDMMeasurement::remoteConfigInstance() const {
    std::lock_guard lock(componentsMutex_);
    return remoteConfig_;
}

std::shared_ptr<ZDMIdentity> ZDMMeasurement::identity() const {
    std::lock_guard lock(componentsMutex_);
    return identity_;
}

std::shared_ptr<ZDMDatabase> ZDMMeasurement::database() const {
    std::lock_guard lock(componentsMutex_);
    return database_;
}

std::shared_ptr<ZDMSessionReporter> ZDMMeasurement::sessionReporter() const {
    std::lock_guard lock(componentsMutex_);
    return sessionReporter_;
}

std::shared_ptr<ZDMMeasurementDelegate> ZDMMeasurement::measurementDelegate() const {
    std::lock_guard lock(componentsMutex_);
    return measurementDelegate_.lock();
}

void ZDMMeasurement::setMeasurementDelegate(std::weak_ptr<ZDMMeasurementDelegate> delegate) {
    std::lock_guard lock(componentsMutex_);
    measurementDelegate_ = std::move(delegate);
}
