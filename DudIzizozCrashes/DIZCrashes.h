#pragma once
// The crash service. Its first enabling in a process installs the crash reporter; every enabling
// takes the report the reporter left from the previous run into the service's own "crashes"
// directory and lists the reports waiting there for processing. Disabling deletes every crash
// file but leaves the installed handlers in place. It starts before every other service.
// Start and the switches of the enabled state run on the thread that starts the client; the
// memory-pressure handler runs on the main queue. State is read and written under the instance's
// lock, which no call out of the service holds.
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/DIZServiceAbstract.h"
#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "DudIzizozCrashes/Model/DIZErrorReport.h"
#include "crash_reporter/DZCrashReporter.h"
#include "platform/dispatch/DispatchMemoryPressureSource.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Exception.h"

class DIZAppleErrorLog;
class DIZChannelUnitConfiguration;
class DIZChannelUnitProtocol;
class DIZCrashes;
class DIZEncrypter;
class DIZErrorAttachmentLog;
class DIZExceptionModel;

// The application's say in crash reporting; every callback is optional. Send notifications come
// on the main thread.
class DIZCrashesDelegate {
  public:
    virtual ~DIZCrashesDelegate() = default;
    virtual bool crashesShouldProcessErrorReport(DIZCrashes&, const DIZErrorReport&) { return true; }
    // nullopt: not implemented.
    virtual std::optional<std::vector<std::shared_ptr<DIZErrorAttachmentLog>>> attachmentsWithCrashes(
        DIZCrashes&, const DIZErrorReport&) {
        return std::nullopt;
    }
    virtual void crashesWillSendErrorReport(DIZCrashes&, const DIZErrorReport&) {}
    virtual void crashesDidSucceedSendingErrorReport(DIZCrashes&, const DIZErrorReport&) {}
    virtual void crashesDidFailSendingErrorReport(DIZCrashes&, const DIZErrorReport&, const Error&) {}
};

// The user's answer about held crash reports.
enum DIZUserConfirmation : int64_t {
    DIZUserConfirmationDontSend = 0,
    DIZUserConfirmationSend = 1,
    DIZUserConfirmationAlways = 2,
};

// Asked on the main thread with the reports held for the user; true means it will answer later
// through notifyWithUserConfirmation.
using DIZUserConfirmationHandler = std::function<bool(const std::vector<std::shared_ptr<DIZErrorReport>>&)>;

// Makes and enables the service's crash reporter. Enabling installs the process's crash handlers
// and succeeds once per process, so unit tests hand the service one that only records; child
// processes that really crash use the real one.
class DIZCrashReporterProvider {
  public:
    virtual ~DIZCrashReporterProvider() = default;
    virtual std::shared_ptr<DZCrashReporter> makeCrashReporter(std::shared_ptr<DZCrashReporterConfig> config);
    // Hands the reporter the crash callback of the log buffer, then enables it.
    virtual bool enableCrashReporter(DZCrashReporter& crashReporter, Error* error);
    virtual bool isDebuggerAttached();
};

class DIZCrashes : public DIZServiceAbstract,
                   public DIZChannelDelegate,
                   public std::enable_shared_from_this<DIZCrashes> {
  public:
    static constexpr const char* kClassName = "DIZCrashes";
    static constexpr const char* kServiceName = "Crashes";
    static constexpr const char* kLogTag = "DudIzizozCrashes";
    static constexpr const char* kGroupId = "Crashes";
    static constexpr int64_t kInitializationPriority = 999;
    static constexpr const char* kAppDidReceiveMemoryWarningKey = "AppDidReceiveMemoryWarning";
    static constexpr const char* kUserConfirmationKey = "CrashesUserConfirmation";
    static constexpr const char* kAnalyzerFilename = "DZCrashes.analyzer";

    static const DIZServiceClass& classObject();
    static std::shared_ptr<DIZCrashes> sharedInstance();
    // Drops the instance and re-arms the once-per-process guard of delayed processing.
    static void resetSharedInstance();
    // nullptr puts the real provider back.
    static void setCrashReporterProvider(std::shared_ptr<DIZCrashReporterProvider> provider);

    // The class side: each acts on the shared instance.
    static void generateTestCrash();
    static bool hasCrashedInLastSession();
    static bool hasReceivedMemoryWarningInLastSession();
    static std::shared_ptr<DIZErrorReport> lastSessionCrashReport();
    // Has effect only before the service is first enabled.
    static void disableMachExceptionHandler();
    // An exception the application reported from its main thread: passed to the uncaught-exception
    // handler recorded when the reporter was enabled, unless a debugger is attached.
    static void applicationDidReportException(const ExceptionRecord& exception);
    static std::shared_ptr<DIZCrashesDelegate> delegate();
    // Held weakly.
    static void setDelegate(const std::shared_ptr<DIZCrashesDelegate>& delegate);
    static DIZUserConfirmationHandler userConfirmationHandler();
    static void setUserConfirmationHandler(DIZUserConfirmationHandler handler);
    static void notifyWithUserConfirmation(int64_t userConfirmation);
    // Each gets the error id; complete ones of at most 7 MiB are enqueued as normal logs.
    static void sendErrorAttachments(const std::vector<std::shared_ptr<DIZErrorAttachmentLog>>& attachments,
                                     const std::string& incidentIdentifier);
    // errorId, attachmentId, data and contentType present and not empty.
    static bool validatePropertiesForAttachment(const DIZErrorAttachmentLog& attachment);
    static constexpr size_t kMaxAttachmentSize = 7 * 1024 * 1024;
    // Handled errors, enqueued as normal logs while the service is usable and enabled; they answer
    // the new error id, or nullopt.
    static std::optional<std::string> trackError(
        const Error& error, const std::optional<Dictionary>& properties,
        const std::vector<std::shared_ptr<DIZErrorAttachmentLog>>& attachments);
    static std::optional<std::string> trackException(
        const std::shared_ptr<DIZExceptionModel>& exception, const std::optional<Dictionary>& properties,
        const std::vector<std::shared_ptr<DIZErrorAttachmentLog>>& attachments);

    int64_t initializationPriority() const override { return kInitializationPriority; }
    // After the base start (which enables the service when it is enabled), joins the channel
    // group's delegates, replays the crash-time log buffer and reads the memory-warning flag.
    void startWithChannelGroup(const std::shared_ptr<DIZChannelGroupProtocol>& channelGroup,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken,
                               bool fromApplication) override;
    void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                          const std::optional<std::string>& transmissionTargetToken) override;
    void applyEnabledState(bool isEnabled) override;
    std::shared_ptr<DIZChannelUnitConfiguration> channelUnitConfiguration() const override {
        return channelUnitConfiguration_;
    }

    bool didCrashInLastSession() const;
    bool didReceiveMemoryWarningInLastSession() const;
    bool isMachExceptionHandlerEnabled() const;
    void setEnableMachExceptionHandler(bool enabled);
    bool isAutomaticProcessingEnabled() const;
    void setAutomaticProcessingEnabled(bool enabled);
    std::shared_ptr<DIZErrorReport> getLastSessionCrashReport() const;
    std::shared_ptr<DZCrashReporter> dzCrashReporter() const;
    NSUncaughtExceptionHandler exceptionHandler() const;
    std::vector<std::filesystem::path> crashFiles() const;
    std::shared_ptr<DispatchMemoryPressureSource> memoryPressureSource() const;
    // Signalled once delayed processing has run, or at enabling when there was nothing to process.
    const std::shared_ptr<DispatchSemaphore>& delayedProcessingSemaphore() const {
        return delayedProcessingSemaphore_;
    }
    const Date& appStartTime() const { return appStartTime_; }
    const std::string& analyzerInProgressFilePathComponent() const {
        return analyzerInProgressFilePathComponent_;
    }

    // Once per instance: the reporter in Mach-exception mode unless disabled, without
    // symbolication, with the log buffer's crash callback; with a debugger attached it is made but
    // not enabled.
    void configureCrashReporterWithUncaughtExceptionHandlerEnabled(bool enableUncaughtExceptionHandler);
    // Copies the reporter's pending report into "crashes" and purges it from the reporter.
    void handleLatestCrashReport();
    // The report files waiting in "crashes", in listing order.
    std::vector<std::filesystem::path> persistedCrashReports() const;
    // Whether a file of "crashes" is a stored report: a non-empty regular file that is none of the
    // directory's other files.
    static bool isCrashReportFile(const std::filesystem::path& file);
    void didReceiveMemoryWarning();
    // A second after enabling, on a global queue, once per process: the stored reports are parsed,
    // filtered through the delegate and sent or held for the user.
    void startDelayedCrashProcessing();
    // Returns the persisted "always send" answer.
    bool sendCrashReportsOrAwaitUserConfirmation();
    void handleUserConfirmation(int64_t userConfirmation);
    // For wrapper SDKs: waits until delayed processing has run and answers the held reports.
    std::vector<std::shared_ptr<DIZErrorReport>> unprocessedCrashReports();
    // Keeps the held reports of these ids, deletes the others, then decides as processing does.
    bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::vector<std::string>& filteredIds);
    std::shared_ptr<DIZErrorReport> buildHandledErrorReportWithErrorID(const std::string& errorId) const;
    std::optional<std::string> trackModelException(
        const std::shared_ptr<DIZExceptionModel>& exception, const std::optional<Dictionary>& properties,
        const std::vector<std::shared_ptr<DIZErrorAttachmentLog>>& attachments);

    // The crash-time log buffer: every log a unit of the group prepares (crash logs and attachments
    // aside) is kept in a slot until its enqueueing completes, so that a crash in between does not
    // lose it; the next start enqueues it again on the "CrashesBuffer" unit.
    void channelDidPrepareLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log,
                              const std::string& internalId, uint64_t flags) override;
    void channelDidCompleteEnqueueingLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log,
                                         const std::string& internalId) override;
    // The unit of replayed logs, made by the first replay; null before.
    std::shared_ptr<DIZChannelUnitProtocol> bufferChannelUnit() const;

    // Logs of the "Crashes" unit being sent, told to the delegate for crash logs.
    void channelWillSendLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log) override;
    void channelDidSucceedSendingLog(DIZChannelProtocol& channel,
                                     const std::shared_ptr<DIZLog>& log) override;
    void channelDidFailSendingLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log,
                                  const std::optional<Error>& error) override;

    DIZCrashes();  // use sharedInstance()

  private:
    void enable();
    void disable();
    void processMemoryWarningInLastSession();
    void clearContextHistoryAndKeepCurrentSession();
    void deleteAllFromCrashesDirectory();
    void clearUnprocessedReports();
    // The crash-time log buffer: made at init, replayed at start, emptied when disabled.
    void setupLogBuffer();
    void processLogBufferAfterCrash();
    void emptyLogBufferFiles();
    void startCrashProcessing();
    void processCrashReports();
    bool shouldAlwaysSend() const;
    bool userPromptedForConfirmation();
    void sendReport(size_t index);
    void forgetCrashFile(const std::filesystem::path& file, const std::optional<std::string>& incidentId);
    std::string freeCrashFileName() const;

    const std::shared_ptr<DIZChannelUnitConfiguration> channelUnitConfiguration_;
    const std::shared_ptr<DispatchSemaphore> delayedProcessingSemaphore_ = DispatchSemaphore::make(0);
    const std::shared_ptr<DIZEncrypter> targetTokenEncrypter_;
    const Date appStartTime_;
    std::string crashesPathComponent_;
    std::string logBufferPathComponent_;
    std::string analyzerInProgressFilePathComponent_;

    mutable std::mutex lock_;
    bool didCrashInLastSession_ = false;
    bool didReceiveMemoryWarningInLastSession_ = false;
    bool enableMachExceptionHandler_ = true;
    bool automaticProcessingEnabled_ = true;
    std::shared_ptr<DIZErrorReport> lastSessionCrashReport_;
    std::shared_ptr<DispatchMemoryPressureSource> memoryPressureSource_;
    std::vector<std::filesystem::path> crashFiles_;
    std::shared_ptr<DZCrashReporter> dzCrashReporter_;
    std::shared_ptr<DIZChannelUnitProtocol> bufferChannelUnit_;
    NSUncaughtExceptionHandler exceptionHandler_ = nullptr;
    std::vector<std::shared_ptr<DIZAppleErrorLog>> unprocessedLogs_;
    std::vector<std::shared_ptr<DIZErrorReport>> unprocessedReports_;
    std::vector<std::filesystem::path> unprocessedFilePaths_;
    bool processed_ = false;
    std::weak_ptr<DIZCrashesDelegate> delegate_;
    DIZUserConfirmationHandler userConfirmationHandler_;
};
