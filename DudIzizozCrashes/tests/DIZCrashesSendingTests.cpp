#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"
#include "DudIzizoz/Internals/Context/DIZSessionContext.h"
#include "DudIzizoz/Internals/Context/DIZUserIdContext.h"
#include "DudIzizoz/Internals/Storage/DIZLogDBStorage.h"
#include "DudIzizoz/Internals/Storage/tests/SQLiteTestSupport.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "DudIzizozCrashes/DIZWrapperCrashesHelper.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesUtil.h"
#include "DudIzizozCrashes/Internals/Util/DIZWrapperExceptionManager.h"
#include "DudIzizozCrashes/Model/DIZErrorAttachmentLog.h"
#include "DudIzizozCrashes/tests/DIZCrashesTesting.h"
#include "crash_reporter/format/testing/CrashReportBuilder.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/network/Reachability_simulated.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "testing/Eventually.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSecret = "0b4d7c2e-5a61-4f3e-9d8b-7c1a2e3f4b5c";
// The builder's reports crash at 2023-11-14 22:13:20 UTC.
constexpr double kCrashTime = 1700000000;

// The ways a child process crashes, and what its crash log then says.
struct CrashKind {
    const char* mode;
    int signal;
    const char* type;
    const char* code;     // for a fault only
    const char* address;  // for a fault only
};
constexpr CrashKind kCrashKinds[] = {{"nullPointer", SIGSEGV, "SIGSEGV", "SEGV_MAPERR", "0x0"},
                                     {"abort", SIGABRT, "SIGABRT", nullptr, nullptr},
                                     {"throw", SIGABRT, "SIGABRT", nullptr, nullptr}};

void expectCrashLogOf(const CrashKind& kind, const Value& log) {
    EXPECT_EQ(log["fatal"], Value(true));
    EXPECT_EQ(log["osExceptionType"], Value(kind.type));
    if (kind.code) {
        EXPECT_EQ(log["osExceptionCode"], Value(kind.code));
        EXPECT_EQ(log["osExceptionAddress"], Value(kind.address));
    }
    // Only the uncaught C++ exception names one.
    const bool threw = std::string(kind.mode) == "throw";
    EXPECT_EQ(log["exceptionType"], threw ? Value("std::runtime_error") : Value());
    EXPECT_EQ(log["exceptionReason"], threw ? Value("boom") : Value());
    EXPECT_TRUE(log["binaries"].asArray() && !log["binaries"].asArray()->empty());
    const auto* threads = log["threads"].asArray();
    ASSERT_TRUE(threads && !threads->empty() && log["errorThreadId"].asInteger());
    EXPECT_TRUE(std::any_of(threads->begin(), threads->end(), [&](const Value& thread) {
        return thread["id"] == log["errorThreadId"];
    })) << "the crashed thread is one of the threads";
}

fs::path wrapperExceptionsDirectory() {
    return DIZUtility::dudIzizozDirectoryURL() / DIZCrashesUtil::wrapperExceptionsDir();
}

// Answers what the test sets and records what it is told, and on which thread.
class RecordingDelegate : public DIZCrashesDelegate {
  public:
    bool crashesShouldProcessErrorReport(DIZCrashes&, const DIZErrorReport& report) override {
        pairedAtFilter =
            fs::exists(wrapperExceptionsDirectory() / report.incidentIdentifier().value_or("none"));
        return process;
    }
    std::optional<std::vector<std::shared_ptr<DIZErrorAttachmentLog>>> attachmentsWithCrashes(
        DIZCrashes&, const DIZErrorReport&) override {
        return attachments;
    }
    void crashesWillSendErrorReport(DIZCrashes&, const DIZErrorReport& report) override {
        record("willSend " + report.incidentIdentifier().value_or(""));
    }
    void crashesDidSucceedSendingErrorReport(DIZCrashes&, const DIZErrorReport& report) override {
        record("didSucceed " + report.incidentIdentifier().value_or(""));
    }
    void record(const std::string& call) {
        std::lock_guard guard(mutex);
        calls.push_back(call + (DispatchQueue::isMainThread() ? " on main" : " elsewhere"));
    }
    std::vector<std::string> told() {
        std::lock_guard guard(mutex);
        return calls;
    }

    bool process = true;
    bool pairedAtFilter = false;  // the report's wrapper exception was on disk when it was filtered
    std::optional<std::vector<std::shared_ptr<DIZErrorAttachmentLog>>> attachments;
    std::mutex mutex;
    std::vector<std::string> calls;
};

class DIZCrashesSendingTest : public ::testing::Test {
  protected:
    DIZCrashesSendingTest() {
        DIZCrashesUtil::resetDirectory();
        DIZCrashes::resetSharedInstance();
        DIZCrashes::setCrashReporterProvider(std::make_shared<RecordingProvider>());
        DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
        DIZDudIzizoz::setLogUrl(server_.url());
    }
    ~DIZCrashesSendingTest() override {
        settle();
        DIZCrashes::setCrashReporterProvider(nullptr);
        DIZCrashes::resetSharedInstance();
        resetAllForTesting();
        RunLoop::runUntilIdle();
        DIZCrashesUtil::resetDirectory();
    }
    static void settle() { ASSERT_TRUE(BackgroundActivity::waitUntilSettled(20)); }

    // A stored report of the previous run; `address` makes each one a crash of its own.
    void storeReport(const std::string& name, uint64_t address) {
        builder_.report().signal->address = address;
        builder_.report().report_info->has_uuid = false;
        ASSERT_TRUE(
            DIZUtility::createFileAtPathComponent("crashes/" + name, builder_.fileData(), true, true));
    }
    // The run that crashed leaves its session and user (and its device) in the histories; then the
    // next run begins.
    void endRunThatSet(const std::string& sessionId, const std::string& userId) {
        DIZSessionContext::sharedInstance()->setSessionId(sessionId);
        DIZUserIdContext::sharedInstance()->setUserId(userId);
        DIZDeviceTracker::sharedInstance();
        resetAllForTesting();
        DIZDudIzizoz::setLogUrl(server_.url());
    }
    // Starts the client and lets the delayed processing run to its end.
    std::shared_ptr<DIZCrashes> startAndProcess() {
        DIZDudIzizoz::start(kSecret, {&DIZCrashes::classObject()});
        const auto crashes = DIZCrashes::sharedInstance();
        clock_->advance(1);
        EXPECT_TRUE(crashes->delayedProcessingSemaphore()->wait(60));
        crashes->delayedProcessingSemaphore()->signal();  // given back, as every waiter does
        RunLoop::runUntilIdle();
        settle();
        return crashes;
    }
    // The crash logs posted once the unit's flush interval has passed.
    std::vector<Value> sentCrashLogs(size_t requests) {
        clock_->advance(1);
        EXPECT_TRUE(server_.waitForRequests(requests));
        settle();
        return appleErrorLogs(server_.received());
    }
    // The Apple error logs of the requests from `first` on, each request's in its own vector.
    static std::vector<std::vector<Value>> appleErrorLogsByRequest(
        const std::vector<LocalHttpServer::Request>& requests, size_t first = 0) {
        std::vector<std::vector<Value>> byRequest;
        for (size_t i = first; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i].target, "/logs?api-version=1.0.0");
            const Value body = json::parse(requests[i].body).value_or(Value());
            const auto* sent = body["logs"].asArray();
            if (!sent) {
                ADD_FAILURE() << requests[i].body;
                continue;
            }
            auto& logs = byRequest.emplace_back();
            for (const auto& log : *sent) {
                if (log["type"].stringOr("") == "appleError") logs.push_back(log);
            }
        }
        return byRequest;
    }
    static std::vector<Value> appleErrorLogs(const std::vector<LocalHttpServer::Request>& requests) {
        std::vector<Value> logs;
        for (auto& sent : appleErrorLogsByRequest(requests))
            logs.insert(logs.end(), sent.begin(), sent.end());
        return logs;
    }
    // groupId|priority of every log stored for the crash service, in order.
    static std::vector<std::string> storedLogs() {
        return sqlite_test::column(DIZUtility::dudIzizozDirectoryURL() / kDIZLogsDatabaseFilename,
                                   "SELECT groupId || '|' || IFNULL(priority, '') FROM logs WHERE groupId = "
                                   "'Crashes' ORDER BY id");
    }
    // The entries of the device, session and user-id histories.
    static std::vector<size_t> historySizes() {
        return {DIZDeviceTracker::sharedInstance()->deviceHistory().size(),
                DIZSessionContext::sharedInstance()->sessionHistory().size(),
                DIZUserIdContext::sharedInstance()->userIdHistory().size()};
    }
    static std::vector<std::string> crashFileNames() {
        std::vector<std::string> names;
        const fs::path directory = DIZUtility::dudIzizozDirectoryURL() / "crashes";
        if (!fs::exists(directory)) return names;
        for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename());
        return names;
    }

    TestHome home_{DIZHostBundle()};
    DIZLogCapture capture_;
    ScopedManualClock clock_;
    SimulatedNetwork::Scoped network_{NetworkReachabilityFlag::Reachable};
    LocalHttpServer server_;
    CrashReportBuilder builder_;
};

TEST_F(DIZCrashesSendingTest, StoredReportsAreSentInOnePassWithTheSessionAndUserOfTheirCrash) {
    // The run that crashed, then this one.
    clock_->setWallTime(kCrashTime - 10);
    endRunThatSet("session-of-the-crash", "c:alice");
    clock_->setWallTime(kCrashTime + 100000);
    DIZSessionContext::sharedInstance()->setSessionId("session-of-this-run");
    DIZUserIdContext::sharedInstance()->setUserId("c:bob");
    storeReport("721000000", 0x10);
    storeReport("721000001", 0x20);
    auto delegate = std::make_shared<RecordingDelegate>();
    DIZCrashes::setDelegate(delegate);

    startAndProcess();
    EXPECT_TRUE(crashFileNames().empty());
    const auto logs = sentCrashLogs(2);
    ASSERT_EQ(logs.size(), 2u);
    std::set<std::string> ids;
    std::map<std::string, std::string> addressOfId;
    for (const auto& log : logs) {
        EXPECT_EQ(log["type"], Value("appleError"));
        EXPECT_EQ(log["fatal"], Value(true));
        EXPECT_EQ(log["osExceptionType"], Value("SIGSEGV"));
        EXPECT_EQ(log["osExceptionCode"], Value("SEGV_MAPERR"));
        EXPECT_EQ(log["sid"], Value("session-of-the-crash"));
        EXPECT_EQ(log["userId"], Value("c:alice"));
        EXPECT_EQ(log["errorThreadId"], Value(0));
        EXPECT_TRUE(log["threads"].asArray() && log["binaries"].asArray());
        ids.insert(log["id"].stringOr(""));
        addressOfId[log["id"].stringOr("")] = log["osExceptionAddress"].stringOr("");
    }
    EXPECT_EQ(ids.size(), 2u);

    RunLoop::runUntilIdle();
    EXPECT_TRUE(eventually([&] {
        RunLoop::runUntilIdle();
        return delegate->told().size() == 4;
    }));
    const auto told = delegate->told();
    for (const auto& id : ids) {
        for (const char* call : {"willSend ", "didSucceed "}) {
            EXPECT_NE(std::find(told.begin(), told.end(), call + id + " on main"), told.end()) << call << id;
        }
    }
    // The two requests may reach the server in either order; the channel takes the logs in turn.
    const auto firstSent = std::find_if(told.begin(), told.end(),
                                        [](const auto& call) { return call.starts_with("willSend "); });
    ASSERT_NE(firstSent, told.end());
    const std::string firstId = firstSent->substr(9, firstSent->size() - 9 - std::string(" on main").size());
    EXPECT_EQ(addressOfId[firstId], "0x10") << "in the order the files were listed";
}

// A report keeps its crash time in whole seconds. The run that crashed set its session and user
// within that second, and this run started within it too: the crash still gets the crashed run's.
TEST_F(DIZCrashesSendingTest, ARunStartedWithinTheSecondOfTheCrashLeavesItTheSessionAndUserOfTheCrashedRun) {
    clock_->setWallTime(kCrashTime + 0.2);
    endRunThatSet("session-of-the-crash", "c:alice");
    clock_->setWallTime(kCrashTime + 0.5);
    DIZSessionContext::sharedInstance()->setSessionId("session-of-this-run");
    DIZUserIdContext::sharedInstance()->setUserId("c:bob");
    storeReport("721000000", 0x10);

    startAndProcess();
    const auto logs = sentCrashLogs(1);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0]["sid"], Value("session-of-the-crash"));
    EXPECT_EQ(logs[0]["userId"], Value("c:alice"));
}

TEST_F(DIZCrashesSendingTest, AReportTheDelegateRefusesIsDeletedAndNotSent) {
    storeReport("721000000", 0x10);
    DIZWrapperException exception;
    exception.setProcessId(builder_.report().process_info->process_id);
    DIZWrapperExceptionManager::saveWrapperException(exception);
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->process = false;
    DIZCrashes::setDelegate(delegate);
    startAndProcess();
    EXPECT_TRUE(delegate->pairedAtFilter);
    EXPECT_TRUE(crashFileNames().empty());
    EXPECT_TRUE(fs::is_empty(wrapperExceptionsDirectory())) << "nor its wrapper exception";
    EXPECT_TRUE(storedLogs().empty());
    EXPECT_TRUE(DIZCrashes::sharedInstance()->crashFiles().empty());
}

TEST_F(DIZCrashesSendingTest, TheUsersAnswerDecidesWhatHappensToHeldReports) {
    struct Case {
        int64_t answer;
        size_t crashLogs;
        bool alwaysAfterwards;
    } cases[] = {{DIZUserConfirmationDontSend, 0, false},
                 {DIZUserConfirmationSend, 1, false},
                 {DIZUserConfirmationAlways, 1, true}};
    size_t storedCrashLogs = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        endRunThatSet("session-of-the-crash", "c:alice");
        storeReport("721000000", 0x10);
        // Held here, so that what the answer enqueues stays countable.
        DIZDudIzizoz::setNetworkRequestsAllowed(false);
        int asked = 0;
        DIZCrashes::setUserConfirmationHandler([&](const auto& reports) {
            EXPECT_TRUE(DispatchQueue::isMainThread());
            asked += static_cast<int>(reports.size());
            return true;
        });
        // Processing waits on the main queue for the handler.
        DIZDudIzizoz::start(kSecret, {&DIZCrashes::classObject()});
        const auto crashes = DIZCrashes::sharedInstance();
        clock_->advance(1);
        EXPECT_TRUE(eventually([&] {
            RunLoop::runUntilIdle();
            return crashes->delayedProcessingSemaphore()->wait(0);
        }));
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(crashFileNames().size(), 1u) << "held until the user answers";
        for (size_t entries : historySizes()) EXPECT_GT(entries, 1u) << "earlier runs' entries";

        DIZCrashes::notifyWithUserConfirmation(c.answer);
        settle();
        EXPECT_EQ(historySizes(), (std::vector<size_t>{1, 1, 1})) << "only this run's entries are kept";
        EXPECT_TRUE(crashFileNames().empty());
        // Nothing is sent in this test, so the crash logs of every answer so far stay stored.
        storedCrashLogs += c.crashLogs;
        EXPECT_TRUE(eventually([&] { return storedLogs().size() == storedCrashLogs; }))
            << storedLogs().size();
        EXPECT_EQ(
            DIZDudIzizozUserDefaults::shared()->objectForKey(DIZCrashes::kUserConfirmationKey).has_value(),
            c.alwaysAfterwards);

        // The next run: a stored answer sends without asking.
        DIZCrashes::resetSharedInstance();
        resetAllForTesting();
        RunLoop::runUntilIdle();
        DIZCrashesUtil::resetDirectory();
        DIZDudIzizoz::setLogUrl(server_.url());
        if (!c.alwaysAfterwards) continue;
        storeReport("721000002", 0x30);
        asked = 0;
        DIZCrashes::setUserConfirmationHandler([&](const auto&) {
            ++asked;
            return true;
        });
        startAndProcess();
        EXPECT_EQ(asked, 0);
        EXPECT_TRUE(crashFileNames().empty());
        EXPECT_TRUE(capture_.contains(
            "The flag for user confirmation is set to DIZUserConfirmationAlways, continue sending logs"));
    }
}

TEST_F(DIZCrashesSendingTest, AttachmentsAreSentUpToSevenMebibytes) {
    storeReport("721000000", 0x10);
    auto delegate = std::make_shared<RecordingDelegate>();
    auto atLimit = DIZErrorAttachmentLog::attachmentWithBinary(Data(DIZCrashes::kMaxAttachmentSize, 0x61),
                                                               "limit.bin", "application/octet-stream");
    auto overLimit = DIZErrorAttachmentLog::attachmentWithBinary(
        Data(DIZCrashes::kMaxAttachmentSize + 1, 0x62), "over.bin", "application/octet-stream");
    auto untyped = DIZErrorAttachmentLog::attachmentWithBinary(Data{1}, "untyped.bin", std::nullopt);
    delegate->attachments = std::vector{atLimit, overLimit, untyped};
    DIZCrashes::setDelegate(delegate);
    startAndProcess();

    EXPECT_EQ(storedLogs(), (std::vector<std::string>{"Crashes|2", "Crashes|1"}));
    ASSERT_TRUE(atLimit->errorId());
    EXPECT_TRUE(atLimit->device()) << "the crash log's device";
    EXPECT_TRUE(
        capture_.contains("Discarding attachment with size above 7340032 bytes: size=7340033, "
                          "fileName=over.bin."));
    EXPECT_TRUE(capture_.contains("Not all required fields are present in DIZErrorAttachmentLog."));
    const auto logs = sentCrashLogs(1);
    ASSERT_FALSE(logs.empty());
    EXPECT_EQ(atLimit->errorId(), logs.front()["id"].stringOr(""));
}

TEST_F(DIZCrashesSendingTest, AWrapperKeepsOnlyTheReportsItNames) {
    storeReport("721000000", 0x10);
    storeReport("721000001", 0x20);
    DIZWrapperCrashesHelper::setAutomaticProcessing(false);
    DIZDudIzizoz::setNetworkRequestsAllowed(false);
    startAndProcess();
    EXPECT_FALSE(DIZWrapperCrashesHelper::automaticProcessing());
    const auto held = DIZWrapperCrashesHelper::unprocessedCrashReports();
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(crashFileNames().size(), 2u) << "nothing sent while automatic processing is off";
    EXPECT_TRUE(storedLogs().empty());

    EXPECT_FALSE(DIZWrapperCrashesHelper::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
        {*held[1]->incidentIdentifier()}));
    EXPECT_EQ(crashFileNames(), std::vector<std::string>{"721000001"}) << "the other one is deleted";
    ASSERT_EQ(DIZWrapperCrashesHelper::unprocessedCrashReports().size(), 1u);
    EXPECT_TRUE(capture_.contains(
        "Automatic crash processing is disabled and \"AlwaysSend\" is false. Awaiting user confirmation."));
    DIZCrashes::notifyWithUserConfirmation(DIZUserConfirmationSend);
    settle();
    EXPECT_TRUE(crashFileNames().empty());
    EXPECT_EQ(storedLogs(), std::vector<std::string>{"Crashes|2"});
}

TEST_F(DIZCrashesSendingTest, HandledErrorsAreNormalLogsOfAnEnabledService) {
    const Error failure("com.quorvane.errors", 7, "failed",
                        Value(Dictionary{{"reason", Value("disk full")}}));
    EXPECT_FALSE(DIZCrashes::trackError(failure, std::nullopt, {})) << "not started";

    DIZDudIzizoz::setNetworkRequestsAllowed(false);
    DIZDudIzizoz::start(kSecret, {&DIZCrashes::classObject()});
    const auto errorId = DIZCrashes::trackError(failure, Dictionary{{"k", Value("v")}},
                                                {DIZErrorAttachmentLog::attachmentWithText("note", "n.txt")});
    ASSERT_TRUE(errorId);
    EXPECT_TRUE(UUID::fromString(*errorId));
    settle();
    EXPECT_EQ(storedLogs(), (std::vector<std::string>{"Crashes|1", "Crashes|1"}));

    const auto report = DIZWrapperCrashesHelper::buildHandledErrorReportWithErrorID(*errorId);
    EXPECT_EQ(report->incidentIdentifier(), errorId);
    EXPECT_EQ(report->appStartTime(), DIZCrashes::sharedInstance()->appStartTime());
    EXPECT_EQ(report->appProcessIdentifier(), 0u);
    EXPECT_TRUE(report->device());

    DIZCrashes::sharedInstance()->setEnabled(false);
    EXPECT_FALSE(DIZCrashes::trackException(std::make_shared<DIZExceptionModel>(), std::nullopt, {}));
}

TEST_F(DIZCrashesSendingTest, ACrashOfTheLastRunIsSentAsAFatalAppleError) {
    size_t requests = 0;
    for (const auto& kind : kCrashKinds) {
        SCOPED_TRACE(kind.mode);
        const auto crashed = runCrashesChild(home_.path(), kind.mode);
        ASSERT_TRUE(crashed && WIFSIGNALED(*crashed));
        // This process is the next run, in the same home.
        startAndProcess();
        EXPECT_TRUE(crashFileNames().empty());
        const auto logs = sentCrashLogs(++requests);
        ASSERT_EQ(logs.size(), requests);
        expectCrashLogOf(kind, logs.back());

        DIZCrashes::resetSharedInstance();
        resetAllForTesting();
        RunLoop::runUntilIdle();
        DIZCrashesUtil::resetDirectory();
        DIZDudIzizoz::setLogUrl(server_.url());
    }
}

// What a run of the helper program printed and how it ended (a status as waitpid gives it).
struct HelperRun {
    int status;
    std::map<std::string, std::string> printed;  // "sessionId" and "userId"
};

// Runs the helper program in this test's home, sending to `logUrl`. Through the shell, which execs
// it, so that the status is the helper's own, a crash's signal included.
HelperRun runHelper(const std::string& arguments, const std::string& logUrl) {
    const std::string command =
        "QUORVANE_LOG_URL='" + logUrl + "' exec '" DIZ_CRASHES_HELPER "' " + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {-1, {}};
    HelperRun run{0, {}};
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        const auto space = text.find(' ');
        if (space != std::string::npos) run.printed[text.substr(0, space)] = text.substr(space + 1);
    }
    run.status = pclose(pipe);
    return run;
}

// One process crashes in the services' default mode; the next one, started in the same home, sends
// its crash to the collector with the session and user of the process that crashed.
TEST_F(DIZCrashesSendingTest, TheNextRunSendsTheCrashWithTheSessionAndUserOfTheRunThatCrashed) {
    size_t seen = 0;
    for (const auto& kind : kCrashKinds) {
        SCOPED_TRACE(kind.mode);
        const HelperRun crashed = runHelper(std::string(kind.mode) + " c:first-run", server_.url());
        ASSERT_TRUE(WIFSIGNALED(crashed.status) && WTERMSIG(crashed.status) == kind.signal) << crashed.status;
        ASSERT_FALSE(crashed.printed.at("sessionId").empty());
        EXPECT_EQ(crashed.printed.at("userId"), "c:first-run");
        EXPECT_EQ(server_.received().size(), seen) << "the crashed run never sent";

        const HelperRun next = runHelper("advance c:next-run 6", server_.url());
        ASSERT_TRUE(WIFEXITED(next.status) && WEXITSTATUS(next.status) == 0) << next.status;
        EXPECT_NE(next.printed.at("sessionId"), crashed.printed.at("sessionId"));

        const auto requests = server_.received();
        std::vector<std::vector<Value>> crashLogs = appleErrorLogsByRequest(requests, seen);
        std::erase_if(crashLogs, [](const auto& logs) { return logs.empty(); });
        ASSERT_EQ(crashLogs.size(), 1u) << "one request";
        ASSERT_EQ(crashLogs.front().size(), 1u) << "one crash log";
        const Value& log = crashLogs.front().front();
        expectCrashLogOf(kind, log);
        EXPECT_EQ(log["sid"], Value(crashed.printed.at("sessionId")));
        EXPECT_EQ(log["userId"], Value("c:first-run"));

        EXPECT_TRUE(crashFileNames().empty());
        EXPECT_EQ(sqlite_test::column(DIZUtility::dudIzizozDirectoryURL() / kDIZLogsDatabaseFilename,
                                      "SELECT COUNT(*) FROM logs"),
                  std::vector<std::string>{"0"})
            << "nothing pending";
        seen = requests.size();
    }
}

}  // namespace
