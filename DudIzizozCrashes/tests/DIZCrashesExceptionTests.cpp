#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/DIZApplicationForwarder.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesUtil.h"
#include "DudIzizozCrashes/tests/DIZCrashesTesting.h"
#include "crash_reporter/format/DZCrashReport.h"
#include "platform/appkit/NSApplication.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/testing/TestHome.h"

// The child's throwing function (DIZCrashesTests.cpp).
extern "C" [[noreturn]] void dizCrashesThrowUncaught() noexcept;

namespace {

class DIZCrashesExceptionTest : public DIZCrashesServiceTest {
  protected:
    ~DIZCrashesExceptionTest() override { NSSetUncaughtExceptionHandler(nullptr); }
    size_t linesOf(const std::string& text) {
        const auto texts = capture_.texts();
        return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
    }
};

TEST_F(DIZCrashesExceptionTest, AnUncaughtCXXExceptionIsReportedWithTheStackOfItsThrow) {
    const auto crashed = runCrashesChild(home_.path(), "throw");
    ASSERT_TRUE(crashed && WIFSIGNALED(*crashed));
    const auto reporter =
        DZCrashReporter::initWithConfiguration(DZCrashReporterConfig::initWithSignalHandlerType(
            DZCrashReporterSignalHandlerTypeBSD, DZCrashReporterSymbolicationStrategyNone, true,
            std::nullopt));
    Error error;
    const auto data = reporter->loadPendingCrashReportData(&error);
    ASSERT_TRUE(data) << error.description;
    const auto report = DZCrashReport::initWithData(*data, &error);
    ASSERT_TRUE(report) << error.description;
    EXPECT_EQ(report->signalInfo()->name(), "SIGABRT");
    ASSERT_TRUE(report->exceptionInfo());
    EXPECT_EQ(report->exceptionInfo()->exceptionName(), "std::runtime_error");
    EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "boom");
    ASSERT_TRUE(report->exceptionInfo()->stackFrames() && !report->exceptionInfo()->stackFrames()->empty());

    // The first frame is the throwing function's own, found through this process's copy of the
    // same executable. The call that throws does not return, so its return address may lie just
    // past the function: the byte before it is the call's.
    const uint64_t first = report->exceptionInfo()->stackFrames()->front()->instructionPointer();
    const auto& images = report->images();
    const auto image = std::find_if(images.begin(), images.end(), [&](const auto& candidate) {
        return first >= candidate->imageBaseAddress() &&
               first < candidate->imageBaseAddress() + candidate->imageSize();
    });
    ASSERT_NE(image, images.end());
    Dl_info own{};
    ASSERT_TRUE(dladdr(reinterpret_cast<void*>(&dizCrashesThrowUncaught), &own));
    const auto here = reinterpret_cast<uintptr_t>(own.dli_fbase) + (first - (*image)->imageBaseAddress()) - 1;
    Dl_info symbol{};
    ASSERT_TRUE(dladdr(reinterpret_cast<void*>(here), &symbol));
    EXPECT_STREQ(symbol.dli_sname, "dizCrashesThrowUncaught");
}

// What reaches the uncaught-exception handler and the application's earlier report entry, in order.
std::mutex reachedLock;
std::vector<std::string> reached;
void reach(const std::string& what) {
    std::lock_guard guard(reachedLock);
    reached.push_back(what);
}
void recordingHandler(const ExceptionRecord& exception) {
    reach("handler " + exception.reason());
}
void earlierReportException(NSApplication&, const ExceptionRecord& exception) {
    reach("application " + exception.reason());
}

// Enables like the real reporter: its uncaught-exception handler is installed.
class HandlerInstallingProvider : public RecordingProvider {
  public:
    bool enableCrashReporter(DZCrashReporter&, Error*) override {
        NSSetUncaughtExceptionHandler(recordingHandler);
        return true;
    }
};

// Each entry is replaced once per process, so the steps run in this one test, in order.
TEST_F(DIZCrashesExceptionTest, ReportedExceptionsReachTheRecordedHandlerThenTheApplication) {
    // Stands in for the platform's own implementation, so the test sees the call go on to it.
    NSApplication::setReportExceptionImplementation(earlierReportException);
    const auto earlierSendEvent = NSApplication::sendEventImplementation();
    const std::string enabledLine =
        "Application forwarder for info.plist key 'DudIzizozApplicationForwarderEnabled' enabled. It may use "
        "swizzling.";

    auto info = DIZHostBundle()->infoDictionary();
    info["DudIzizozApplicationForwarderEnabled"] = Value(false);
    Bundle::setMainBundle(std::make_shared<Bundle>(info));
    DIZApplicationForwarder::registerForwarding();
    EXPECT_TRUE(
        capture_.contains("Application forwarder for info.plist key 'DudIzizozApplicationForwarderEnabled' "
                          "disabled. It won't use "
                          "swizzling."));
    EXPECT_EQ(linesOf(enabledLine), 0u);

    Bundle::setMainBundle(DIZHostBundle());
    DIZApplicationForwarder::registerForwarding();
    const auto* flagLine = capture_.find(
        "Catching uncaught exceptions thrown on the main thread disabled. Set "
        "`NSApplicationCrashOnExceptions` flag "
        "before SDK initialization, to allow crash on uncaught exceptions and the SDK can report them.");
    ASSERT_TRUE(flagLine);
    EXPECT_EQ(flagLine->level, DIZLogLevel::Info);
    EXPECT_EQ(NSApplication::reportExceptionImplementation(), &earlierReportException) << "nothing replaced";
    EXPECT_EQ(NSApplication::sendEventImplementation(), earlierSendEvent);

    UserDefaults::standardUserDefaults()->setObject(Value(true), "NSApplicationCrashOnExceptions");
    DIZApplicationForwarder::registerForwarding();
    const auto forwardingReport = NSApplication::reportExceptionImplementation();
    const auto forwardingSendEvent = NSApplication::sendEventImplementation();
    EXPECT_NE(forwardingReport, &earlierReportException);
    EXPECT_NE(forwardingSendEvent, earlierSendEvent);
    DIZApplicationForwarder::registerForwarding();
    EXPECT_EQ(NSApplication::reportExceptionImplementation(), forwardingReport);
    EXPECT_EQ(NSApplication::sendEventImplementation(), forwardingSendEvent);
    EXPECT_EQ(linesOf("Selector 'reportException:' of class 'NSApplication' is swizzled."), 1u);
    EXPECT_EQ(linesOf("Selector 'sendEvent:' of class 'NSApplication' is swizzled."), 1u);
    EXPECT_EQ(linesOf(enabledLine), 3u);

    // The service records the reporter's handler when it enables the reporter.
    const auto installing = std::make_shared<HandlerInstallingProvider>();
    DIZCrashes::setCrashReporterProvider(installing);
    DIZCrashes::sharedInstance()->startWithChannelGroup(nullptr, "secret", std::nullopt, true);
    ASSERT_EQ(DIZCrashes::sharedInstance()->exceptionHandler(), &recordingHandler);
    NSApplication::sharedApplication()->reportException(ExceptionRecord("NSGenericException", "bad"));
    // A debugger sees the exception itself.
    installing->debuggerAttached = true;
    NSApplication::sharedApplication()->reportException(ExceptionRecord("NSGenericException", "seen"));
    EXPECT_EQ(reached, (std::vector<std::string>{"handler bad", "application bad", "application seen"}));
}

}  // namespace
