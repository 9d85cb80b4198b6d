#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "crash_reporter/DZCrashReporter.h"
#include "crash_reporter/DZCrashSignalHandler.h"
#include "crash_reporter/dzcrash_fatal_signal.h"
#include "crash_reporter/tests/CrashChild.h"
#include "platform/foundation/Exception.h"
#include "testing/DeliberateFault.h"

namespace {

constexpr const char* kChildVariable = "DZCRASH_SIGNAL_CHILD";
// What a child test exits with once everything it checked held: a filter that matched nothing, or a
// child that failed, exits otherwise.
constexpr int kChildPassed = 42;

bool runningAsChild() {
    return std::getenv(kChildVariable) != nullptr;
}

std::shared_ptr<DZCrashReportThreadInfo> onlyCrashedThread(const DZCrashReport& report) {
    std::shared_ptr<DZCrashReportThreadInfo> crashed;
    for (const auto& thread : report.threads()) {
        if (!thread->crashed()) continue;
        if (crashed) return nullptr;
        crashed = thread;
    }
    return crashed;
}

}  // namespace

TEST(DZCrashSignalCapture, EachFatalFaultEndsTheChildByItsSignalAndLeavesADecodableReport) {
    struct Case {
        const char* crash;
        int signal;
        const char* name;
        const char* code;
    } cases[] = {
        {"null", SIGSEGV, "SIGSEGV", "SEGV_MAPERR"}, {"abort", SIGABRT, "SIGABRT", "#0"},
        {"trap", SIGILL, "SIGILL", "ILL_ILLOPN"},    {"divide", SIGFPE, "SIGFPE", "FPE_INTDIV"},
        {"bus", SIGBUS, "SIGBUS", "BUS_ADRERR"},     {"int3", SIGTRAP, "SIGTRAP", "TRAP_BRKPT"},
        {"cxx", SIGABRT, "SIGABRT", "#0"},           {"overflow", SIGSEGV, "SIGSEGV", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.crash);
        CrashChild child(std::string("bsd-") + c.crash);
        EXPECT_TRUE(endedBySignal(child.run("bsd", 4, c.crash), c.signal));
        const Data file = child.reportFile();
        ASSERT_GT(file.size(), 8u);
        EXPECT_EQ(std::string(file.begin(), file.begin() + 7), "dzcrash");
        EXPECT_EQ(file[7], 1);
        Error error;
        auto report = child.report(&error);
        ASSERT_NE(report, nullptr) << error.description;
        EXPECT_EQ(report->signalInfo()->name(), c.name);
        if (c.code) {
            EXPECT_EQ(report->signalInfo()->code(), c.code);
        }
        EXPECT_EQ(report->threads().size(), 5u);
        auto crashed = onlyCrashedThread(*report);
        ASSERT_NE(crashed, nullptr) << "not exactly one crashed thread";
        ASSERT_FALSE(crashed->stackFrames().empty());
        EXPECT_EQ(report->machExceptionInfo(), nullptr);
        // abort() sends the signal: no fault, so no address (the sender's pid would stand there).
        if (c.signal == SIGABRT) {
            EXPECT_EQ(report->signalInfo()->address(), 0u);
        }
        if (std::string(c.crash) == "null") {
            EXPECT_EQ(report->signalInfo()->address(), 0u);
            const auto [start, size] = child.note("crash-function");
            const uint64_t pc = crashed->stackFrames().front()->instructionPointer();
            EXPECT_GE(pc, start);
            EXPECT_LT(pc, start + size);
        }
    }
}

TEST(DZCrashSignalCapture, ALiveReportIsUserRequestedAndACrashIsNot) {
    CrashChild child("user-requested");
    ASSERT_TRUE(endedBySignal(child.run("bsd", 0, "null"), SIGSEGV));
    const Data file = child.reportFile();
    ASSERT_GT(file.size(), 8u);
    // report_info comes first: its key, its length, then user_requested (field 1) as 0.
    EXPECT_EQ(file[8], 9 << 3 | 2);
    EXPECT_EQ(file[10], 1 << 3);
    EXPECT_EQ(file[11], 0);
}

TEST(DZCrashSignalCapture, ThePostCrashCallbackRunsOnlyAfterAWrittenReport) {
    struct Case {
        const char* what;
        bool blockReport;
    } cases[] = {{"written", false}, {"blocked by a directory", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CrashChild child(c.blockReport ? "blocked" : "written");
        const std::string marker = (child.base() / "marker").string();
        // As root nothing is refused for its permissions; a directory where the file should be is.
        if (c.blockReport) std::filesystem::create_directories(child.reportPath());
        EXPECT_TRUE(endedBySignal(child.run("bsd", 0, "null", marker), SIGSEGV));
        EXPECT_EQ(std::filesystem::exists(marker), !c.blockReport);
        EXPECT_EQ(std::filesystem::is_regular_file(child.reportPath()), !c.blockReport);
    }
}

TEST(DZCrashSignalCapture, AnUncaughtExceptionIsWrittenWithItsReasonAndReturnAddresses) {
    CrashChild child("exception");
    EXPECT_TRUE(endedBySignal(child.run("bsd", 0, "exception"), SIGABRT));
    auto report = child.report();
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->signalInfo()->name(), "SIGABRT");
    ASSERT_TRUE(report->hasExceptionInfo());
    EXPECT_EQ(report->exceptionInfo()->exceptionName(), "NSGenericException");
    EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "");
    ASSERT_TRUE(report->exceptionInfo()->stackFrames().has_value());
    std::vector<uint64_t> pcs;
    for (const auto& frame : *report->exceptionInfo()->stackFrames())
        pcs.push_back(frame->instructionPointer());
    EXPECT_EQ(pcs, (std::vector<uint64_t>{0x1111, 0x2222, 0x3333}));
}

TEST(DZCrashSignalCapture, TwoThreadsWithUncaughtExceptionsAtOnceGiveOneReport) {
    CrashChild child("exception-race");
    EXPECT_TRUE(endedBySignal(child.run("bsd", 0, "exception-race"), SIGABRT));
    auto report = child.report();
    ASSERT_NE(report, nullptr);
    ASSERT_TRUE(report->hasExceptionInfo());
    const std::string name = report->exceptionInfo()->exceptionName();
    EXPECT_TRUE(name == "First" || name == "Second") << name;
    EXPECT_EQ(report->exceptionInfo()->stackFrames()->size(), 2u);
}

// ---- Registration, each in a child of its own: handlers stay for the life of a process ----

namespace {

std::atomic<int> previousCalls{0};
std::atomic<int> previousSignal{0};
std::atomic<uintptr_t> previousAddress{1};
std::atomic<bool> chainAnswer{false};

void previousWithInfo(int signal, siginfo_t* info, void* uap) {
    if (signal == SIGSEGV && info && info->si_signo == SIGSEGV && info->si_addr == nullptr && uap) {
        _exit(kChildPassed);
    }
    _exit(1);
}

void previousPlain(int signal) {
    ++previousCalls;
    previousSignal.store(signal);
}

bool passDownTheChain(int signal, siginfo_t* info, ucontext_t* uap, void*,
                      dzcrash_signal_handler_callback* next) {
    chainAnswer.store(dzcrash_signal_handler_next(next, signal, info, uap));
    return chainAnswer.load();
}

void install(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

}  // namespace

TEST(DZCrashSignalHandlerChild, RegisteringTwiceInstallsTheEntryOnceOverTheFirstPreviousAction) {
    if (!runningAsChild()) GTEST_SKIP() << "runs as a child process only";
    struct sigaction before {};
    before.sa_sigaction = previousWithInfo;
    before.sa_flags = SA_SIGINFO;
    sigemptyset(&before.sa_mask);
    ASSERT_EQ(sigaction(SIGSEGV, &before, nullptr), 0);
    auto handler = DZCrashSignalHandler::sharedHandler();
    ASSERT_NE(handler, nullptr);
    ASSERT_TRUE(handler->registerHandlerWithSignal(SIGSEGV));
    ASSERT_TRUE(handler->registerHandlerWithSignal(SIGSEGV));

    struct sigaction current {};
    sigaction(SIGSEGV, nullptr, &current);
    EXPECT_EQ(current.sa_sigaction, &dzcrash_signal_entry);
    EXPECT_EQ(current.sa_flags & (SA_ONSTACK | SA_SIGINFO), SA_ONSTACK | SA_SIGINFO);
    stack_t alternate{};
    sigaltstack(nullptr, &alternate);
    EXPECT_EQ(alternate.ss_size, 65536u);
    if (testing::Test::HasFailure()) _exit(1);
    // Had the second registration recorded the entry itself as the previous action, the chain would
    // call itself until the stack ran out; the handler from before exits the child instead.
    storeThroughNull();
}

TEST(DZCrashSignalHandlerChild, AnIgnoredSignalPassedDownTheChainIsHandledAndNotRaisedAgain) {
    if (!runningAsChild()) GTEST_SKIP() << "runs as a child process only";
    install(SIGUSR1, SIG_IGN);
    install(SIGUSR2, previousPlain);
    auto handler = DZCrashSignalHandler::sharedHandler();
    ASSERT_TRUE(handler->registerHandlerForSignal(SIGUSR1, passDownTheChain, nullptr));
    ASSERT_TRUE(raise(SIGUSR1) == 0);
    EXPECT_TRUE(chainAnswer.load());
    // A plain previous handler gets the signal's number, and the signal counts as handled.
    ASSERT_TRUE(handler->registerHandlerWithSignal(SIGUSR2));
    ASSERT_TRUE(raise(SIGUSR2) == 0);
    EXPECT_EQ(previousCalls.load(), 1);
    EXPECT_EQ(previousSignal.load(), SIGUSR2);
    _exit(testing::Test::HasFailure() ? 1 : kChildPassed);
}

TEST(DZCrashSignalHandlerChild, ThePassThroughAloneOverTheDefaultActionRaisesTheSignalAgain) {
    if (!runningAsChild()) GTEST_SKIP() << "runs as a child process only";
    install(SIGUSR1, SIG_DFL);
    ASSERT_TRUE(DZCrashSignalHandler::sharedHandler()->registerHandlerWithSignal(SIGUSR1));
    raise(SIGUSR1);
    _exit(1);
}

TEST(DZCrashSignalHandlerChild, ASignalThatCannotBeCaughtFailsItsRegistration) {
    if (!runningAsChild()) GTEST_SKIP() << "runs as a child process only";
    Error error;
    EXPECT_FALSE(DZCrashSignalHandler::sharedHandler()->registerHandlerWithSignal(SIGKILL, &error));
    EXPECT_EQ(error.domain, DZCrashReporterErrorDomain);
    EXPECT_EQ(error.code, DZCrashReporterErrorOperatingSystem);
    EXPECT_EQ(error.description, "Failed to register signal handler");
    _exit(testing::Test::HasFailure() ? 1 : kChildPassed);
}

TEST(DZCrashSignalHandler, RegistrationsBehaveAsTheirChildrenShow) {
    struct Case {
        const char* test;
        int exitCode;  // or 0 when the child must end by `signal`
        int signal;
    } cases[] = {
        {"RegisteringTwiceInstallsTheEntryOnceOverTheFirstPreviousAction", kChildPassed, 0},
        {"AnIgnoredSignalPassedDownTheChainIsHandledAndNotRaisedAgain", kChildPassed, 0},
        {"ThePassThroughAloneOverTheDefaultActionRaisesTheSignalAgain", 0, SIGUSR1},
        {"ASignalThatCannotBeCaughtFailsItsRegistration", kChildPassed, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.test);
        const auto status = waitForChild(
            spawnThisTestBinary(std::string("DZCrashSignalHandlerChild.") + c.test,
                                {.environment = {std::string(kChildVariable) + "=1"}, .quiet = true}));
        if (c.signal) {
            EXPECT_TRUE(endedBySignal(status, c.signal));
        } else {
            EXPECT_TRUE(exitedWith(status, c.exitCode));
        }
    }
}

// ---- Enabling ----

TEST(DZCrashReporterEnableChild, EnablesOnceWithItsDirectoriesAndThenRefuses) {
    if (!runningAsChild()) GTEST_SKIP() << "runs as a child process only";
    const std::filesystem::path base = std::getenv(kChildVariable);
    auto config = DZCrashReporterConfig::initWithSignalHandlerType(0, 0, true, base.string());
    auto first = DZCrashReporter::initWithApplicationIdentifier("a/b", "1", std::nullopt, config);
    auto second = DZCrashReporter::initWithApplicationIdentifier("c", "1", std::nullopt, config);
    Error error;
    ASSERT_TRUE(first->enableCrashReporterAndReturnError(&error)) << error.description;
    EXPECT_EQ(std::filesystem::path(first->crashReportDirectory()).filename(), "a_b");
    struct stat status {};
    ASSERT_EQ(stat(first->queuedCrashReportDirectory().c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0755u);

    struct sigaction current {};
    for (int signal : kDZCrashFatalSignals) {
        sigaction(signal, nullptr, &current);
        EXPECT_EQ(current.sa_sigaction, &dzcrash_signal_entry) << signal;
    }
    EXPECT_EQ(NSGetUncaughtExceptionHandler(), &dzcrash_uncaught_nsexception_handler);

    for (const auto& reporter : {second, first}) {
        Error again;
        EXPECT_FALSE(reporter->enableCrashReporter(&again));
        EXPECT_EQ(again.domain, DZCrashReporterErrorDomain);
        EXPECT_EQ(again.code, DZCrashReporterErrorResourceBusy);
        EXPECT_EQ(again.description, "A DZCrashReporter instance has already been enabled");
    }
    const DZCrashReporterCallbacks callbacks{0, nullptr, nullptr};
    try {
        first->setCrashCallbacks(&callbacks);
        ADD_FAILURE() << "callbacks set after enabling";
    } catch (const Exception& exception) {
        EXPECT_EQ(exception.name(), DZCrashReporterException);
        EXPECT_EQ(exception.reason(), "The crash reporter has already been enabled");
    }

    std::ofstream(first->crashReportPath()) << "report";
    EXPECT_TRUE(first->hasPendingCrashReport());
    EXPECT_TRUE(first->purgePendingCrashReport());
    EXPECT_FALSE(first->hasPendingCrashReport());
    _exit(testing::Test::HasFailure() ? 1 : kChildPassed);
}

TEST(DZCrashReporterEnable, EnablesOnceWithItsDirectoriesAndThenRefuses) {
    CrashChild directory("enable");
    const auto status = waitForChild(spawnThisTestBinary(
        "DZCrashReporterEnableChild.EnablesOnceWithItsDirectoriesAndThenRefuses",
        {.environment = {std::string(kChildVariable) + "=" + directory.base().string()}, .quiet = true}));
    EXPECT_TRUE(exitedWith(status, kChildPassed));
}

TEST(DZCrashReporterEnable, CallbacksOfAnotherVersionAreFatal) {
    auto reporter = DZCrashReporter::initWithApplicationIdentifier("v", "1", std::nullopt, nullptr);
    const DZCrashReporterCallbacks callbacks{1, nullptr, nullptr};
    EXPECT_DEATH(reporter->setCrashCallbacks(&callbacks), "callbacks->version == 0");
}
