#include <gmock/gmock.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>

#include "DudIzizoz/Internals/Channel/tests/DIZChannelTesting.h"
#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"
#include "DudIzizoz/Internals/Ingestion/DIZDudIzizozIngestion.h"
#include "DudIzizoz/Internals/Storage/tests/SQLiteTestSupport.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "testing/ChildProcess.h"

namespace diz_channel_test {
namespace {

std::vector<size_t> uploadSizes(DIZLogServer& server) {
    std::vector<size_t> sizes;
    for (const auto& upload : server.received()) sizes.push_back(upload.size());
    return sizes;
}

// "log-0", "log-1", ... cut into batches of the given sizes.
std::vector<std::vector<std::string>> batchesOf(const std::vector<size_t>& sizes) {
    std::vector<std::vector<std::string>> batches;
    size_t first = 0;
    for (size_t size : sizes) {
        batches.push_back(names("log-", first, size));
        first += size;
    }
    return batches;
}

struct SendCase {
    const char* name;
    uint64_t flushInterval;
    uint64_t batchSizeLimit;
    size_t logs;
    size_t sentAtOnce;
    double timerSeconds;  // 0: no timer is left running
    std::vector<size_t> uploads;
};

class DIZChannelSendDecisionTest : public DIZChannelTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(DIZChannelSendDecisionTest, SendsAtOnceOrWhenTheTimerFires) {
    const SendCase& c = GetParam();
    auto unit = addUnit(c.flushInterval, c.batchSizeLimit);
    enqueue(*unit, names("log-", 0, c.logs));
    EXPECT_EQ(recorder->count("willSend"), c.sentAtOnce);
    if (c.timerSeconds > 0) {
        clock->advance(c.timerSeconds - 0.5);
        EXPECT_EQ(recorder->count("willSend"), c.sentAtOnce);
        clock->advance(0.5);
    }
    EXPECT_EQ(recorder->count("willSend"), c.logs);
    ASSERT_TRUE(server.waitForUploads(c.uploads.size()));
    ASSERT_TRUE(waitUntilAnswered(unit));
    // Each batch keeps the order of its logs, but batches in flight together may arrive in any order.
    EXPECT_THAT(server.received(), ::testing::UnorderedElementsAreArray(batchesOf(c.uploads)));
    EXPECT_TRUE(storedNames().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Intervals, DIZChannelSendDecisionTest,
    ::testing::Values(SendCase{"TheFiftiethLogOfASixSecondUnitGoesAtOnce", 6, 50, 50, 50, 0, {50}},
                      SendCase{"FortyNineLogsWaitForTheSixSecondTimer", 6, 50, 49, 0, 6, {49}},
                      SendCase{"AnyOtherIntervalIgnoresTheBatchSize", 10, 50, 50, 0, 10, {50}},
                      SendCase{"IntervalZeroSendsEveryLogAtOnce", 0, 50, 3, 3, 0, {1, 1, 1}},
                      SendCase{"IntervalOneRunsATimerEvenForAFullBatch", 1, 1, 1, 0, 1, {1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DIZChannelTest, FullBatchGoesAtOnceAndTheRestWaitsForTheTimer) {
    auto unit = addUnit();
    enqueue(*unit, names("log-", 0, 99));
    EXPECT_EQ(recorder->count("willSend"), 50u);
    ASSERT_TRUE(server.waitForUploads(1));
    clock->advance(5.5);
    EXPECT_EQ(recorder->count("willSend"), 50u);
    clock->advance(0.5);
    ASSERT_TRUE(server.waitForUploads(2));
    ASSERT_TRUE(waitUntilAnswered(unit));
    EXPECT_EQ(uploadSizes(server), (std::vector<size_t>{50, 49}));
    EXPECT_TRUE(storedNames().empty());
}

struct EnqueueCase {
    const char* name;
    std::string logName;
    bool withAppSecret;
    std::vector<std::string> events;
    bool stored;
};

class DIZChannelEnqueueTest : public DIZChannelTest, public ::testing::WithParamInterface<EnqueueCase> {};

TEST_P(DIZChannelEnqueueTest, DelegatesHearOfTheLogAndOnlyAcceptedLogsAreStored) {
    const EnqueueCase& c = GetParam();
    if (!c.withAppSecret) group->setAppSecret(std::nullopt);
    recorder->filterPrefix = "drop";
    auto unit = addUnit();
    recorder->clear();
    auto log = namedLog(c.logName);
    unit->enqueueItem(log, 2);
    drain();
    EXPECT_EQ(recorder->events(), c.events);
    EXPECT_EQ(storedNames(), c.stored ? std::vector<std::string>{c.logName} : std::vector<std::string>{});
    EXPECT_EQ(log->timestamp(), Date::now());
    EXPECT_TRUE(log->device());
    if (c.stored) {
        const auto file = dynamic_cast<DIZLogDBStorage&>(*group->storage()).dbFileURL();
        EXPECT_EQ(sqlite_test::scalar(file, "SELECT priority FROM logs"), "2");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, DIZChannelEnqueueTest,
    ::testing::Values(EnqueueCase{"Saved",
                                  "keep",
                                  true,
                                  {"prepare keep", "didPrepare keep 2", "filter? keep", "complete keep"},
                                  true},
                      EnqueueCase{"Filtered",
                                  "drop",
                                  true,
                                  {"prepare drop", "didPrepare drop 2", "filter? drop", "complete drop"},
                                  false},
                      EnqueueCase{"IngestionNotReady",
                                  "keep",
                                  false,
                                  {"prepare keep", "didPrepare keep 2", "filter? keep", "complete keep"},
                                  false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DIZChannelTest, ADelegateAddedJustBeforeAnEnqueueHearsOfTheLog) {
    auto unit = addUnit();
    auto late = std::make_shared<DIZChannelRecorder>();
    std::promise<void> release;
    // The group's queue is busy, so nothing queued behind this block has run yet.
    group->logsDispatchQueue()->async([held = release.get_future().share()] { held.wait(); });
    unit->addDelegate(late);
    unit->enqueueItem(namedLog("early"), 1);
    release.set_value();
    drain();
    const auto events = late->events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "prepare early");
}

TEST_F(DIZChannelTest, InvalidLogsAreDroppedBeforeAnyDelegateHearsOfThem) {
    auto unit = addUnit();
    recorder->clear();
    auto typeless = namedLog("typeless");
    typeless->setType(std::nullopt);
    unit->enqueueItem(typeless, 1);
    unit->enqueueItem(nullptr, 1);
    drain();
    EXPECT_TRUE(recorder->events().empty());
    const auto texts = logs.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Log is not valid."), 2);
    EXPECT_TRUE(storedNames().empty());
}

TEST_F(DIZChannelTest, RecoverableStatusKeepsTheBatchStoredAndALaterSuccessDeletesOnlyItsOwn) {
    server.script({{503, true}, {503, true}, {503, true}, {503, true}, {200}});
    auto unit = addUnit();
    enqueue(*unit, names("first-", 0, 50));
    ASSERT_TRUE(server.waitForUploads(4));  // the HTTP client's three retries come first
    ASSERT_TRUE(waitUntilAnswered(unit)) << "the batch's slot is freed";
    EXPECT_EQ(recorder->count("failed first-"), 50u);
    EXPECT_EQ(recorder->count("failed first-0 "), 0u) << "a status answer carries no error";
    EXPECT_EQ(storedNames(), names("first-", 0, 50));

    enqueue(*unit, names("second-", 0, 50));
    networkComesBack();  // the exhausted retries paused the HTTP client
    ASSERT_TRUE(server.waitForUploads(5));
    ASSERT_TRUE(recorder->waitFor("succeeded second-", 50));
    ASSERT_TRUE(waitUntilAnswered(unit));
    EXPECT_EQ(server.received().back(), names("second-", 0, 50));
    EXPECT_EQ(storedNames(), names("first-", 0, 50));
}

TEST_F(DIZChannelTest, NonRecoverableStatusDeletesTheGroupsLogsAndDisablesTheUnit) {
    server.script({{400}});
    server.hold();
    auto unit = addUnit();
    enqueue(*unit, names("sent-", 0, 50));
    enqueue(*unit, names("waiting-", 0, 10));
    ASSERT_TRUE(server.waitForUploads(1));
    recorder->clear();
    server.release();
    ASSERT_TRUE(recorder->waitFor("unit disabled deleting", 1));
    drain();

    EXPECT_EQ(recorder->count("failed sent-"), 50u);
    EXPECT_EQ(recorder->count("failed sent-0 "), 0u);
    EXPECT_EQ(recorder->count("willSend sent-"), 0u) << "the sent batch is deleted without further calls";
    const auto events = recorder->events();
    for (const auto& name : names("waiting-", 0, 10)) {
        const auto willSend = std::find(events.begin(), events.end(), "willSend " + name);
        ASSERT_NE(willSend, events.end()) << name;
        EXPECT_EQ(willSend + 1 < events.end() ? *(willSend + 1) : "", "failed " + name + " 100");
    }
    EXPECT_TRUE(storedNames().empty());
    EXPECT_FALSE(onQueue([&] { return unit->isEnabled(); }));

    recorder->clear();
    enqueue(*unit, {"later"});
    EXPECT_EQ(recorder->matching("failed"), std::vector<std::string>{"failed later 100"});
    EXPECT_EQ(recorder->count("complete later"), 1u);
    EXPECT_TRUE(storedNames().empty());
    EXPECT_TRUE(logs.contains("Channel Analytics disabled in log discarding mode, discard this log."));
}

TEST_F(DIZChannelTest, AnswerForABatchDeletedMeanwhileIsIgnored) {
    server.hold();
    auto unit = addUnit();
    enqueue(*unit, names("log-", 0, 50));
    ASSERT_TRUE(server.waitForUploads(1));
    unit->setEnabled(false, true);
    drain();
    EXPECT_TRUE(storedNames().empty());
    server.release();
    EXPECT_TRUE(eventually([&] {
        const auto texts = logs.texts();
        return std::any_of(texts.begin(), texts.end(), [](const std::string& text) {
            return text.starts_with("Batch Id ") && text.ends_with(" not expected, ignore.");
        });
    }));
    EXPECT_EQ(recorder->count("succeeded"), 0u);
}

TEST_F(DIZChannelTest, DisabledUnitKeepsSavingAndSendsOnceEnabledAgain) {
    auto unit = addUnit();
    unit->setEnabled(false, false);
    enqueue(*unit, names("log-", 0, 50));
    clock->advance(6);
    EXPECT_EQ(recorder->count("willSend"), 0u);
    EXPECT_EQ(storedNames().size(), 50u);
    unit->setEnabled(true, false);
    drain();
    EXPECT_EQ(recorder->count("willSend"), 50u);
    ASSERT_TRUE(server.waitForUploads(1));
    ASSERT_TRUE(waitUntilAnswered(unit));
    EXPECT_TRUE(storedNames().empty());
}

struct StartCase {
    const char* name;
    double ageSeconds;   // of the persisted start; negative lies in the future
    double waitSeconds;  // 0: sent at the first check
};

class DIZChannelStartTimeTest : public DIZChannelTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(DIZChannelStartTimeTest, LongIntervalCountsFromThePersistedStartOfTheOldestLog) {
    const StartCase& c = GetParam();
    const std::string key = "ChannelStartTimer:Analytics";
    stopGroup();
    auto earlier = namedLog("earlier");
    earlier->setTimestamp(Date::now().addingTimeInterval(-c.ageSeconds));
    earlier->setDevice(DIZDeviceTracker::sharedInstance()->device());
    DIZLogDBStorage().saveLog(earlier, kGroupId, 1);
    DIZDudIzizozUserDefaults::shared()->setObject(Value(Date::now().addingTimeInterval(-c.ageSeconds)), key);
    startGroup();

    auto unit = addUnit(60);
    EXPECT_EQ(unit->oldestPendingLogTimestampKey(), key);
    if (c.waitSeconds > 0) {
        if (c.ageSeconds < 0) {
            EXPECT_EQ(DIZDudIzizozUserDefaults::shared()->objectForKey(key), Value(Date::now()));
        }
        clock->advance(c.waitSeconds - 0.5);
        EXPECT_EQ(recorder->count("willSend"), 0u);
        clock->advance(0.5);
    }
    EXPECT_EQ(recorder->count("willSend earlier"), 1u);
    ASSERT_TRUE(server.waitForUploads(1));
    ASSERT_TRUE(waitUntilAnswered(unit));
    EXPECT_FALSE(DIZDudIzizozUserDefaults::shared()->objectForKey(key));
    EXPECT_TRUE(storedNames().empty());
}

INSTANTIATE_TEST_SUITE_P(Ages, DIZChannelStartTimeTest,
                         ::testing::Values(StartCase{"SeventySecondsOldSendsAtOnce", 70, 0},
                                           StartCase{"TwentySecondsOldWaitsTheRemainingForty", 20, 40},
                                           StartCase{"InTheFutureRestartsFromNow", -30, 60}),
                         [](const auto& info) { return std::string(info.param.name); });

struct PauseCase {
    const char* name;
    bool secondObjectGoesAway;
};

class DIZChannelPauseTest : public DIZChannelTest, public ::testing::WithParamInterface<PauseCase> {};

TEST_P(DIZChannelPauseTest, UnitStaysPausedWhileAnyLiveObjectHoldsIt) {
    auto unit = addUnit();
    auto first = std::make_shared<int>(1);
    auto second = std::make_shared<int>(2);
    unit->pauseWithIdentifyingObject(first);
    unit->pauseWithIdentifyingObject(second);
    enqueue(*unit, names("log-", 0, 50));
    unit->resumeWithIdentifyingObject(first);
    drain();
    EXPECT_TRUE(onQueue([&] { return unit->isPaused(); }));
    EXPECT_EQ(recorder->count("willSend"), 0u);

    if (GetParam().secondObjectGoesAway) {
        second.reset();
        unit->resumeWithIdentifyingObject(first);
    } else {
        unit->resumeWithIdentifyingObject(second);
    }
    drain();
    EXPECT_FALSE(onQueue([&] { return unit->isPaused(); }));
    EXPECT_EQ(recorder->count("willSend"), 50u);
    EXPECT_EQ(recorder->count("paused"), 2u);
    EXPECT_EQ(recorder->count("resumed"), 2u);
    ASSERT_TRUE(server.waitForUploads(1));
    ASSERT_TRUE(waitUntilAnswered(unit));
}

INSTANTIATE_TEST_SUITE_P(Objects, DIZChannelPauseTest,
                         ::testing::Values(PauseCase{"SecondObjectResumes", false},
                                           PauseCase{"SecondObjectGoesAway", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DIZChannelTest, LogsOfAPausedTargetKeyStayStoredUntilTheKeyResumes) {
    auto unit = addUnit();
    unit->pauseSendingLogsWithToken("key1-secret");
    unit->pauseSendingLogsWithToken("-no-key");
    auto coreSchema = std::make_shared<DIZCoreSchemaLog>();
    coreSchema->setVer("3.0");
    coreSchema->setName("targeted");
    coreSchema->addTransmissionTargetToken("key1-secret");
    unit->enqueueItem(coreSchema, 1);
    drain();
    clock->advance(6);
    EXPECT_EQ(recorder->count("willSend"), 0u);
    EXPECT_EQ(storedNames(), std::vector<std::string>{"targeted"});
    EXPECT_TRUE(logs.contains("Cannot pause sending logs for a target token without a target key."));

    unit->resumeSendingLogsWithToken("key1-other");
    drain();
    clock->advance(6);
    EXPECT_EQ(recorder->count("willSend targeted"), 1u);
    ASSERT_TRUE(server.waitForUploads(1));
    EXPECT_EQ(server.received().front(), std::vector<std::string>{"targeted"});
}

TEST_F(DIZChannelTest, AtMostThreeBatchesAreInFlightAgainstASlowServerAndNoneIsSentTwice) {
    server.hold();
    auto unit = addUnit();
    enqueue(*unit, names("log-", 0, 170));
    ASSERT_TRUE(server.waitForUploads(3));
    EXPECT_EQ(recorder->count("willSend"), 150u);
    EXPECT_TRUE(onQueue([&] { return unit->pendingBatchQueueFull(); }));
    clock->advance(6);  // the rest's flush finds every slot taken
    EXPECT_EQ(recorder->count("willSend"), 150u);

    server.release();
    ASSERT_TRUE(recorder->waitFor("succeeded", 150));
    ASSERT_TRUE(waitUntilAnswered(unit));
    clock->advance(6);
    ASSERT_TRUE(server.waitForUploads(4));
    ASSERT_TRUE(waitUntilAnswered(unit));

    EXPECT_EQ(server.maxInFlight(), 3u);
    auto received = server.allReceivedNames();
    auto expected = names("log-", 0, 170);
    std::sort(received.begin(), received.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(received, expected);
    EXPECT_EQ(uploadSizes(server).back(), 20u);
    EXPECT_TRUE(storedNames().empty());
}

TEST_F(DIZChannelTest, BacklogHeldBackWhilePausedGoesOnResumeWithoutATimer) {
    server.hold();
    auto unit = addUnit();
    enqueue(*unit, names("log-", 0, 200));
    ASSERT_TRUE(server.waitForUploads(3));
    EXPECT_TRUE(onQueue([&] { return unit->availableBatchFromStorage(); }));
    auto pauser = std::make_shared<int>(0);
    unit->pauseWithIdentifyingObject(pauser);
    server.release();
    ASSERT_TRUE(recorder->waitFor("succeeded", 150));
    ASSERT_TRUE(waitUntilAnswered(unit));
    EXPECT_EQ(storedNames().size(), 50u);

    unit->resumeWithIdentifyingObject(pauser);
    drain();
    ASSERT_TRUE(server.waitForUploads(4));
    ASSERT_TRUE(waitUntilAnswered(unit));
    auto received = server.allReceivedNames();
    auto expected = names("log-", 0, 200);
    std::sort(received.begin(), received.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(storedNames().empty());
}

TEST_F(DIZChannelTest, SlotFreedByARecoverableFailureSendsTheBacklog) {
    server.script({{503, true}, {503, true}, {503, true}, {503, true}, {200}});
    auto unit = std::dynamic_pointer_cast<DIZChannelUnitDefault>(
        group->addChannelUnitWithConfiguration(std::make_shared<DIZChannelUnitConfiguration>(
            kGroupId, kDIZDefaultChannelPriority, kDIZDefaultFlushInterval, kDIZDefaultBatchSizeLimit, 1)));
    enqueue(*unit, names("log-", 0, 100));
    ASSERT_TRUE(recorder->waitFor("failed log-", 50));
    EXPECT_TRUE(recorder->waitFor("willSend", 100)) << "the freed slot takes the waiting batch";

    networkComesBack();  // the used-up retries paused the HTTP client
    ASSERT_TRUE(recorder->waitFor("succeeded", 50));
    ASSERT_TRUE(waitUntilAnswered(unit));
    EXPECT_EQ(server.received().back(), names("log-", 50, 50));
    EXPECT_EQ(storedNames(), names("log-", 0, 50));
}

// Sends what waits from inside its success callback, as a delegate may on the unit's queue.
class SendingDelegate : public DIZChannelDelegate {
  public:
    void channelDidSucceedSendingLog(DIZChannelProtocol& channel,
                                     const std::shared_ptr<DIZLog>& log) override {
        if (nameOf(log) == "first") dynamic_cast<DIZChannelUnitProtocol&>(channel).checkPendingLogs();
    }
};

TEST_F(DIZChannelTest, DelegateThatSendsFromItsCallbackKeepsTheBatchesApart) {
    server.hold();
    auto unit = addUnit(0);
    auto sending = std::make_shared<SendingDelegate>();
    group->addDelegate(sending);
    enqueue(*unit, {"first"});
    ASSERT_TRUE(server.waitForUploads(1));
    group->ingestion()->setEnabled(false, false);  // the next log is stored and counted, not sent
    enqueue(*unit, {"second"});
    group->ingestion()->setEnabled(true, false);

    server.release();
    ASSERT_TRUE(recorder->waitFor("succeeded second", 1));
    ASSERT_TRUE(waitUntilAnswered(unit));
    EXPECT_EQ(server.received(), (std::vector<std::vector<std::string>>{{"first"}, {"second"}}));
    EXPECT_TRUE(storedNames().empty());
    const auto texts = logs.texts();
    EXPECT_TRUE(std::none_of(texts.begin(), texts.end(), [](const std::string& text) {
        return text.ends_with(" not expected, ignore.");
    }));
}

TEST_F(DIZChannelTest, BatchSizeOfZeroNeitherSendsNorLoopsForever) {
    auto unit = addUnit(kDIZDefaultFlushInterval, 0);
    enqueue(*unit, {"log"});
    clock->advance(6);
    EXPECT_EQ(recorder->count("willSend"), 0u);
    EXPECT_EQ(storedNames(), std::vector<std::string>{"log"});
}

// Runs only as the child process of KilledProcessSendsItsStoredLogsAfterRestart: stores ten logs
// in the parent's home, tells the parent through the pipe, and waits to be killed.
TEST(DIZChannelRestartChild, EnqueuesAndWaitsToBeKilled) {
    const char* pipeFd = std::getenv("DIZ_CHANNEL_CHILD_PIPE");
    const char* url = std::getenv("DIZ_CHANNEL_CHILD_URL");
    if (!pipeFd || !url) GTEST_SKIP() << "runs as a child process only";
    Bundle::setMainBundle(DIZHostBundle());
    DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
    ScopedManualClock clock;  // no flush timer fires here
    auto group = DIZChannelGroupDefault::make(DIZHttpClient::make(), UUID(), url);
    group->setAppSecret("app-secret");
    auto unit =
        group->addChannelUnitWithConfiguration(std::make_shared<DIZChannelUnitConfiguration>("Analytics"));
    for (const auto& name : names("stored-", 0, 10)) unit->enqueueItem(namedLog(name), 1);
    group->logsDispatchQueue()->sync([] {});
    ASSERT_EQ(write(std::atoi(pipeFd), "s", 1), 1);
    for (;;) pause();
}

TEST_F(DIZChannelTest, KilledProcessSendsItsStoredLogsAfterRestart) {
    stopGroup();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child =
        spawnThisTestBinary("DIZChannelRestartChild.EnqueuesAndWaitsToBeKilled",
                            {.environment = {"DIZ_CHANNEL_CHILD_PIPE=" + std::to_string(fds[1]),
                                             "DIZ_CHANNEL_CHILD_URL=" + server.url()},
                             .quiet = true});
    close(fds[1]);
    // A child that dies early closes the pipe; one that hangs is given up on after two minutes.
    pollfd told{fds[0], POLLIN, 0};
    char stored = 0;
    const ssize_t got = child > 0 && poll(&told, 1, 120'000) == 1 ? read(fds[0], &stored, 1) : -1;
    close(fds[0]);
    ASSERT_GT(child, 0);
    kill(child, SIGKILL);
    const auto status = waitForChild(child);
    ASSERT_EQ(got, 1) << "the child did not store its logs";
    ASSERT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);

    startGroup();
    auto unit = addUnit();
    EXPECT_EQ(storedNames(), names("stored-", 0, 10));
    clock->advance(6);
    ASSERT_TRUE(server.waitForUploads(1));
    ASSERT_TRUE(waitUntilAnswered(unit));
    EXPECT_EQ(server.received().front(), names("stored-", 0, 10));
    EXPECT_TRUE(storedNames().empty());
}

}  // namespace
}  // namespace diz_channel_test
