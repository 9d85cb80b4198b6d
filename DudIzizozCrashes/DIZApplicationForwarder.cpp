#include "DudIzizozCrashes/DIZApplicationForwarder.h"

#include <mutex>

#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "platform/appkit/NSApplication.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"

namespace {

NSApplication::ReportExceptionImplementation previousReportException = nullptr;
NSApplication::SendEventImplementation previousSendEvent = nullptr;
std::once_flag reportExceptionReplaced;
std::once_flag sendEventReplaced;

void forwardReportedException(NSApplication& application, const ExceptionRecord& exception) {
    DIZCrashes::applicationDidReportException(exception);
    previousReportException(application, exception);
}

// Taken over with the report entry; it adds nothing, and the event goes on as before.
void forwardSentEvent(NSApplication& application, const std::shared_ptr<NSEvent>& event) {
    previousSendEvent(application, event);
}

}  // namespace

void DIZApplicationForwarder::registerForwarding() {
    const auto enabled = Bundle::mainBundle()->objectForInfoDictionaryKey(kEnabledKey);
    if (enabled && !enabled->boolOr(true)) {
        DIZLogDebug(DIZCrashes::kLogTag,
                    "Application forwarder for info.plist key '%@' disabled. It won't use swizzling.",
                    kEnabledKey);
        return;
    }
    DIZLogDebug(DIZCrashes::kLogTag,
                "Application forwarder for info.plist key '%@' enabled. It may use swizzling.", kEnabledKey);
    const auto crashOnExceptions = UserDefaults::standardUserDefaults()->objectForKey(kCrashOnExceptionsKey);
    if (!crashOnExceptions || !crashOnExceptions->boolOr(false)) {
        DIZLogInfo(
            DIZCrashes::kLogTag,
            "Catching uncaught exceptions thrown on the main thread disabled. Set `%@` flag before SDK "
            "initialization, to allow crash on uncaught exceptions and the SDK can report them.",
            kCrashOnExceptionsKey);
        return;
    }
    std::call_once(reportExceptionReplaced, [] {
        previousReportException = NSApplication::setReportExceptionImplementation(forwardReportedException);
        DIZLogDebug(DIZCrashes::kLogTag, "Selector 'reportException:' of class 'NSApplication' is swizzled.");
    });
    std::call_once(sendEventReplaced, [] {
        previousSendEvent = NSApplication::setSendEventImplementation(forwardSentEvent);
        DIZLogDebug(DIZCrashes::kLogTag, "Selector 'sendEvent:' of class 'NSApplication' is swizzled.");
    });
}
