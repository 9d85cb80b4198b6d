#include <dlfcn.h>
#include <gtest/gtest.h>

#include <mutex>

#include "crash_reporter/DZCrashReporter.h"
#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/dzcrash.pb-c.h"
#include "crash_reporter/format/DZCrashReport.h"
#include "crash_reporter/format/dzcrash_report_file.h"
#include "crash_reporter/tests/WriterTesting.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/SystemLog.h"
#include "platform/mach/testing/WorkerThreads.h"
#include "testing/EnvironmentOverride.h"

// Exported, so that dladdr names the function a live report's address lies in.
[[gnu::noinline]] std::optional<Data> liveReportOfTheCallingThread(DZCrashReporter& reporter) {
    auto data = reporter.generateLiveReportWithThread(dzcrash_thread_self());
    asm volatile("" ::: "memory");
    return data;
}

namespace {

class CrashReporterTest : public testing::Test {
  protected:
    void SetUp() override {
        home_ = scratchDirectory() / ("reporter-home-" + std::to_string(getpid()));
        std::filesystem::remove_all(home_);
        environment_.set("QUORVANE_HOME", home_.c_str());
    }
    void TearDown() override { std::filesystem::remove_all(home_); }

    std::shared_ptr<DZCrashReporter> reporter(std::optional<std::string> marketingVersion = "1.0",
                                              std::string identifier = "com.example.reporter") {
        return DZCrashReporter::initWithApplicationIdentifier(identifier, "42", std::move(marketingVersion),
                                                              DZCrashReporterConfig::defaultConfiguration());
    }

    size_t liveReportFilesLeft() const {
        size_t count = 0;
        std::error_code code;
        for (const auto& entry : std::filesystem::directory_iterator(home_ / "tmp", code)) {
            if (entry.path().filename().string().starts_with("live_crash_report.")) ++count;
        }
        return count;
    }

    static std::shared_ptr<DZCrashReportThreadInfo> crashedThread(const DZCrashReport& report) {
        for (const auto& thread : report.threads()) {
            if (thread->crashed()) return thread;
        }
        return nullptr;
    }

    static bool userRequested(const Data& file) {
        Dzcrash__CrashReport* message = dzcrash__crash_report__unpack(
            nullptr, file.size() - kDZCrashReportFileHeaderSize, file.data() + kDZCrashReportFileHeaderSize);
        const bool requested = message && message->report_info && message->report_info->user_requested;
        if (message) dzcrash__crash_report__free_unpacked(message, nullptr);
        return requested;
    }

    PatientSuspensions patience_;
    EnvironmentOverride environment_;
    std::filesystem::path home_;
};

TEST_F(CrashReporterTest, ALiveReportOfTheCallingThreadShowsTheWholeProcess) {
    auto subject = reporter();
    ParkedThreads parked(3, 5);
    const size_t threads = processThreadCount();
    auto data = liveReportOfTheCallingThread(*subject);
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(std::string(data->begin(), data->begin() + 8), std::string("dzcrash\x01", 8));
    EXPECT_TRUE(userRequested(*data));
    Error error;
    auto report = DZCrashReport::initWithData(*data, &error);
    ASSERT_NE(report, nullptr) << error.description;

    EXPECT_EQ(report->signalInfo()->name(), "SIGTRAP");
    EXPECT_EQ(report->signalInfo()->code(), "TRAP_TRACE");
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(report->signalInfo()->address()), &info), 0);
    EXPECT_EQ(info.dli_saddr, reinterpret_cast<void*>(&liveReportOfTheCallingThread));

    EXPECT_EQ(report->threads().size(), threads);
    size_t crashedCount = 0;
    for (const auto& thread : report->threads()) crashedCount += thread->crashed() ? 1 : 0;
    EXPECT_EQ(crashedCount, 1u);
    auto crashed = crashedThread(*report);
    ASSERT_NE(crashed, nullptr);
    ASSERT_EQ(crashed->registers().size(), 21u);
    EXPECT_EQ(crashed->registers().front()->registerName(), "rip");
    EXPECT_EQ(crashed->registers().back()->registerName(), "gs");
    EXPECT_GE(crashed->stackFrames().size(), 2u);

    bool executable = false, libc = false;
    for (const auto& image : report->images()) {
        executable |= image->imageName() == std::filesystem::read_symlink("/proc/self/exe").string();
        libc |= image->imageName().find("libc.so") != std::string::npos;
    }
    EXPECT_TRUE(executable);
    EXPECT_TRUE(libc);
    ASSERT_TRUE(report->uuidRef().has_value());
    EXPECT_EQ(report->applicationInfo()->applicationMarketingVersion(), std::optional<std::string>("1.0"));
    EXPECT_EQ(liveReportFilesLeft(), 0u);
}

TEST_F(CrashReporterTest, ALiveReportOfAnotherThreadLeavesTheCallerOut) {
    auto subject = reporter();
    ParkedThreads parked(2, 5);
    const thread_t named = parked.ids().front();
    const size_t threads = processThreadCount();
    auto data = subject->generateLiveReportWithThread(named);
    ASSERT_TRUE(data.has_value());
    auto report = DZCrashReport::initWithData(*data);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->threads().size(), threads - 1);
    auto crashed = crashedThread(*report);
    ASSERT_NE(crashed, nullptr);
    EXPECT_EQ(crashed->registers().size(), 21u);
    EXPECT_GE(crashed->stackFrames().size(), 2u);
}

TEST_F(CrashReporterTest, LiveReportsCarryTheApplicationCustomDataAndAFreshUUID) {
    auto subject = reporter(std::nullopt);
    const Data custom{0x00, 0x01, 0xfe, 0xff};
    subject->setCustomData(custom);
    EXPECT_EQ(subject->customData(), custom);
    auto first = DZCrashReport::initWithData(subject->generateLiveReport().value_or(Data{}));
    auto second = DZCrashReport::initWithData(subject->generateLiveReport().value_or(Data{}));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->customData(), custom);
    EXPECT_EQ(first->applicationInfo()->applicationIdentifier(), "com.example.reporter");
    EXPECT_EQ(first->applicationInfo()->applicationVersion(), "42");
    EXPECT_EQ(first->applicationInfo()->applicationMarketingVersion(), std::optional<std::string>(""));
    EXPECT_NE(first->uuidRef(), second->uuidRef());
}

TEST_F(CrashReporterTest, TheReportDirectoryLiesBelowTheBaseWithSlashesReplaced) {
    auto inCaches = reporter("1.0", "a/b");
    const std::string expected =
        (FileLocations::cachesDirectory() / "com.quorvane.crash-reporter" / "a_b").string();
    EXPECT_EQ(inCaches->crashReportDirectory(), expected);
    EXPECT_TRUE(inCaches->crashReportDirectory().starts_with(home_.string()));
    EXPECT_EQ(inCaches->crashReportPath(), expected + "/live_report.dzcrash");
    EXPECT_EQ(inCaches->queuedCrashReportDirectory(), expected + "/queued_reports");

    auto elsewhere = DZCrashReporter::initWithApplicationIdentifier(
        "x", "1", std::nullopt, DZCrashReporterConfig::initWithBasePath((home_ / "base").string()));
    EXPECT_EQ(elsewhere->crashReportDirectory(),
              (home_ / "base" / "com.quorvane.crash-reporter" / "x").string());
}

TEST_F(CrashReporterTest, APendingReportIsFoundLoadedAndPurged) {
    auto subject = reporter();
    EXPECT_FALSE(subject->hasPendingCrashReport());
    Error error;
    EXPECT_FALSE(subject->loadPendingCrashReportData(&error).has_value());
    EXPECT_EQ(error.domain, DZCrashReporterErrorDomain);
    EXPECT_FALSE(subject->purgePendingCrashReport());

    ASSERT_TRUE(subject->populateCrashReportDirectory());
    EXPECT_TRUE(std::filesystem::is_directory(subject->queuedCrashReportDirectory()));
    const Data bytes{'d', 'z', 'c', 0, 1, 2};
    ASSERT_TRUE(FileLocations::writeFileAtomically(subject->crashReportPath(), bytes));
    EXPECT_TRUE(subject->hasPendingCrashReport());
    EXPECT_EQ(subject->loadPendingCrashReportData(), bytes);
    EXPECT_TRUE(subject->purgePendingCrashReport());
    EXPECT_FALSE(subject->hasPendingCrashReport());
}

TEST_F(CrashReporterTest, TheBundleNamesTheApplicationOrTheProcessNameStandsIn) {
    std::vector<std::string> lines;
    std::mutex mutex;
    SystemLogCapture capture([&](SystemLogLevel, const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    });
    auto config = DZCrashReporterConfig::defaultConfiguration();

    auto bundled = DZCrashReporter::initWithBundle(
        std::make_shared<Bundle>(Dictionary{{"CFBundleIdentifier", Value("com.example.bundle")},
                                            {"CFBundleVersion", Value("9")},
                                            {"CFBundleShortVersionString", Value("2.1")}}),
        config);
    EXPECT_EQ(bundled->applicationIdentifier(), "com.example.bundle");
    EXPECT_EQ(bundled->applicationVersion(), "9");
    EXPECT_EQ(bundled->applicationMarketingVersion(), std::optional<std::string>("2.1"));
    EXPECT_TRUE(lines.empty());

    ProcessInfo::setArguments({"/usr/bin/some-tool"});
    auto unnamed = DZCrashReporter::initWithBundle(std::make_shared<Bundle>(Dictionary{}), config);
    EXPECT_EQ(unnamed->applicationIdentifier(), "some-tool");
    EXPECT_EQ(unnamed->applicationVersion(), "");
    EXPECT_EQ(unnamed->applicationMarketingVersion(), std::nullopt);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "[DZCrashReporter] Warning -- bundle identifier, using process name some-tool",
                         "[DZCrashReporter] Warning -- bundle version unavailable"}));

    ProcessInfo::setArguments({});
    try {
        DZCrashReporter::initWithBundle(std::make_shared<Bundle>(Dictionary{}), config);
        ADD_FAILURE() << "no identifier and no process name must raise";
    } catch (const Exception& exception) {
        EXPECT_EQ(exception.name(), DZCrashReporterException);
        EXPECT_EQ(exception.reason(), "Can not determine process identifier or process name");
    }
    ProcessInfo::resetArguments();
}

TEST(CrashReporterConfig, InitialisersFillInTheDefaults) {
    struct Case {
        const char* name;
        std::shared_ptr<DZCrashReporterConfig> config;
        uint64_t type, strategy;
        bool handler;
        std::optional<std::string> base;
    } cases[] = {
        {"default", DZCrashReporterConfig::defaultConfiguration(), 0, 0, true, std::nullopt},
        {"base", DZCrashReporterConfig::initWithBasePath("/b"), 0, 0, true, "/b"},
        {"type", DZCrashReporterConfig::initWithSignalHandlerType(1, 3), 1, 3, true, std::nullopt},
        {"type+base", DZCrashReporterConfig::initWithSignalHandlerTypeBasePath(1, 1, "/c"), 1, 1, true, "/c"},
        {"type+handler",
         DZCrashReporterConfig::initWithSignalHandlerTypeUncaughtExceptionHandler(0, 2, false), 0, 2, false,
         std::nullopt},
        {"all", DZCrashReporterConfig::initWithSignalHandlerType(1, 3, false, "/d"), 1, 3, false, "/d"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.config->signalHandlerType(), c.type) << c.name;
        EXPECT_EQ(c.config->symbolicationStrategy(), c.strategy) << c.name;
        EXPECT_EQ(c.config->shouldRegisterUncaughtExceptionHandler(), c.handler) << c.name;
        EXPECT_EQ(c.config->basePath(), c.base) << c.name;
    }
    auto reporter = DZCrashReporter::initWithApplicationIdentifier("a", "1", std::nullopt, nullptr);
    EXPECT_EQ(reporter->mapToAsyncSymbolicationStrategy(0xff), 3u);
}

}  // namespace
