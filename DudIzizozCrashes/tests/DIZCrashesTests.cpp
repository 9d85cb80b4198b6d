#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesUtil.h"
#include "DudIzizozCrashes/Internals/Util/DIZWrapperExceptionManager.h"
#include "DudIzizozCrashes/tests/DIZCrashesTesting.h"
#include "crash_reporter/format/DZCrashReport.h"
#include "crash_reporter/format/testing/CrashReportBuilder.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"
#include "testing/ChildProcess.h"
#include "testing/DeliberateFault.h"
#include "testing/Eventually.h"

namespace {

namespace fs = std::filesystem;

class DIZCrashesTest : public DIZCrashesServiceTest {
  protected:
    // What the next process starts from: the files stay.
    void newProcess() {
        DIZCrashes::resetSharedInstance();
        resetAllForTesting();
        DIZCrashesUtil::resetDirectory();
        provider_->configs.clear();
    }
    static std::shared_ptr<DIZCrashes> start() {
        auto crashes = DIZCrashes::sharedInstance();
        crashes->startWithChannelGroup(nullptr, "secret", std::nullopt, true);
        return crashes;
    }
    // The reporter the service will make, to leave a report as a crash of the previous run would.
    static std::shared_ptr<DZCrashReporter> reporter() {
        return DZCrashReporter::initWithConfiguration(DZCrashReporterConfig::initWithSignalHandlerType(
            DZCrashReporterSignalHandlerTypeMach, DZCrashReporterSymbolicationStrategyNone, true,
            std::nullopt));
    }
    static void leavePendingReport(const Data& bytes) {
        const auto pending = reporter();
        ASSERT_TRUE(pending->populateCrashReportDirectory());
        std::ofstream(pending->crashReportPath(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static fs::path crashesDirectory() { return DIZUtility::dudIzizozDirectoryURL() / "crashes"; }
    static std::vector<std::string> storedNames() {
        std::vector<std::string> names;
        if (!fs::exists(crashesDirectory())) return names;
        for (const auto& entry : fs::directory_iterator(crashesDirectory()))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    static Data contents(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return Data(std::istreambuf_iterator<char>(in), {});
    }
    // "%.0f" of the clock's seconds since 2001.
    static std::string nowName() {
        return std::to_string(std::llround(Date::now().timeIntervalSinceReferenceDate()));
    }

    ScopedManualClock clock_;
    CrashReportBuilder builder_;
};

TEST_F(DIZCrashesTest, WithNothingPendingOrStoredEnablingSchedulesNothing) {
    const auto crashes = start();
    EXPECT_TRUE(crashes->delayedProcessingSemaphore()->wait(0)) << "signalled at enabling";
    EXPECT_EQ(clock_->pendingTimers(), 0u);
    EXPECT_FALSE(DIZCrashes::hasCrashedInLastSession());
    EXPECT_FALSE(DIZCrashes::lastSessionCrashReport());
    EXPECT_TRUE(crashes->crashFiles().empty());

    ASSERT_EQ(provider_->configs.size(), 1u);
    const auto& config = *provider_->configs.front();
    EXPECT_EQ(config.signalHandlerType(), DZCrashReporterSignalHandlerTypeMach);
    EXPECT_EQ(config.symbolicationStrategy(), DZCrashReporterSymbolicationStrategyNone);
    EXPECT_TRUE(config.shouldRegisterUncaughtExceptionHandler());
    EXPECT_EQ(provider_->enablings, 1);
    EXPECT_EQ(DIZWrapperExceptionManager::crashReporter(), crashes->dzCrashReporter());
    for (const char* line :
         {"EnableUncaughtExceptionHandler is set to YES", "Enabled Mach exception handler.",
          "Crashes service has been enabled.", "Started crash service."}) {
        EXPECT_TRUE(capture_.contains(line)) << line;
    }
    const auto* noHandler = capture_.find(
        "Exception handler could not be set. Make sure there is no other exception handler set up!");
    ASSERT_TRUE(noHandler) << "the recording provider installs none";
    EXPECT_EQ(noHandler->level, DIZLogLevel::Error);
    EXPECT_EQ(noHandler->tag, "DudIzizozCrashes");
}

TEST_F(DIZCrashesTest, WithoutMachExceptionsTheReporterCatchesSignals) {
    DIZCrashes::disableMachExceptionHandler();
    start();
    ASSERT_EQ(provider_->configs.size(), 1u);
    EXPECT_EQ(provider_->configs.front()->signalHandlerType(), DZCrashReporterSignalHandlerTypeBSD);
    EXPECT_FALSE(capture_.contains("Enabled Mach exception handler."));
}

TEST_F(DIZCrashesTest, ThePendingReportIsCopiedUnderTheSecondsSince2001) {
    const Data bytes = builder_.fileData();
    leavePendingReport(bytes);
    const auto crashes = start();
    const std::string name = nowName();
    EXPECT_EQ(storedNames(), std::vector<std::string>{name}) << "the marker is gone";
    EXPECT_EQ(contents(crashesDirectory() / name), bytes);
    EXPECT_FALSE(reporter()->hasPendingCrashReport()) << "purged";
    EXPECT_TRUE(DIZCrashes::hasCrashedInLastSession());
    ASSERT_TRUE(DIZCrashes::lastSessionCrashReport());
    EXPECT_EQ(DIZCrashes::lastSessionCrashReport()->signal(), "SIGSEGV");
    EXPECT_EQ(crashes->crashFiles(), std::vector<fs::path>{crashesDirectory() / name});
    EXPECT_TRUE(capture_.contains("The application crashed in the last session."));

    EXPECT_FALSE(crashes->delayedProcessingSemaphore()->wait(0)) << "processing is a second away";
    EXPECT_EQ(clock_->pendingTimers(), 1u);
    clock_->advance(1);
    EXPECT_TRUE(crashes->delayedProcessingSemaphore()->wait(60));
}

TEST_F(DIZCrashesTest, TheMarkerStandsWhileThePendingReportIsRead) {
    // A pending report that is a pipe holds the reading until the test writes to it.
    const auto pending = reporter();
    ASSERT_TRUE(pending->populateCrashReportDirectory());
    ASSERT_EQ(mkfifo(pending->crashReportPath().c_str(), 0600), 0);
    auto starting = std::async(std::launch::async, [this] { start(); });
    const fs::path marker = crashesDirectory() / DIZCrashes::kAnalyzerFilename;
    // The service waits in opening the pipe; the marker must stand by then.
    EXPECT_TRUE(eventually([&] { return fs::exists(marker); }));
    const int writer = open(pending->crashReportPath().c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    close(writer);
    starting.get();
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_FALSE(pending->hasPendingCrashReport());
    EXPECT_TRUE(storedNames().empty()) << "a pipe is no report";
    EXPECT_NE(capture_.find("Couldn't load crash report: Failed to read the pending crash report"), nullptr)
        << capture_.texts().back();
}

TEST_F(DIZCrashesTest, APendingReportThatBrokeTheLastConversionIsPurgedUnread) {
    leavePendingReport(builder_.fileData());
    ASSERT_TRUE(
        DIZUtility::createFileAtPathComponent("crashes/DZCrashes.analyzer", std::nullopt, false, false));
    start();
    EXPECT_TRUE(storedNames().empty());
    EXPECT_FALSE(reporter()->hasPendingCrashReport());
    EXPECT_FALSE(DIZCrashes::lastSessionCrashReport());
    const auto* line = capture_.find("Error on loading the crash report, it will be purged.");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->level, DIZLogLevel::Error);
}

TEST_F(DIZCrashesTest, AnUnparsableReportIsPurgedAndNotStored) {
    leavePendingReport(Data{'n', 'o', 't', ' ', 'a', ' ', 'r', 'e', 'p', 'o', 'r', 't'});
    const auto crashes = start();
    EXPECT_TRUE(storedNames().empty());
    EXPECT_FALSE(reporter()->hasPendingCrashReport());
    EXPECT_TRUE(DIZCrashes::hasCrashedInLastSession());
    EXPECT_FALSE(DIZCrashes::lastSessionCrashReport());
    const auto entries = capture_.entries();
    const auto warning = std::find_if(entries.begin(), entries.end(), [](const auto& entry) {
        return entry.text.starts_with("Couldn't parse crash report: ");
    });
    ASSERT_NE(warning, entries.end());
    EXPECT_EQ(warning->level, DIZLogLevel::Warning);
    EXPECT_TRUE(crashes->delayedProcessingSemaphore()->wait(0));
}

TEST_F(DIZCrashesTest, ATakenNameKeepsBothReports) {
    const std::string name = nowName();
    const Data older{'o', 'l', 'd'};
    ASSERT_TRUE(DIZUtility::createFileAtPathComponent("crashes/" + name, older, true, false));
    ASSERT_TRUE(DIZUtility::createFileAtPathComponent("crashes/" + name + "-1", older, true, false));
    const Data bytes = builder_.fileData();
    leavePendingReport(bytes);
    start();
    EXPECT_EQ(storedNames(), (std::vector<std::string>{name, name + "-1", name + "-2"}));
    EXPECT_EQ(contents(crashesDirectory() / name), older);
    EXPECT_EQ(contents(crashesDirectory() / (name + "-2")), bytes);
    EXPECT_EQ(DIZCrashes::sharedInstance()->crashFiles().size(), 3u);
}

TEST_F(DIZCrashesTest, OnlyNonEmptyRegularFilesOfOtherKindsAreReports) {
    fs::create_directories(crashesDirectory() / "folder");
    struct Case {
        const char* name;
        size_t size;
        bool report;
    } cases[] = {{"1.DS_Store", 1, false}, {"x.analyzer", 1, false}, {"x.plist", 1, false},
                 {"x.data", 1, false},     {"x.meta", 1, false},     {"x.desc", 1, false},
                 {"empty", 0, false},      {"812345678", 1, true},   {"812345678-1", 1, true},
                 {"x.dzcrash", 1, true},   {"data", 1, true}};
    for (const auto& c : cases) {
        std::ofstream(crashesDirectory() / c.name) << std::string(c.size, 'x');
        EXPECT_EQ(DIZCrashes::isCrashReportFile(crashesDirectory() / c.name), c.report) << c.name;
    }
    EXPECT_FALSE(DIZCrashes::isCrashReportFile(crashesDirectory() / "folder"));
    EXPECT_FALSE(DIZCrashes::isCrashReportFile(crashesDirectory() / "missing"));

    std::vector<fs::path> expected;
    for (const auto& entry : fs::directory_iterator(crashesDirectory())) {
        if (DIZCrashes::isCrashReportFile(entry.path())) expected.push_back(entry.path());
    }
    EXPECT_EQ(expected.size(), 4u);
    EXPECT_EQ(DIZCrashes::sharedInstance()->persistedCrashReports(), expected) << "in listing order";

    fs::remove_all(crashesDirectory());
    EXPECT_TRUE(DIZCrashes::sharedInstance()->persistedCrashReports().empty());
    EXPECT_TRUE(capture_.contains("No persisted crashes found."));
}

TEST_F(DIZCrashesTest, DisablingDeletesEveryCrashFileAndEnablingAgainPurges) {
    leavePendingReport(builder_.fileData());
    const auto crashes = start();
    ASSERT_EQ(storedNames().size(), 1u);
    DIZWrapperExceptionManager::saveWrapperException(DIZWrapperException());
    ASSERT_TRUE(
        DIZUtility::createFileAtPathComponent("crashes/DZCrashes.analyzer", std::nullopt, false, false));
    leavePendingReport(builder_.fileData());
    DIZDudIzizozUserDefaults::shared()->setObject(Value(true), DIZCrashes::kAppDidReceiveMemoryWarningKey);
    const auto source = crashes->memoryPressureSource();
    ASSERT_TRUE(source);

    crashes->setEnabled(false);
    EXPECT_FALSE(fs::exists(crashesDirectory()));
    EXPECT_FALSE(fs::exists(DIZUtility::dudIzizozDirectoryURL() / "crasheswrapperexceptions"));
    EXPECT_FALSE(reporter()->hasPendingCrashReport());
    EXPECT_TRUE(crashes->crashFiles().empty());
    EXPECT_FALSE(
        DIZDudIzizozUserDefaults::shared()->objectForKey(DIZCrashes::kAppDidReceiveMemoryWarningKey));
    EXPECT_TRUE(source->isCancelled());
    EXPECT_FALSE(crashes->memoryPressureSource());
    EXPECT_TRUE(capture_.contains("Cleaning up all crash files."));
    EXPECT_TRUE(capture_.contains("Crashes service has been disabled."));

    // A crash of this disabled period: enabling reads NO until the base stores the new state.
    leavePendingReport(builder_.fileData());
    crashes->setEnabled(true);
    EXPECT_FALSE(reporter()->hasPendingCrashReport());
    EXPECT_TRUE(storedNames().empty()) << "the report of the disabled period is not kept";
    EXPECT_EQ(provider_->configs.size(), 1u) << "one reporter per instance";
    EXPECT_TRUE(capture_.contains("Already configured DZCrashReporter."));
    EXPECT_TRUE(crashes->memoryPressureSource());
}

TEST_F(DIZCrashesTest, AMemoryWarningIsToldOnTheNextStart) {
    start();
    DispatchMemoryPressureSource::deliver(DISPATCH_MEMORYPRESSURE_WARN);
    RunLoop::runUntilIdle();  // the handler runs on the main queue
    EXPECT_EQ(DIZDudIzizozUserDefaults::shared()->objectForKey(DIZCrashes::kAppDidReceiveMemoryWarningKey),
              Value(true));
    EXPECT_FALSE(DIZCrashes::hasReceivedMemoryWarningInLastSession());

    newProcess();
    start();
    EXPECT_TRUE(DIZCrashes::hasReceivedMemoryWarningInLastSession());
    EXPECT_TRUE(capture_.contains("The application received a low memory warning in the last session."));
    EXPECT_FALSE(
        DIZDudIzizozUserDefaults::shared()->objectForKey(DIZCrashes::kAppDidReceiveMemoryWarningKey));
}

TEST_F(DIZCrashesTest, WithADebuggerTheReporterIsMadeButNotEnabled) {
    provider_->debuggerAttached = true;
    const auto crashes = start();
    EXPECT_TRUE(crashes->dzCrashReporter());
    EXPECT_EQ(provider_->enablings, 0);
    const auto* warning =
        capture_.find("Detecting crashes is NOT enabled due to running the app with a debugger attached.");
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->level, DIZLogLevel::Warning);
    EXPECT_TRUE(
        capture_.contains("Crashes service has been enabled but the service cannot detect crashes due to "
                          "running the application with a debugger attached."));
}

// Runs only as a child of the tests below, in the home they name, and answers in its exit code or
// by the way it dies.

}  // namespace

// Nothing may catch it: std::terminate aborts the process, as for any uncaught exception. A C name
// in the exported symbols lets a test find the throw's frame in the report.
extern "C" [[noreturn]] void dizCrashesThrowUncaught() noexcept {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wterminate"
    throw std::runtime_error("boom");
#pragma GCC diagnostic pop
}

namespace {

TEST(DIZCrashesChild, StartsTheClientAndDoesWhatItIsTold) {
    const char* mode = std::getenv(kChildModeVariable);
    if (!mode) GTEST_SKIP() << "runs as a child process only";
    Bundle::setMainBundle(DIZHostBundle());
    if (std::string(mode) == "testCrash")
        DIZCrashes::setCrashReporterProvider(std::make_shared<RecordingProvider>());
    DIZDudIzizoz::start("0b4d7c2e-5a61-4f3e-9d8b-7c1a2e3f4b5c", {&DIZCrashes::classObject()});
    if (std::string(mode) == "testCrash") DIZCrashes::generateTestCrash();
    if (std::string(mode) == "nullPointer") storeThroughNull();
    if (std::string(mode) == "abort") std::abort();
    // gtest would catch it in the test body; nothing catches it here.
    if (std::string(mode) == "throw") dizCrashesThrowUncaught();
    _exit(DIZCrashes::hasCrashedInLastSession() ? kCrashedInLastSession : kNotCrashedInLastSession);
}

class DIZCrashesChildTest : public DIZCrashesTest {
  protected:
    std::optional<int> runChild(const std::string& mode) { return runCrashesChild(home_.path(), mode); }
};

TEST_F(DIZCrashesChildTest, TheTestCrashTrapsOnlyInAStartedService) {
    DIZCrashes::generateTestCrash();
    EXPECT_TRUE(
        capture_.contains("Crashes service hasn't been started. You need to call [DIZDudIzizoz "
                          "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first."));

    const auto status = runChild("testCrash");
    ASSERT_TRUE(status);
    ASSERT_TRUE(WIFSIGNALED(*status)) << "exit code " << WEXITSTATUS(*status);
    EXPECT_TRUE(WTERMSIG(*status) == SIGILL || WTERMSIG(*status) == SIGTRAP) << WTERMSIG(*status);
}

TEST_F(DIZCrashesChildTest, ACrashOfOneRunIsTakenInByTheNext) {
    const auto crashed = runChild("nullPointer");
    ASSERT_TRUE(crashed);
    ASSERT_TRUE(WIFSIGNALED(*crashed)) << "exit code " << WEXITSTATUS(*crashed);
    EXPECT_TRUE(reporter()->hasPendingCrashReport());

    const auto next = runChild("none");
    ASSERT_TRUE(next && WIFEXITED(*next));
    EXPECT_EQ(WEXITSTATUS(*next), kCrashedInLastSession);
    EXPECT_FALSE(reporter()->hasPendingCrashReport());
    ASSERT_EQ(storedNames().size(), 1u);
    Error error;
    EXPECT_TRUE(DZCrashReport::initWithData(contents(crashesDirectory() / storedNames().front()), &error))
        << error.description;
}

}  // namespace
