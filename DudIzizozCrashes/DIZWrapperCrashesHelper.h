#pragma once
// The crash service as a wrapper SDK reaches it. One shared helper holds, weakly, the wrapper's
// delegate that the crash service consults whenever it sets up its crash handlers.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class DIZErrorAttachmentLog;
class DIZErrorReport;

// Told around the crash reporter's configuration; every callback is optional.
class DIZCrashHandlerSetupDelegate {
  public:
    virtual ~DIZCrashHandlerSetupDelegate() = default;
    virtual void willSetUpCrashHandlers() {}
    // Whether the reporter installs its uncaught-exception handler.
    virtual bool shouldEnableUncaughtExceptionHandler() { return true; }
    virtual void didSetUpCrashHandlers() {}
};

class DIZWrapperCrashesHelper {
  public:
    static std::shared_ptr<DIZWrapperCrashesHelper> sharedInstance();

    // Held weakly: reads as nullptr once the wrapper lets its delegate go.
    static void setCrashHandlerSetupDelegate(const std::shared_ptr<DIZCrashHandlerSetupDelegate>& delegate);
    static std::shared_ptr<DIZCrashHandlerSetupDelegate> crashHandlerSetupDelegate();
    static std::shared_ptr<DIZCrashHandlerSetupDelegate> getCrashHandlerSetupDelegate();

    // These act on the crash service's shared instance.
    static void setAutomaticProcessing(bool automaticProcessing);
    static bool automaticProcessing();
    // Waits until the crash service's delayed processing has run.
    static std::vector<std::shared_ptr<DIZErrorReport>> unprocessedCrashReports();
    static bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
        const std::vector<std::string>& filteredIds);
    static void sendErrorAttachments(const std::vector<std::shared_ptr<DIZErrorAttachmentLog>>& attachments,
                                     const std::string& incidentIdentifier);
    static std::shared_ptr<DIZErrorReport> buildHandledErrorReportWithErrorID(const std::string& errorId);

    DIZWrapperCrashesHelper() = default;  // use sharedInstance()

  private:
    std::mutex lock_;
    std::weak_ptr<DIZCrashHandlerSetupDelegate> crashHandlerSetupDelegate_;
};
