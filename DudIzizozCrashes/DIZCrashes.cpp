#include "DudIzizozCrashes/DIZCrashes.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <limits>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"
#include "DudIzizoz/Internals/Context/DIZSessionContext.h"
#include "DudIzizoz/Internals/Context/DIZUserIdContext.h"
#include "DudIzizoz/Internals/Util/DIZDispatcherUtil.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZEncrypter.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizozCrashes/DIZApplicationForwarder.h"
#include "DudIzizozCrashes/DIZWrapperCrashesHelper.h"
#include "DudIzizozCrashes/Internals/Model/DIZAppleErrorLog.h"
#include "DudIzizozCrashes/Internals/Model/DIZHandledErrorLog.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesArchiverUtil.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesBufferedLog.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesUncaughtCXXExceptionHandlerManager.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesUtil.h"
#include "DudIzizozCrashes/Internals/Util/DIZErrorLogFormatter.h"
#include "DudIzizozCrashes/Internals/Util/DIZWrapperExceptionManager.h"
#include "DudIzizozCrashes/Model/DIZErrorAttachmentLog.h"
#include "DudIzizozCrashes/Model/DIZExceptionModel.h"
#include "crash_reporter/format/DZCrashReport.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/Unicode.h"

namespace {
// A crash report is sent on its own and soon: one log a batch, after one second.
constexpr int64_t kCrashesPriority = 2;
constexpr uint64_t kCrashesFlushInterval = 1;
constexpr uint64_t kCrashesBatchSizeLimit = 1;
constexpr uint64_t kCrashesPendingBatchesLimit = 3;
constexpr int kAppStoreEnvironment = 0;
constexpr double kDelayedProcessingDelay = 1;
// Crash logs are stored and sent as critical; attachments as normal logs.
constexpr uint64_t kCrashLogFlags = 2;
constexpr uint64_t kAttachmentFlags = 1;  // handled errors too

constinit SharedInstance<DIZCrashes> sharedCrashes;
// Processing of stored reports is scheduled once per process, whichever instance enables first.
std::atomic<bool> delayedProcessingArmed{false};

std::mutex providerLock;
std::shared_ptr<DIZCrashReporterProvider> provider;

std::shared_ptr<DIZCrashReporterProvider> crashReporterProvider() {
    std::lock_guard guard(providerLock);
    if (!provider) provider = std::make_shared<DIZCrashReporterProvider>();
    return provider;
}

// The C++ handler of the service: the exception nothing caught goes to the reporter's
// uncaught-exception handler, which records it and ends the process; without one the process ends
// here.
[[noreturn]] void diz_forward_cxx_exception(const CXXTerminateInfo* info) {
    const NSUncaughtExceptionHandler handler = NSGetUncaughtExceptionHandler();
    const DIZCrashesCXXExceptionWrapperException wrapper(info);
    if (handler)
        handler(ExceptionRecord(wrapper.name(), wrapper.reason(), {}, wrapper.callStackReturnAddresses()));
    abort();
}

// The replayed logs go on a unit of their own, as normal logs, in batches of up to 50.
constexpr const char* kBufferGroupId = "CrashesBuffer";
constexpr int64_t kBufferPriority = 2;
constexpr uint64_t kBufferFlushInterval = 1;
constexpr uint64_t kBufferBatchSizeLimit = 50;
constexpr uint64_t kBufferPendingBatchesLimit = 1;
constexpr uint64_t kBufferedLogFlags = 1;
constexpr const char* kBufferFileExtension = "dzcrasheslogbuffer";
constexpr const char* kTargetTokenFileExtension = "targettoken";

std::string joined(const std::string& directory, const std::string& name) {
    return directory + "/" + name;
}

// "%.0f" of the seconds since 2001, as the files of earlier versions are named.
std::string secondsName(const Date& date) {
    char name[64];
    std::snprintf(name, sizeof name, "%.0f", date.timeIntervalSinceReferenceDate());
    return name;
}

void migrateMemoryAndConfirmationKeys() {
    DIZDudIzizozUserDefaults::shared()->migrateKeys(
        {
            {"DZDudIzizozCrashesIsEnabled", std::string("kDZCrashesIsEnabledKey")},
            {"DZDudIzizozAppDidReceiveMemoryWarning", std::string("DZAppDidReceiveMemoryWarning")},
            {"DZDudIzizozCrashesUserConfirmation", std::string("DZUserConfirmation")},
        },
        DIZCrashes::kServiceName);
}

// Records archived by older versions carry their classes' former names.
void addMigrationClasses() {
    DIZUtility::addMigrationClasses({
        {"DZAppleErrorLog", "DIZAppleErrorLog"},
        {"DZThread", "DIZThread"},
        {"DZWrapperException", "DIZWrapperException"},
        {"DZAbstractErrorLog", "DIZAbstractErrorLog"},
        {"DZHandledErrorLog", "DIZHandledErrorLog"},
        {"DZException", "DIZWrapperExceptionModel"},
        {"DIZException", "DIZWrapperExceptionModel"},
        {"DZStackFrame", "DIZStackFrame"},
        {"DZBinary", "DIZBinary"},
        {"DZErrorAttachmentLog", "DIZErrorAttachmentLog"},
        {"DZErrorReport", "DIZErrorReport"},
    });
}

}  // namespace

std::shared_ptr<DZCrashReporter> DIZCrashReporterProvider::makeCrashReporter(
    std::shared_ptr<DZCrashReporterConfig> config) {
    return DZCrashReporter::initWithConfiguration(std::move(config));
}

bool DIZCrashReporterProvider::enableCrashReporter(DZCrashReporter& crashReporter, Error* error) {
    const DZCrashReporterCallbacks callbacks{0, nullptr, diz_save_log_buffer_callback};
    crashReporter.setCrashCallbacks(&callbacks);
    return crashReporter.enableCrashReporterAndReturnError(error);
}

bool DIZCrashReporterProvider::isDebuggerAttached() {
    return DIZDudIzizoz::isDebuggerAttached();
}

const DIZServiceClass& DIZCrashes::classObject() {
    static const DIZServiceClassOf<DIZCrashes> object;
    return object;
}

std::shared_ptr<DIZCrashes> DIZCrashes::sharedInstance() {
    return sharedCrashes.get();
}

void DIZCrashes::resetSharedInstance() {
    sharedCrashes.reset();
    delayedProcessingArmed = false;
}

void DIZCrashes::setCrashReporterProvider(std::shared_ptr<DIZCrashReporterProvider> newProvider) {
    std::lock_guard guard(providerLock);
    provider = std::move(newProvider);
}

DIZCrashes::DIZCrashes()
    : DIZServiceAbstract(classObject(), kGroupId),
      channelUnitConfiguration_(
          std::make_shared<DIZChannelUnitConfiguration>(kGroupId, kCrashesPriority, kCrashesFlushInterval,
                                                        kCrashesBatchSizeLimit, kCrashesPendingBatchesLimit)),
      targetTokenEncrypter_(std::make_shared<DIZEncrypter>()),
      appStartTime_(Date::now()) {
    migrateMemoryAndConfirmationKeys();
    addMigrationClasses();
    DIZCrashesArchiverUtil::addAllowedCrashesModuleClasses();
    crashesPathComponent_ = DIZCrashesUtil::crashesDir();
    logBufferPathComponent_ = DIZCrashesUtil::logBufferDir();
    analyzerInProgressFilePathComponent_ = joined(crashesPathComponent_, kAnalyzerFilename);
    setupLogBuffer();
}

// The class side.

void DIZCrashes::generateTestCrash() {
    const auto crashes = sharedInstance();
    std::lock_guard guard(crashes->lock_);
    if (!crashes->canBeUsed()) return;
    if (static_cast<int>(DIZUtility::currentAppEnvironment()) == kAppStoreEnvironment) {
        DIZLogWarning(
            kLogTag,
            "GenerateTestCrash was just called in an App Store environment. The call will be ignored.");
        return;
    }
    if (crashReporterProvider()->isDebuggerAttached()) {
        DIZLogWarning(kLogTag,
                      "The debugger is attached. The following crash cannot be detected by the SDK!");
    }
    __builtin_trap();
}

bool DIZCrashes::hasCrashedInLastSession() {
    return sharedInstance()->didCrashInLastSession();
}

bool DIZCrashes::hasReceivedMemoryWarningInLastSession() {
    return sharedInstance()->didReceiveMemoryWarningInLastSession();
}

std::shared_ptr<DIZErrorReport> DIZCrashes::lastSessionCrashReport() {
    return sharedInstance()->getLastSessionCrashReport();
}

void DIZCrashes::disableMachExceptionHandler() {
    sharedInstance()->setEnableMachExceptionHandler(false);
}

void DIZCrashes::applicationDidReportException(const ExceptionRecord& exception) {
    if (crashReporterProvider()->isDebuggerAttached()) return;
    if (const auto handler = sharedInstance()->exceptionHandler()) handler(exception);
}

// State.

bool DIZCrashes::didCrashInLastSession() const {
    std::lock_guard guard(lock_);
    return didCrashInLastSession_;
}

bool DIZCrashes::didReceiveMemoryWarningInLastSession() const {
    std::lock_guard guard(lock_);
    return didReceiveMemoryWarningInLastSession_;
}

bool DIZCrashes::isMachExceptionHandlerEnabled() const {
    std::lock_guard guard(lock_);
    return enableMachExceptionHandler_;
}

void DIZCrashes::setEnableMachExceptionHandler(bool enabled) {
    std::lock_guard guard(lock_);
    enableMachExceptionHandler_ = enabled;
}

bool DIZCrashes::isAutomaticProcessingEnabled() const {
    std::lock_guard guard(lock_);
    return automaticProcessingEnabled_;
}

void DIZCrashes::setAutomaticProcessingEnabled(bool enabled) {
    std::lock_guard guard(lock_);
    automaticProcessingEnabled_ = enabled;
}

std::shared_ptr<DIZErrorReport> DIZCrashes::getLastSessionCrashReport() const {
    std::lock_guard guard(lock_);
    return lastSessionCrashReport_;
}

std::shared_ptr<DZCrashReporter> DIZCrashes::dzCrashReporter() const {
    std::lock_guard guard(lock_);
    return dzCrashReporter_;
}

NSUncaughtExceptionHandler DIZCrashes::exceptionHandler() const {
    std::lock_guard guard(lock_);
    return exceptionHandler_;
}

std::vector<std::filesystem::path> DIZCrashes::crashFiles() const {
    std::lock_guard guard(lock_);
    return crashFiles_;
}

std::shared_ptr<DispatchMemoryPressureSource> DIZCrashes::memoryPressureSource() const {
    std::lock_guard guard(lock_);
    return memoryPressureSource_;
}

// Start and configuration.

void DIZCrashes::startWithChannelGroup(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup,
                                       const std::optional<std::string>& appSecret,
                                       const std::optional<std::string>& transmissionTargetToken,
                                       bool fromApplication) {
    DIZServiceAbstract::startWithChannelGroup(channelGroup, appSecret, transmissionTargetToken,
                                              fromApplication);
    if (channelGroup) channelGroup->addDelegate(shared_from_this());
    processLogBufferAfterCrash();
    processMemoryWarningInLastSession();
    DIZLogVerbose(kLogTag, "Started crash service.");
}

void DIZCrashes::updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                                  const std::optional<std::string>& transmissionTargetToken) {
    processLogBufferAfterCrash();
    DIZServiceAbstract::updateConfigurationWithAppSecret(appSecret, transmissionTargetToken);
}

void DIZCrashes::applyEnabledState(bool isEnabled) {
    DIZServiceAbstract::applyEnabledState(isEnabled);
    if (isEnabled) {
        enable();
    } else {
        disable();
    }
}

void DIZCrashes::enable() {
    const auto setupDelegate = DIZWrapperCrashesHelper::crashHandlerSetupDelegate();
    const bool enableUncaughtExceptionHandler =
        !setupDelegate || setupDelegate->shouldEnableUncaughtExceptionHandler();
    if (setupDelegate) setupDelegate->willSetUpCrashHandlers();
    configureCrashReporterWithUncaughtExceptionHandlerEnabled(enableUncaughtExceptionHandler);
    if (setupDelegate) setupDelegate->didSetUpCrashHandlers();

    auto source = DispatchMemoryPressureSource::make(
        DISPATCH_MEMORYPRESSURE_WARN | DISPATCH_MEMORYPRESSURE_CRITICAL, DispatchQueue::main());
    source->setEventHandler([weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock()) self->didReceiveMemoryWarning();
    });
    {
        std::lock_guard guard(lock_);
        if (memoryPressureSource_) memoryPressureSource_->cancel();
        memoryPressureSource_ = source;
    }
    source->resume();

    const auto crashReporter = dzCrashReporter();
    // The base stores the new state only after applying it, so enabling from the disabled state
    // reads NO here: a report left from a disabled period is not sent.
    if (!this->isEnabled() && crashReporter) crashReporter->purgePendingCrashReport();
    if (crashReporter && crashReporter->hasPendingCrashReport()) {
        {
            std::lock_guard guard(lock_);
            didCrashInLastSession_ = true;
        }
        DIZLogDebug(kLogTag, "The application crashed in the last session.");
        handleLatestCrashReport();
    }

    auto files = persistedCrashReports();
    const bool nothingStored = files.empty();
    {
        std::lock_guard guard(lock_);
        crashFiles_ = std::move(files);
    }
    if (nothingStored) {
        delayedProcessingSemaphore_->signal();
        clearContextHistoryAndKeepCurrentSession();
    } else {
        startDelayedCrashProcessing();
    }

    if (crashReporterProvider()->isDebuggerAttached()) {
        DIZLogInfo(
            kLogTag,
            "Crashes service has been enabled but the service cannot detect crashes due to running the "
            "application with a debugger attached.");
    } else {
        DIZLogInfo(kLogTag, "Crashes service has been enabled.");
    }
}

void DIZCrashes::disable() {
    std::shared_ptr<DispatchMemoryPressureSource> source;
    {
        std::lock_guard guard(lock_);
        source = std::move(memoryPressureSource_);
    }
    if (source) source->cancel();
    DIZLogDebug(kLogTag, "Cleaning up all crash files.");
    DIZWrapperExceptionManager::deleteAllWrapperExceptions();
    deleteAllFromCrashesDirectory();
    emptyLogBufferFiles();
    DIZUtility::deleteItemForPathComponent(analyzerInProgressFilePathComponent_);
    if (const auto crashReporter = dzCrashReporter()) crashReporter->purgePendingCrashReport();
    clearUnprocessedReports();
    clearContextHistoryAndKeepCurrentSession();
    DIZDudIzizozUserDefaults::shared()->removeObjectForKey(kAppDidReceiveMemoryWarningKey);
    DIZLogInfo(kLogTag, "Crashes service has been disabled.");
}

void DIZCrashes::configureCrashReporterWithUncaughtExceptionHandlerEnabled(
    bool enableUncaughtExceptionHandler) {
    if (dzCrashReporter()) {
        DIZLogDebug(kLogTag, "Already configured DZCrashReporter.");
        return;
    }
    if (enableUncaughtExceptionHandler) {
        DIZLogDebug(kLogTag, "EnableUncaughtExceptionHandler is set to YES");
    } else {
        DIZLogDebug(kLogTag,
                    "EnableUncaughtExceptionHandler is set to NO, we're running in a wrapper runtime.");
    }
    uint64_t signalHandlerType = DZCrashReporterSignalHandlerTypeBSD;
    if (isMachExceptionHandlerEnabled()) {
        signalHandlerType = DZCrashReporterSignalHandlerTypeMach;
        DIZLogVerbose(kLogTag, "Enabled Mach exception handler.");
    }
    const auto maker = crashReporterProvider();
    const auto config = DZCrashReporterConfig::initWithSignalHandlerType(
        signalHandlerType, DZCrashReporterSymbolicationStrategyNone, enableUncaughtExceptionHandler,
        std::nullopt);
    const auto crashReporter = maker->makeCrashReporter(config);
    {
        std::lock_guard guard(lock_);
        dzCrashReporter_ = crashReporter;
    }
    DIZWrapperExceptionManager::setCrashReporter(crashReporter);

    if (maker->isDebuggerAttached()) {
        DIZLogWarning(kLogTag,
                      "Detecting crashes is NOT enabled due to running the app with a debugger attached.");
        return;
    }
    const NSUncaughtExceptionHandler earlierHandler = NSGetUncaughtExceptionHandler();
    Error error;
    if (!maker->enableCrashReporter(*crashReporter, &error)) {
        DIZLogError(kLogTag, "Could not enable crash reporter: %@", error.description);
    }
    const NSUncaughtExceptionHandler currentHandler = NSGetUncaughtExceptionHandler();
    if (currentHandler && currentHandler != earlierHandler) {
        {
            std::lock_guard guard(lock_);
            exceptionHandler_ = currentHandler;
        }
        DIZLogDebug(kLogTag, "Exception handler successfully initialized.");
    } else if (!enableUncaughtExceptionHandler && currentHandler) {
        {
            std::lock_guard guard(lock_);
            exceptionHandler_ = currentHandler;
        }
        DIZLogDebug(kLogTag,
                    "Exception handler successfully initialized but it has not been registered due to the "
                    "wrapper SDK.");
    } else {
        DIZLogError(
            kLogTag,
            "Exception handler could not be set. Make sure there is no other exception handler set up!");
    }
    DIZCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(diz_forward_cxx_exception);
    DIZApplicationForwarder::registerForwarding();
}

// The pending report.

void DIZCrashes::handleLatestCrashReport() {
    const auto crashReporter = dzCrashReporter();
    if (!crashReporter) return;
    if (DIZUtility::fileExistsForPathComponent(analyzerInProgressFilePathComponent_)) {
        // Only a conversion that never finished leaves the marker: the report may be what broke it.
        DIZLogError(kLogTag, "Error on loading the crash report, it will be purged.");
    } else {
        if (!DIZUtility::createFileAtPathComponent(analyzerInProgressFilePathComponent_, std::nullopt, false,
                                                   false)) {
            DIZLogError(kLogTag, "Couldn't create crash analyzer file.");
        }
        Error error;
        const auto data = crashReporter->loadPendingCrashReportData(&error);
        std::shared_ptr<DZCrashReport> report;
        if (!data) {
            DIZLogError(kLogTag, "Couldn't load crash report: %@", error.description);
        } else if (!(report = DZCrashReport::initWithData(*data, &error))) {
            DIZLogWarning(kLogTag, "Couldn't parse crash report: %@", error.description);
        }
        if (report) {
            DIZUtility::createFileAtPathComponent(joined(crashesPathComponent_, freeCrashFileName()), data,
                                                  true, false);
            auto errorReport = DIZErrorLogFormatter::errorReportFromCrashReport(report.get());
            {
                std::lock_guard guard(lock_);
                lastSessionCrashReport_ = errorReport;
            }
            DIZWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({errorReport});
        }
    }
    DIZUtility::deleteItemForPathComponent(analyzerInProgressFilePathComponent_);
    crashReporter->purgePendingCrashReport();
}

// Named by the seconds since 2001; when a report of the same second is stored already, the next
// free "-1", "-2", ... keeps both, as the pending report is purged right after.
std::string DIZCrashes::freeCrashFileName() const {
    const std::string seconds = secondsName(Date::now());
    std::string name = seconds;
    for (int suffix = 1; DIZUtility::fileExistsForPathComponent(joined(crashesPathComponent_, name));
         ++suffix) {
        name = seconds + "-" + std::to_string(suffix);
    }
    return name;
}

std::vector<std::filesystem::path> DIZCrashes::persistedCrashReports() const {
    std::vector<std::filesystem::path> reports;
    const auto contents = DIZUtility::contentsOfDirectory(crashesPathComponent_);
    if (!contents) {
        DIZLogError(kLogTag, "No persisted crashes found.");
        return reports;
    }
    for (const auto& file : *contents) {
        if (isCrashReportFile(file)) reports.push_back(file);
    }
    return reports;
}

bool DIZCrashes::isCrashReportFile(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return false;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size == 0) return false;
    const std::string name = file.filename().string();
    for (const char* suffix : {".DS_Store", ".analyzer", ".plist", ".data", ".meta", ".desc"}) {
        if (name.ends_with(suffix)) return false;
    }
    return true;
}

// Memory pressure and the context history.

void DIZCrashes::didReceiveMemoryWarning() {
    DIZLogDebug(kLogTag, "The application received a memory warning; it is kept for the next start.");
    DIZDudIzizozUserDefaults::shared()->setObject(Value(true), kAppDidReceiveMemoryWarningKey);
}

void DIZCrashes::processMemoryWarningInLastSession() {
    if (!isEnabled()) return;
    const auto defaults = DIZDudIzizozUserDefaults::shared();
    const auto stored = defaults->objectForKey(kAppDidReceiveMemoryWarningKey);
    const bool received = stored && stored->boolOr(false);
    {
        std::lock_guard guard(lock_);
        didReceiveMemoryWarningInLastSession_ = received;
    }
    if (received) DIZLogDebug(kLogTag, "The application received a low memory warning in the last session.");
    defaults->removeObjectForKey(kAppDidReceiveMemoryWarningKey);
}

void DIZCrashes::clearContextHistoryAndKeepCurrentSession() {
    DIZDeviceTracker::sharedInstance()->clearDevices();
    DIZSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(true);
    DIZUserIdContext::sharedInstance()->clearUserIdHistory();
}

void DIZCrashes::deleteAllFromCrashesDirectory() {
    DIZUtility::deleteItemForPathComponent(crashesPathComponent_);
    std::lock_guard guard(lock_);
    crashFiles_.clear();
}

void DIZCrashes::clearUnprocessedReports() {
    std::lock_guard guard(lock_);
    unprocessedLogs_.clear();
    unprocessedReports_.clear();
    unprocessedFilePaths_.clear();
}

// Delayed processing: once per process, a second after the enabling that found stored reports.

void DIZCrashes::startDelayedCrashProcessing() {
    DispatchQueue::global()->after(kDelayedProcessingDelay, [weakSelf = weak_from_this()] {
        const auto self = weakSelf.lock();
        if (!self) return;
        if (self->isAutomaticProcessingEnabled() &&
            DIZUtility::applicationState() == DIZApplicationState::Background) {
            DIZLogWarning(kLogTag,
                          "Crashes will not be processed because the application is in the background.");
            return;
        }
        if (delayedProcessingArmed.exchange(true)) return;
        self->startCrashProcessing();
        self->delayedProcessingSemaphore_->signal();
    });
}

void DIZCrashes::startCrashProcessing() {
    DIZLogDebug(kLogTag, "Start delayed CrashManager processing");
    const auto handler = exceptionHandler();
    if (handler && NSGetUncaughtExceptionHandler() != handler) {
        DIZLogWarning(
            kLogTag,
            "Another exception handler was added. If this invokes any kind of exit() after processing the "
            "exception, which causes any subsequent error handler not to be invoked, these crashes will NOT "
            "be reported to Dud Izizoz!");
    }
    processCrashReports();
}

void DIZCrashes::processCrashReports() {
    if (!isEnabled()) {
        DIZLogDebug(kLogTag, "Crashes service is disabled; discard all crash reports");
        deleteAllFromCrashesDirectory();
        DIZWrapperExceptionManager::deleteAllWrapperExceptions();
        return;
    }
    clearUnprocessedReports();
    // Visited in the order the files were listed; an unparsable file stays for the next launch.
    struct Parsed {
        std::filesystem::path file;
        std::shared_ptr<DZCrashReport> report;
        std::shared_ptr<DIZErrorReport> errorReport;
    };
    std::vector<Parsed> parsed;
    for (const auto& file : crashFiles()) {
        const auto data = DIZUtility::loadDataForPathComponent(
            std::filesystem::relative(file, DIZUtility::dudIzizozDirectoryURL()).string());
        if (!data || data->empty()) continue;
        Error error;
        auto report = DZCrashReport::initWithData(*data, &error);
        if (!report) {
            DIZLogWarning(kLogTag, "Crash report found but couldn't parse it, discard the crash report: %@",
                          error.description);
            continue;
        }
        auto errorReport = DIZErrorLogFormatter::errorReportFromCrashReport(report.get());
        parsed.push_back({file, std::move(report), std::move(errorReport)});
    }
    std::vector<std::shared_ptr<DIZErrorReport>> errorReports;
    for (const auto& entry : parsed) errorReports.push_back(entry.errorReport);
    DIZWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(errorReports);

    const bool automatic = isAutomaticProcessingEnabled();
    const auto currentDelegate = delegate_.lock();
    for (const auto& entry : parsed) {
        DIZLogVerbose(kLogTag, "Crash reports found");
        auto log = DIZErrorLogFormatter::errorLogFromCrashReport(*entry.report);
        if (automatic && currentDelegate &&
            !currentDelegate->crashesShouldProcessErrorReport(*this, *entry.errorReport)) {
            DIZLogDebug(kLogTag, "shouldProcessErrorReport returned NO, discard the crash report: %@",
                        entry.errorReport->description());
            forgetCrashFile(entry.file, entry.errorReport->incidentIdentifier());
            continue;
        }
        if (automatic) {
            DIZLogDebug(kLogTag,
                        "shouldProcessErrorReport is not implemented or returned YES, processing the crash "
                        "report: %@",
                        entry.errorReport->description());
        } else {
            DIZLogDebug(kLogTag,
                        "Automatic crash processing is disabled, storing the crash report for later "
                        "processing: %@",
                        entry.errorReport->description());
        }
        std::lock_guard guard(lock_);
        unprocessedLogs_.push_back(std::move(log));
        unprocessedReports_.push_back(entry.errorReport);
        unprocessedFilePaths_.push_back(entry.file);
    }
    {
        std::lock_guard guard(lock_);
        processed_ = true;
    }
    if (automatic) sendCrashReportsOrAwaitUserConfirmation();
}

bool DIZCrashes::sendCrashReportsOrAwaitUserConfirmation() {
    const bool alwaysSend = shouldAlwaysSend();
    {
        std::lock_guard guard(lock_);
        if (unprocessedReports_.empty()) return alwaysSend;
    }
    if (alwaysSend) {
        DIZLogDebug(
            kLogTag,
            "The flag for user confirmation is set to DIZUserConfirmationAlways, continue sending logs");
        handleUserConfirmation(DIZUserConfirmationSend);
    } else if (!isAutomaticProcessingEnabled()) {
        DIZLogDebug(kLogTag,
                    "Automatic crash processing is disabled and \"AlwaysSend\" is false. Awaiting user "
                    "confirmation.");
    } else if (!userPromptedForConfirmation()) {
        DIZLogDebug(kLogTag,
                    "The user confirmation handler is not implemented or returned NO, continue sending logs");
        handleUserConfirmation(DIZUserConfirmationSend);
    }
    return alwaysSend;
}

bool DIZCrashes::shouldAlwaysSend() const {
    const auto stored = DIZDudIzizozUserDefaults::shared()->objectForKey(kUserConfirmationKey);
    return stored && stored->boolOr(false);
}

// The handler runs on the main thread, and processing waits for its answer.
bool DIZCrashes::userPromptedForConfirmation() {
    DIZUserConfirmationHandler handler;
    std::vector<std::shared_ptr<DIZErrorReport>> reports;
    {
        std::lock_guard guard(lock_);
        handler = userConfirmationHandler_;
        reports = unprocessedReports_;
    }
    if (!handler) return false;
    bool answer = false;
    if (DispatchQueue::isMainThread()) {
        answer = handler(reports);
    } else {
        DispatchQueue::main()->sync([&] { answer = handler(reports); });
    }
    return answer;
}

void DIZCrashes::handleUserConfirmation(int64_t userConfirmation) {
    if (userConfirmation == DIZUserConfirmationDontSend) {
        std::vector<std::filesystem::path> files;
        std::vector<std::shared_ptr<DIZErrorReport>> reports;
        {
            std::lock_guard guard(lock_);
            files = unprocessedFilePaths_;
            reports = unprocessedReports_;
        }
        for (size_t i = 0; i < files.size() && i < reports.size(); ++i) {
            forgetCrashFile(files[i], reports[i]->incidentIdentifier());
        }
    } else {
        if (userConfirmation == DIZUserConfirmationAlways) {
            DIZDudIzizozUserDefaults::shared()->setObject(Value(true), kUserConfirmationKey);
        }
        size_t count;
        {
            std::lock_guard guard(lock_);
            count = unprocessedReports_.size();
        }
        for (size_t i = 0; i < count; ++i) sendReport(i);
    }
    clearUnprocessedReports();
    clearContextHistoryAndKeepCurrentSession();
}

// One held report: its attachments, the session and user of its crash time, the critical log, then
// its file and wrapper exception are gone.
void DIZCrashes::sendReport(size_t index) {
    std::shared_ptr<DIZAppleErrorLog> log;
    std::shared_ptr<DIZErrorReport> report;
    std::filesystem::path file;
    {
        std::lock_guard guard(lock_);
        log = unprocessedLogs_.at(index);
        report = unprocessedReports_.at(index);
        file = unprocessedFilePaths_.at(index);
    }
    std::vector<std::shared_ptr<DIZErrorAttachmentLog>> attachments;
    const auto currentDelegate = delegate_.lock();
    auto given = currentDelegate ? currentDelegate->attachmentsWithCrashes(*this, *report) : std::nullopt;
    if (given) {
        attachments = std::move(*given);
        for (const auto& attachment : attachments) {
            if (attachment && !attachment->device()) attachment->setDevice(log->device());
        }
    } else {
        DIZLogDebug(kLogTag, "attachmentsWithCrashes is not implemented");
    }
    // The crash ended an earlier run, so this run's own session and user never answer for it.
    if (const auto crashTime = log->timestamp()) {
        log->setSid(DIZSessionContext::sharedInstance()->sessionIdOfEarlierRunAt(*crashTime));
        log->setUserId(DIZUserIdContext::sharedInstance()->userIdOfEarlierRunAt(*crashTime));
    }
    if (const auto unit = channelUnit()) unit->enqueueItem(log, kCrashLogFlags);
    sendErrorAttachments(attachments, report->incidentIdentifier().value_or(""));
    forgetCrashFile(file, report->incidentIdentifier());
}

void DIZCrashes::forgetCrashFile(const std::filesystem::path& file,
                                 const std::optional<std::string>& incidentId) {
    std::error_code error;
    std::filesystem::remove(file, error);
    if (incidentId) DIZWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(*incidentId);
    std::lock_guard guard(lock_);
    std::erase(crashFiles_, file);
}

void DIZCrashes::notifyWithUserConfirmation(int64_t userConfirmation) {
    const auto crashes = sharedInstance();
    bool usable;
    {
        std::lock_guard guard(crashes->lock_);
        usable = crashes->userConfirmationHandler_ || crashes->processed_;
    }
    if (!usable) {
        DIZLogError(kLogTag,
                    "Incorrect usage of notifyWithUserConfirmation: it should only be called from "
                    "userConfirmationHandler. For more information refer to the documentation.");
        return;
    }
    crashes->handleUserConfirmation(userConfirmation);
}

void DIZCrashes::sendErrorAttachments(const std::vector<std::shared_ptr<DIZErrorAttachmentLog>>& attachments,
                                      const std::string& incidentIdentifier) {
    const auto unit = sharedInstance()->channelUnit();
    for (const auto& attachment : attachments) {
        if (!attachment) continue;
        attachment->setErrorId(incidentIdentifier);
        if (!validatePropertiesForAttachment(*attachment)) {
            DIZLogError(kLogTag, "Not all required fields are present in DIZErrorAttachmentLog.");
        } else if (attachment->data()->size() > kMaxAttachmentSize) {
            DIZLogError(kLogTag, "Discarding attachment with size above %u bytes: size=%tu, fileName=%@.",
                        static_cast<unsigned>(kMaxAttachmentSize), attachment->data()->size(),
                        attachment->filename().value_or("(null)"));
        } else if (unit) {
            unit->enqueueItem(attachment, kAttachmentFlags);
        }
    }
}

bool DIZCrashes::validatePropertiesForAttachment(const DIZErrorAttachmentLog& attachment) {
    const auto filled = [](const std::optional<std::string>& text) { return text && !text->empty(); };
    return filled(attachment.errorId()) && filled(attachment.attachmentId()) && attachment.data() &&
           !attachment.data()->empty() && filled(attachment.contentType());
}

std::shared_ptr<DIZCrashesDelegate> DIZCrashes::delegate() {
    const auto crashes = sharedInstance();
    std::lock_guard guard(crashes->lock_);
    return crashes->delegate_.lock();
}

void DIZCrashes::setDelegate(const std::shared_ptr<DIZCrashesDelegate>& delegate) {
    const auto crashes = sharedInstance();
    std::lock_guard guard(crashes->lock_);
    crashes->delegate_ = delegate;
}

DIZUserConfirmationHandler DIZCrashes::userConfirmationHandler() {
    const auto crashes = sharedInstance();
    std::lock_guard guard(crashes->lock_);
    return crashes->userConfirmationHandler_;
}

void DIZCrashes::setUserConfirmationHandler(DIZUserConfirmationHandler handler) {
    const auto crashes = sharedInstance();
    std::lock_guard guard(crashes->lock_);
    crashes->userConfirmationHandler_ = std::move(handler);
}

// Wrapper SDKs and handled errors.

std::vector<std::shared_ptr<DIZErrorReport>> DIZCrashes::unprocessedCrashReports() {
    // Processing runs once; the signal is given back for the next waiter.
    while (!delayedProcessingSemaphore_->wait(3600)) {
    }
    delayedProcessingSemaphore_->signal();
    std::lock_guard guard(lock_);
    return unprocessedReports_;
}

bool DIZCrashes::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
    const std::vector<std::string>& filteredIds) {
    std::vector<std::shared_ptr<DIZAppleErrorLog>> logs;
    std::vector<std::shared_ptr<DIZErrorReport>> reports;
    std::vector<std::filesystem::path> files;
    {
        std::lock_guard guard(lock_);
        logs.swap(unprocessedLogs_);
        reports.swap(unprocessedReports_);
        files.swap(unprocessedFilePaths_);
    }
    std::vector<std::shared_ptr<DIZAppleErrorLog>> keptLogs;
    std::vector<std::shared_ptr<DIZErrorReport>> keptReports;
    std::vector<std::filesystem::path> keptFiles;
    for (size_t i = 0; i < reports.size() && i < logs.size() && i < files.size(); ++i) {
        const auto id = reports[i]->incidentIdentifier();
        if (id && std::find(filteredIds.begin(), filteredIds.end(), *id) != filteredIds.end()) {
            keptLogs.push_back(logs[i]);
            keptReports.push_back(reports[i]);
            keptFiles.push_back(files[i]);
        } else {
            forgetCrashFile(files[i], id);
        }
    }
    {
        std::lock_guard guard(lock_);
        unprocessedLogs_ = std::move(keptLogs);
        unprocessedReports_ = std::move(keptReports);
        unprocessedFilePaths_ = std::move(keptFiles);
    }
    return sendCrashReportsOrAwaitUserConfirmation();
}

std::shared_ptr<DIZErrorReport> DIZCrashes::buildHandledErrorReportWithErrorID(
    const std::string& errorId) const {
    return std::make_shared<DIZErrorReport>(errorId, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                            appStartTime_, Date::now(), std::nullopt, std::nullopt,
                                            std::nullopt, std::nullopt, std::nullopt,
                                            DIZDeviceTracker::sharedInstance()->device(), 0);
}

std::optional<std::string> DIZCrashes::trackError(
    const Error& error, const std::optional<Dictionary>& properties,
    const std::vector<std::shared_ptr<DIZErrorAttachmentLog>>& attachments) {
    auto exception = std::make_shared<DIZExceptionModel>();
    exception->initWithError(error);
    return sharedInstance()->trackModelException(exception, properties, attachments);
}

std::optional<std::string> DIZCrashes::trackException(
    const std::shared_ptr<DIZExceptionModel>& exception, const std::optional<Dictionary>& properties,
    const std::vector<std::shared_ptr<DIZErrorAttachmentLog>>& attachments) {
    return sharedInstance()->trackModelException(exception, properties, attachments);
}

std::optional<std::string> DIZCrashes::trackModelException(
    const std::shared_ptr<DIZExceptionModel>& exception, const std::optional<Dictionary>& properties,
    const std::vector<std::shared_ptr<DIZErrorAttachmentLog>>& attachments) {
    std::unique_lock guard(lock_);
    if (!canBeUsed() || !isEnabled()) return std::nullopt;
    auto log = std::make_shared<DIZHandledErrorLog>();
    log->setUserId(DIZUserIdContext::sharedInstance()->userId());
    const std::string errorId = UUID().uuidString();
    log->setErrorId(errorId);
    log->setException(exception);
    if (properties && !properties->empty()) {
        log->setProperties(DIZUtility::validateProperties(*properties, "ErrorLog: " + errorId, *log->type()));
    }
    guard.unlock();
    if (const auto unit = channelUnit()) unit->enqueueItem(log, kAttachmentFlags);
    if (!attachments.empty()) sendErrorAttachments(attachments, errorId);
    return errorId;
}

// Send notifications: crash logs only, told on the main thread without waiting.

namespace {
template <class Call>
void tellDelegateAboutCrashLog(DIZCrashes& crashes, const std::shared_ptr<DIZLog>& log, Call call) {
    const auto appleLog = std::dynamic_pointer_cast<DIZAppleErrorLog>(log);
    const auto delegate = DIZCrashes::delegate();
    if (!appleLog || !delegate) return;
    auto report = DIZErrorLogFormatter::errorReportFromLog(*appleLog);
    DIZDispatcherUtil::performBlockOnMainThread(
        [self = crashes.shared_from_this(), delegate, report, call] { call(*delegate, *self, *report); });
}
}  // namespace

void DIZCrashes::channelWillSendLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log) {
    tellDelegateAboutCrashLog(
        *this, log, [](DIZCrashesDelegate& delegate, DIZCrashes& crashes, const DIZErrorReport& report) {
            delegate.crashesWillSendErrorReport(crashes, report);
        });
}

void DIZCrashes::channelDidSucceedSendingLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log) {
    tellDelegateAboutCrashLog(
        *this, log, [](DIZCrashesDelegate& delegate, DIZCrashes& crashes, const DIZErrorReport& report) {
            delegate.crashesDidSucceedSendingErrorReport(crashes, report);
        });
}

void DIZCrashes::channelDidFailSendingLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log,
                                          const std::optional<Error>& error) {
    const Error failure = error.value_or(Error());
    tellDelegateAboutCrashLog(
        *this, log,
        [failure](DIZCrashesDelegate& delegate, DIZCrashes& crashes, const DIZErrorReport& report) {
            delegate.crashesDidFailSendingErrorReport(crashes, report, failure);
        });
}

// The crash-time log buffer.

namespace {

std::filesystem::path tokenFileOf(std::filesystem::path bufferFile) {
    return bufferFile.replace_extension(kTargetTokenFileExtension);
}

bool isBufferFile(const std::filesystem::path& file) {
    return file.extension() == std::string(".") + kBufferFileExtension;
}

void freeSlot(DIZCrashesBufferedLog& slot) {
    slot.buffer.clear();
    slot.targetToken.clear();
    slot.internalId.clear();
    slot.timestamp = 0;
}

}  // namespace

void DIZCrashes::setupLogBuffer() {
    std::lock_guard guard(lock_);
    for (size_t i = 0; i < kDIZCrashesLogBufferSize; ++i) {
        const std::string component =
            logBufferPathComponent_ + "/" + std::to_string(i) + "." + kBufferFileExtension;
        const auto file = DIZUtility::fullURLForPathComponent(component);
        // Never overwritten: a file a crash left keeps its log for the replay at start.
        DispatchQueue::global()->async(
            [component] { DIZUtility::createFileAtPathComponent(component, std::nullopt, false, false); });
        DIZCrashesBufferedLog& slot = diz_log_buffer[i];
        freeSlot(slot);
        slot.bufferPath = file ? file->string() : std::string();
        slot.targetTokenPath = file ? tokenFileOf(*file).string() : std::string();
    }
}

std::shared_ptr<DIZChannelUnitProtocol> DIZCrashes::bufferChannelUnit() const {
    std::lock_guard guard(lock_);
    return bufferChannelUnit_;
}

void DIZCrashes::channelDidPrepareLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log,
                                      const std::string& internalId, uint64_t) {
    // Crash logs and attachments are sent at the next start from their own files.
    if (!log || !isEnabled() || std::dynamic_pointer_cast<DIZAppleErrorLog>(log) ||
        std::dynamic_pointer_cast<DIZErrorAttachmentLog>(log)) {
        return;
    }
    const auto archive = DIZUtility::archiveKeyedData(log);
    if (!archive || archive->empty()) return;
    std::string token;
    if (const auto tokens = log->transmissionTargetTokens(); tokens && !tokens->empty()) {
        token = targetTokenEncrypter_->encryptString(*tokens->begin()).value_or("");
    }
    DIZLogVerbose(kLogTag, "Storing a log to Crashes Buffer: (sid: %@, type: %@)", log->sid(), log->type());

    // A free slot first; else the oldest log gives way, the lower index among equal times.
    std::vector<std::pair<size_t, double>> remembered;
    bool foundFree = false;
    size_t oldest = 0;
    {
        std::lock_guard guard(lock_);
        double oldestTime = std::numeric_limits<double>::max();
        size_t chosen = 0;
        for (; chosen < kDIZCrashesLogBufferSize && !foundFree; ++chosen) {
            const DIZCrashesBufferedLog& slot = diz_log_buffer[chosen];
            foundFree = slot.buffer.empty();
            if (!foundFree && slot.timestamp < oldestTime) {
                oldestTime = slot.timestamp;
                oldest = chosen;
                remembered.emplace_back(chosen, slot.timestamp);
            }
        }
        DIZCrashesBufferedLog& slot = diz_log_buffer[foundFree ? chosen - 1 : oldest];
        slot.buffer.assign(archive->begin(), archive->end());
        slot.targetToken = token;
        slot.internalId = internalId;
        slot.timestamp = Date::now().timeIntervalSince1970();
    }
    for (const auto& [index, timestamp] : remembered) {
        DIZLogVerbose(kLogTag, "Remembering index %ld for oldest timestamp %f.", index, timestamp);
    }
    if (foundFree) {
        DIZLogVerbose(kLogTag, "Found an empty buffer position.");
        return;
    }
    DIZLogVerbose(kLogTag, "Reached end of buffer. Next step is overwriting the oldest one.");
    DIZLogVerbose(kLogTag, "Overwrote buffered log at index %ld.", oldest);
}

void DIZCrashes::channelDidCompleteEnqueueingLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log,
                                                 const std::string& internalId) {
    if (internalId.empty()) return;
    std::vector<std::string> deletedFiles;
    size_t released = 0;
    {
        std::lock_guard guard(lock_);
        for (size_t i = 0; i < kDIZCrashesLogBufferSize; ++i) {
            DIZCrashesBufferedLog& slot = diz_log_buffer[i];
            if (slot.internalId != internalId) continue;
            ++released;
            freeSlot(slot);
            // The files were written at a crash of this process, which goes on for the moment: the
            // completed log must not come back at the next start.
            if (diz_log_buffer_saved.load()) {
                unlink(slot.bufferPath.c_str());
                deletedFiles.push_back(slot.bufferPath);
            }
        }
    }
    for (size_t i = 0; i < released; ++i)
        DIZLogVerbose(kLogTag, "Deleting a log from buffer with id %@", internalId);
    for (const auto& file : deletedFiles) {
        DIZLogVerbose(kLogTag, "Deleted a log from Crashes Buffer (sid: %@, type: %@)",
                      log ? log->sid() : std::nullopt, log ? log->type() : std::nullopt);
        DIZLogVerbose(kLogTag, "Deleted crash buffer file: %@.", file);
    }
}

void DIZCrashes::processLogBufferAfterCrash() {
    const auto group = channelGroup();
    // Without channels there is nowhere to replay to; the files wait for a start that has them.
    if (!group) return;
    std::shared_ptr<DIZChannelUnitProtocol> unit = bufferChannelUnit();
    if (!unit) {
        unit = group->addChannelUnitWithConfiguration(std::make_shared<DIZChannelUnitConfiguration>(
            kBufferGroupId, kBufferPriority, kBufferFlushInterval, kBufferBatchSizeLimit,
            kBufferPendingBatchesLimit));
        std::lock_guard guard(lock_);
        bufferChannelUnit_ = unit;
    }
    const auto files = DIZUtility::contentsOfDirectory(logBufferPathComponent_);
    if (!files || !unit) return;
    for (const auto& file : *files) {
        if (!isBufferFile(file)) continue;
        const std::string component = logBufferPathComponent_ + "/" + file.filename().string();
        const auto data = DIZUtility::loadDataForPathComponent(component);
        if (data && !data->empty()) {
            const auto archived = DIZUtility::unarchiveKeyedData(data);
            const auto log = archived ? archived->objectAs<DIZAbstractLog>() : nullptr;
            if (!log) {
                DIZLogError(kLogTag, "Deserialization failed for log: %@", "The log deserialized to NULL.");
                continue;
            }
            const std::filesystem::path tokenFile = tokenFileOf(file);
            const auto tokenData = DIZUtility::loadDataForPathComponent(logBufferPathComponent_ + "/" +
                                                                        tokenFile.filename().string());
            const std::string tokenText = tokenData ? std::string(tokenData->begin(), tokenData->end()) : "";
            if (tokenData && isValidUtf8(tokenText)) {
                const auto token = targetTokenEncrypter_->decryptString(tokenText);
                if (token) {
                    log->addTransmissionTargetToken(*token);
                } else {
                    DIZLogError(kLogTag, "Failed to decrypt the target token.");
                }
                DIZUtility::deleteFileAtURL(tokenFile);
            }
            DIZLogDebug(kLogTag, "Re-enqueueing buffered log, type: %@.", log->type());
            unit->enqueueItem(log, kBufferedLogFlags);
        }
        DIZUtility::createFileAtPathComponent(component, Data{}, false, true);
    }
}

void DIZCrashes::emptyLogBufferFiles() {
    const auto files = DIZUtility::contentsOfDirectory(logBufferPathComponent_);
    if (!files) {
        DIZLogError(kLogTag, "Couldn't get files in the directory \"%@\"", logBufferPathComponent_);
        return;
    }
    for (const auto& file : *files) {
        std::error_code error;
        if (!isBufferFile(file) || std::filesystem::file_size(file, error) == 0 || error) continue;
        DIZUtility::createFileAtPathComponent(logBufferPathComponent_ + "/" + file.filename().string(),
                                              Data{}, false, true);
    }
}
