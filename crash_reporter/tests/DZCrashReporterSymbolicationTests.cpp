#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>

#include <fstream>

#include "crash_reporter/DZCrashReporter.h"
#include "crash_reporter/format/DZCrashReport.h"
#include "crash_reporter/tests/WriterTesting.h"
#include "platform/mach/testing/WorkerThreads.h"
#include "testing/EnvironmentOverride.h"

namespace {

// Whether the thread is blocked in its futex wait now, so two reports find it at one instruction.
bool waitingInFutex(thread_t tid) {
    std::ifstream syscall("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    syscall >> number;
    return number == SYS_futex;
}

std::shared_ptr<DZCrashReportThreadInfo> crashedThread(const DZCrashReport& report) {
    for (const auto& thread : report.threads()) {
        if (thread->crashed()) return thread;
    }
    return nullptr;
}

}  // namespace

// The images of a Linux process carry no Objective-C metadata, so asking for every source names
// frames from the dynamic symbol tables alone and never moves a frame.
TEST(DZCrashReporterSymbolication, AllSourcesNameALiveThreadFromDynamicSymbolsAndKeepItsFrames) {
    PatientSuspensions patience;
    EnvironmentOverride environment;
    const std::filesystem::path home =
        scratchDirectory() / ("symbolication-home-" + std::to_string(getpid()));
    std::filesystem::remove_all(home);
    environment.set("QUORVANE_HOME", home.c_str());
    ParkedThreads parked(1, 5);
    const thread_t worker = parked.ids().front();

    auto reportWith = [&](uint64_t strategy) -> std::shared_ptr<DZCrashReportThreadInfo> {
        auto reporter = DZCrashReporter::initWithApplicationIdentifier(
            "com.example.reporter", "42", "1.0",
            DZCrashReporterConfig::initWithSignalHandlerType(DZCrashReporterSignalHandlerTypeBSD, strategy));
        EXPECT_TRUE(eventually([&] { return waitingInFutex(worker); }));
        auto data = reporter->generateLiveReportWithThread(worker);
        if (!data) return nullptr;
        auto report = DZCrashReport::initWithData(*data);
        return report ? crashedThread(*report) : nullptr;
    };
    const auto plain = reportWith(DZCrashReporterSymbolicationStrategyNone);
    const auto named = reportWith(DZCrashReporterSymbolicationStrategyAll);
    std::filesystem::remove_all(home);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(named, nullptr);

    ASSERT_GE(plain->stackFrames().size(), 7u) << "the wait, the parking function and five levels";
    ASSERT_EQ(named->stackFrames().size(), plain->stackFrames().size());
    size_t symbols = 0;
    for (size_t i = 0; i < plain->stackFrames().size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(named->stackFrames()[i]->instructionPointer(),
                  plain->stackFrames()[i]->instructionPointer());
        EXPECT_EQ(plain->stackFrames()[i]->symbolInfo(), nullptr);
        const auto symbol = named->stackFrames()[i]->symbolInfo();
        if (!symbol) continue;
        ++symbols;
        // The loader's own lookup reads the dynamic symbol tables: at the start address it must find
        // a symbol of that very name.
        Dl_info info{};
        ASSERT_NE(dladdr(reinterpret_cast<void*>(symbol->startAddress()), &info), 0);
        EXPECT_EQ(reinterpret_cast<uint64_t>(info.dli_saddr), symbol->startAddress());
        ASSERT_NE(info.dli_sname, nullptr);
        EXPECT_EQ(symbol->symbolName(), info.dli_sname);
        EXPECT_LE(symbol->startAddress(), named->stackFrames()[i]->instructionPointer());
    }
    EXPECT_GE(symbols, 5u) << "the exported recursion of the test program is named";
}
