#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>

#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/dzcrash_log_writer.h"
#include "crash_reporter/format/DZCrashReport.h"
#include "crash_reporter/tests/WriterTesting.h"
#include "platform/mach/testing/MachTesting.h"
#include "platform/mach/testing/WorkerThreads.h"

namespace {

const dzcrash_log_writer_signal kSegv{{11, 1, true}, 0x10, nullptr};

class LogWriter : public testing::Test {
  protected:
    void SetUp() override { setUp(DZCRASH_SYMBOL_STRATEGY_SYMBOL_TABLE); }
    void setUp(uint32_t strategy) {
        dzcrash_log_writer_release(&writer_);
        ASSERT_EQ(dzcrash_log_writer_init(&writer_, "com.example.writer", "7", nullptr, strategy, false),
                  DZCRASH_ESUCCESS);
    }
    void TearDown() override { dzcrash_log_writer_release(&writer_); }

    // The report of the calling thread as crashed thread, written to a file and decoded.
    std::shared_ptr<DZCrashReport> writeReport(const dzcrash_log_writer_signal& signal = kSegv,
                                               Error* error = nullptr) {
        withCurrentState([&](const dzcrash_async_thread_state* state) {
            result_ = dzcrash_write_report_file(&writer_, report_.path().c_str(), dzcrash_shared_image_list(),
                                                dzcrash_thread_self(), state, &signal);
        });
        EXPECT_EQ(result_, DZCRASH_ESUCCESS);
        return DZCrashReport::initWithData(report_.contents(), error);
    }

    static std::shared_ptr<DZCrashReportThreadInfo> crashedThread(const DZCrashReport& report) {
        for (const auto& thread : report.threads()) {
            if (thread->crashed()) return thread;
        }
        return nullptr;
    }

    PatientSuspensions patience_;
    dzcrash_log_writer_state writer_{};
    ScratchReport report_;
    dzcrash_error_t result_ = DZCRASH_EUNKNOWN;
};

TEST_F(LogWriter, SignalsAndCodesAreNamedFromTheTablesOrByNumber) {
    struct Case {
        dzcrash_log_writer_signal signal;
        const char* name;
        const char* code;
    } cases[] = {
        {{{5, 2, true}, 0, nullptr}, "SIGTRAP", "TRAP_TRACE"},
        {{{11, 1, true}, 0, nullptr}, "SIGSEGV", "SEGV_MAPERR"},
        {{{40, 9, false}, 0, nullptr}, "#40", "#9"},
        // A host signal without a report number is never written under the report's signal 11.
        {{{11, 1, false}, 0, nullptr}, "#11", "#1"},
        {{{11, 77, true}, 0, nullptr}, "SIGSEGV", "#77"},
        {{{6, -3, true}, 0, nullptr}, "SIGABRT", "#-3"},
    };
    for (const Case& c : cases) {
        auto report = writeReport(c.signal);
        ASSERT_NE(report, nullptr) << c.name;
        EXPECT_EQ(report->signalInfo()->name(), c.name);
        EXPECT_EQ(report->signalInfo()->code(), c.code);
    }
}

TEST_F(LogWriter, AReportCarriesTheSetUpFactsAndOneCrashedThreadWithRegistersFirst) {
    const int64_t codes[] = {1, -2};
    const dzcrash_log_writer_mach_exception mach{1, codes, 2};
    const dzcrash_log_writer_signal signal{{10, 2, true}, 0xdead, &mach};
    auto report = writeReport(signal);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->applicationInfo()->applicationIdentifier(), "com.example.writer");
    EXPECT_EQ(report->applicationInfo()->applicationVersion(), "7");
    EXPECT_EQ(report->applicationInfo()->applicationMarketingVersion(), std::optional<std::string>(""));
    EXPECT_EQ(report->processInfo()->processID(), getpid());
    EXPECT_EQ(report->processInfo()->processPath(), std::filesystem::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(report->signalInfo()->address(), 0xdeadu);
    ASSERT_NE(report->machExceptionInfo(), nullptr);
    EXPECT_EQ(report->machExceptionInfo()->codes(), (std::vector<uint64_t>{1, static_cast<uint64_t>(-2)}));
    ASSERT_TRUE(report->uuidRef().has_value());
    auto crashed = crashedThread(*report);
    ASSERT_NE(crashed, nullptr);
    EXPECT_EQ(crashed->registers().size(), 21u);
    EXPECT_EQ(crashed->registers().front()->registerName(), "rip");
    EXPECT_EQ(crashed->registers().back()->registerName(), "gs");
    EXPECT_GE(crashed->stackFrames().size(), 2u);
    EXPECT_EQ(crashed->stackFrames().front()->instructionPointer(),
              crashed->registers().front()->registerValue());
    EXPECT_FALSE(report->hasExceptionInfo());
    EXPECT_FALSE(report->customData().has_value());
}

TEST_F(LogWriter, CustomDataStoredAfterSetUpComesBackByteForByte) {
    const uint8_t bytes[] = {0x00, 0xff, 0x10, 0x00, 0x7f};
    dzcrash_log_writer_store_custom_data(&writer_, bytes, sizeof(bytes));
    auto report = writeReport();
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->customData(), Data(bytes, bytes + sizeof(bytes)));
}

TEST_F(LogWriter, ADeepStackIsCutAt512Frames) {
    // Symbols would only make the walk slower here.
    setUp(0);
    std::shared_ptr<DZCrashReport> report;
    recurseThen(600, [&] {
        report = writeReport();
        return 0;
    });
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(crashedThread(*report)->stackFrames().size(), kDZCrashLogWriterMaxFrames);
}

TEST_F(LogWriter, AnExceptionKeepsAtMost512ReturnAddressesInOrder) {
    std::vector<uint64_t> addresses;
    for (uint64_t i = 0; i < 600; ++i) addresses.push_back(0x1000 + i);
    dzcrash_log_writer_set_exception(&writer_, ExceptionRecord("NSGenericException", "", {}, addresses));
    auto report = writeReport();
    ASSERT_NE(report, nullptr);
    ASSERT_TRUE(report->hasExceptionInfo());
    EXPECT_EQ(report->exceptionInfo()->exceptionName(), "NSGenericException");
    EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "");
    const auto& frames = *report->exceptionInfo()->stackFrames();
    ASSERT_EQ(frames.size(), kDZCrashLogWriterMaxFrames);
    EXPECT_EQ(frames.front()->instructionPointer(), 0x1000u);
    EXPECT_EQ(frames.back()->instructionPointer(), 0x1000u + 511);
}

TEST_F(LogWriter, ASecondExceptionIsFatal) {
    dzcrash_log_writer_set_exception(&writer_, ExceptionRecord("First", "reason"));
    EXPECT_DEATH(dzcrash_log_writer_set_exception(&writer_, ExceptionRecord("Second", "reason")),
                 "has_exception == false");
}

TEST_F(LogWriter, ManyDeepThreadsStayWithinTheLimitAndStillDecode) {
    // Without symbols each frame takes about ten bytes: 64 threads of 500 frames need far more room
    // than the file has.
    setUp(0);
    ParkedThreads parked(64, 500);
    std::vector<uint64_t> addresses(600, reinterpret_cast<uint64_t>(&recurseThen));
    dzcrash_log_writer_set_exception(&writer_, ExceptionRecord("Big", "stack", {}, addresses));
    Error error;
    auto report = writeReport(kSegv, &error);
    ASSERT_NE(report, nullptr) << error.description;
    EXPECT_LE(report_.contents().size(), kDZCrashReportFileLimit);
    auto crashed = crashedThread(*report);
    ASSERT_NE(crashed, nullptr);
    EXPECT_GE(crashed->stackFrames().size(), 2u);
    EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
    EXPECT_GT(report->images().size(), 1u);
    EXPECT_TRUE(report->hasExceptionInfo());
    // Not every thread fitted, and those that did are numbered as written.
    EXPECT_LT(report->threads().size(), 64u);
    for (size_t i = 0; i < report->threads().size(); ++i) {
        EXPECT_EQ(report->threads()[i]->threadNumber(), static_cast<int64_t>(i));
    }
}

TEST_F(LogWriter, AnUnreadableThreadListStillGivesTheCrashedThread) {
    MachTesting::setTaskThreadsFailing(true);
    auto report = writeReport();
    MachTesting::setTaskThreadsFailing(false);
    ASSERT_NE(report, nullptr);
    ASSERT_EQ(report->threads().size(), 1u);
    EXPECT_TRUE(report->threads()[0]->crashed());
    EXPECT_GE(report->threads()[0]->stackFrames().size(), 2u);
}

TEST_F(LogWriter, AnUnopenableFileIsAnOutputError) {
    const std::string path = (scratchDirectory() / "no-such-directory" / "report").string();
    EXPECT_EQ(dzcrash_write_report_file(&writer_, path.c_str(), dzcrash_shared_image_list(),
                                        dzcrash_thread_self(), nullptr, &kSegv),
              DZCRASH_EINTERNAL);
}

}  // namespace
