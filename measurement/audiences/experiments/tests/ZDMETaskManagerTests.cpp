#include <filesystem>
#include <stdexcept>

#include "measurement/audiences/experiments/tests/TaskManagerFixture.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Locale.h"

namespace {

constexpr double kHour = 3600;

class Fetch : public TaskManagerTest {};

TEST_F(Fetch, FetchTimeFollowsTheSuccessTheFailureAndTheLadder) {
    const double now = clock_->now();
    struct Case {
        const char* what;
        bool initialFetchMade;
        double initTimestamp;
        double success, failure;
        double expected;
    };
    const Case cases[] = {
        {"first, nothing stored", false, now, 0, 0, now + 10},
        {"first, success an hour ago", false, now, now - kHour, 0, now + 3 * kHour},
        {"first, success five hours ago", false, now, now - 5 * kHour, 0, now + 10},
        {"success in the future counts as past", true, now, now + kHour, 0, now + 3 * kHour},
        {"success 5 h ago, failure 10 min ago", true, now, now - 5 * kHour, now - 600, now + 1800},
        {"no success, a failure: from creation", true, now - 1000, 0, now, now - 1000 + 1800},
        {"no success, second rung", true, now - 1000, 0, now - 1000 + 1800, now - 1000 + 5400},
        {"past the last rung", true, now - 1000, 0, now - 1000 + 115200, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto taskManager = makeTaskManager();
        taskManager->setHasMadeInitialFetch(c.initialFetchMade);
        taskManager->setInitializationTimestamp(c.initTimestamp);
        EXPECT_DOUBLE_EQ(taskManager->fetchTimeFromLastSuccessfulTimestamp(c.success, c.failure), c.expected);
        EXPECT_TRUE(taskManager->hasMadeInitialFetch());
    }
}

TEST_F(Fetch, SchedulingSetsTheTimerOrGivesUp) {
    const double now = clock_->now();
    struct Case {
        const char* what;
        double success, failure, backoff;
        double expected;  // 0: no timer
    };
    const Case cases[] = {
        {"a time in the past waits a millisecond", now - 5 * kHour, 0, 0, now + 0.001},
        {"ladder used up", 0, now + 200000, 0, 0},
        {"back-off holds twelve hours from the failure", now - 5 * kHour, now - 600, now - 600,
         now - 600 + 43200},
        {"an old back-off no longer holds", now - 5 * kHour, now - 600, now - 43300, now + 1800},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        storage_->setDouble(c.success, ZDMETaskManager::kSuccessTimestampKey);
        storage_->setDouble(c.failure, ZDMETaskManager::kFailureTimestampKey);
        storage_->setDouble(c.backoff, ZDMETaskManager::kBackoffTimestampKey);
        auto taskManager = makeTaskManager();
        taskManager->setHasMadeInitialFetch(true);
        onWorker(taskManager, [&] { taskManager->scheduleFetchingExperimentsOnWorkerQueue(); });
        EXPECT_NEAR(scheduledAt(taskManager), c.expected, 1e-6);
        if (c.expected == 0) {
            EXPECT_EQ(stored(ZDMETaskManager::kSuccessTimestampKey), 0);
            EXPECT_EQ(monitor_->codes().back(), 820024);
        }
    }
}

TEST_F(Fetch, AnEarlierPendingTimerIsKeptAndALaterOneReplaced) {
    const double now = clock_->now();
    auto taskManager = makeTaskManager();
    taskManager->setHasMadeInitialFetch(true);
    storage_->setDouble(now - 3 * kHour, ZDMETaskManager::kSuccessTimestampKey);  // next at now + 1 h
    onWorker(taskManager, [&] { taskManager->alarm()->runAfterDelay([] {}, 600); });
    onWorker(taskManager, [&] { taskManager->scheduleFetchingExperimentsOnWorkerQueue(); });
    EXPECT_DOUBLE_EQ(scheduledAt(taskManager), now + 600);
    EXPECT_EQ(monitor_->codes().back(), 820017);

    onWorker(taskManager, [&] { taskManager->alarm()->runAfterDelay([] {}, 2 * kHour); });
    onWorker(taskManager, [&] { taskManager->scheduleFetchingExperimentsOnWorkerQueue(); });
    EXPECT_DOUBLE_EQ(scheduledAt(taskManager), now + kHour);
}

class FetchRoundTrip : public TaskManagerTest {
  protected:
    FetchRoundTrip() {
        Bundle::setMainBundle(
            std::make_shared<Bundle>(Dictionary{{"CFBundleIdentifier", Value("com.example.spaces")}}));
    }

    // A started manager with the engine's client, observed on its own queue.
    void start(std::shared_ptr<Observer> observer) {
        observer_ = std::move(observer);
        taskManager_ = makeTaskManager();
        manager_ = ZDMEManager::initWithTaskManager(taskManager_);
        auto property = ZDMESDKProperty::initWithName("measurement_engine");
        property->setDiversionKey("abcde");
        client_ = manager_->registerSDKProperty(property, Dictionary{{"f5", Value(0)}});
        client_->setDelegate(observer_);
        manager_->dispatchSyncOnSerialQueue([] {});
        taskManager_->startTaskManager();
        onWorker(taskManager_, [] {});
    }
    // Fires the pending fetch and waits until its reply has been handled.
    void fetch() {
        const auto before = monitor_->reports().size();
        const double due = scheduledAt(taskManager_);
        ASSERT_GT(due, 0);
        clock_->advance(due - clock_->now());
        ASSERT_TRUE(eventually([&] {
            auto reports = monitor_->reports();
            for (size_t i = before; i < reports.size(); ++i)
                if (reports[i].code == 820003 || reports[i].code == 820002) return true;
            return false;
        }));
        onWorker(taskManager_, [] {});
        manager_->dispatchSyncOnSerialQueue([] {});
        onWorker(taskManager_, [] {});
    }

    std::shared_ptr<Observer> observer_;
    std::shared_ptr<ZDMETaskManager> taskManager_;
    std::shared_ptr<ZDMEManager> manager_;
    std::shared_ptr<ZDMEClient> client_;
    std::shared_ptr<DispatchQueue> observerQueue_ = DispatchQueue::serial("observer");
};

TEST_F(FetchRoundTrip, ReplyBecomesAPendingRowAndTheObserverIsToldOnItsQueue) {
    service_.answer(200, gzipped(responseBytes({snapshot("measurement_engine", {0, 5})})));
    start(std::make_shared<Observer>(observerQueue_));
    fetch();

    EXPECT_EQ(service_.requests(), std::vector<std::string>{"POST /sdk-exp"});
    auto bodies = service_.bodies();
    ASSERT_EQ(bodies.size(), 1u);
    auto sent = decode(bodies[0]);
    EXPECT_EQ(sent.platform, "macos");
    auto languages = Locale::preferredLanguages();
    EXPECT_EQ(sent.hasLanguage, !languages.empty());
    EXPECT_EQ(sent.bundleID, "com.example.spaces");
    EXPECT_FALSE(sent.appStore);
    EXPECT_EQ(sent.version, 10000);
    EXPECT_EQ(sent.diversions, std::vector<std::string>{"abcde-measurement_engine"});

    ASSERT_TRUE(eventually([&] { return observer_->snapshots() == 1; }));
    EXPECT_TRUE(observer_->toldOnItsQueue());
    auto pending =
        onWorker(taskManager_, [&] { return taskManager_->database()->fetchAllPendingSnapshots(); });
    ASSERT_TRUE(pending);
    ASSERT_EQ(pending->size(), 1u);
    EXPECT_TRUE(pending->front()->manuallyActivated());
    EXPECT_EQ(IDsOf(pending->front()), (std::vector<int64_t>{0, 5}));
    EXPECT_EQ(stored(ZDMETaskManager::kSuccessTimestampKey), clock_->now());

    // Activated by its client, the snapshot's flags are in force.
    EXPECT_EQ(client_->valueForFlag("f5"), Value(0));
    ASSERT_TRUE(client_->activateLatestSnapshot());
    EXPECT_EQ(client_->valueForFlag("f5"), Value(5));
    EXPECT_EQ(client_->valueForFlag("f0"), Value(0));
}

TEST_F(FetchRoundTrip, SdkResponsesGiveNamedSnapshotsAndErrorsReachTheirObservers) {
    service_.answer(200, gzipped(responseBytes({}, {{"measurement_engine", 0, snapshot("ignored", {7})},
                                                    {"measurement_engine", 2, nullptr}})));
    start(std::make_shared<Observer>(observerQueue_));
    fetch();
    ASSERT_TRUE(eventually([&] { return observer_->snapshots() == 1; }));
    auto pending =
        onWorker(taskManager_, [&] { return taskManager_->database()->fetchAllPendingSnapshots(); });
    ASSERT_TRUE(pending);
    ASSERT_EQ(pending->size(), 1u);
    EXPECT_EQ(pending->front()->SDKName(), "measurement_engine");
    auto errors = observer_->errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].domain, "com.zizoda.measurement.experiments");
    EXPECT_EQ(errors[0].code, -3);
}

TEST_F(FetchRoundTrip, ErrorsFromAReplyMapStatusesToCodes) {
    auto taskManager = makeTaskManager();
    auto bytes = responseBytes({}, {{"a", 1, nullptr},
                                    {"b", 2, nullptr},
                                    {"c", 3, nullptr},
                                    {"d", 9, nullptr},
                                    {"e", 0, nullptr},
                                    {"", 2, nullptr}});
    auto errors = taskManager->errorsFromExperimentResponse(*ZDMPBExperimentResponse::initWithBuffer(bytes));
    ASSERT_TRUE(errors);
    std::map<std::string, int64_t> codes;
    for (const auto& [name, error] : *errors) codes[name] = error.code;
    EXPECT_EQ(codes, (std::map<std::string, int64_t>{{"a", -2}, {"b", -3}, {"c", -4}, {"d", -1}}));
    EXPECT_FALSE(taskManager->experimentSnapshotsFromData(Data()));
    EXPECT_EQ(monitor_->codes().back(), 820025);
}

TEST_F(FetchRoundTrip, FailedRepliesMoveOnlyTheFailureAndBackoffTimestamps) {
    struct Case {
        int status;
        bool backoff;
    };
    for (const Case c : {Case{500, false}, Case{503, true}, Case{429, true}}) {
        SCOPED_TRACE(c.status);
        storage_->clearAllData();
        service_.answer(c.status);
        start(std::make_shared<Observer>(observerQueue_));
        fetch();
        const double failedAt = clock_->now();
        EXPECT_EQ(stored(ZDMETaskManager::kSuccessTimestampKey), 0);
        EXPECT_EQ(stored(ZDMETaskManager::kFailureTimestampKey), failedAt);
        EXPECT_EQ(stored(ZDMETaskManager::kBackoffTimestampKey), c.backoff ? failedAt : 0);
        const double next = scheduledAt(taskManager_);
        if (c.backoff)
            EXPECT_GE(next, failedAt + 43200);
        else
            EXPECT_LT(next, failedAt + 43200);
        onWorker(taskManager_, [&] { taskManager_->clearAndDelete(); });
        onWorker(taskManager_, [] {});
    }
}

TEST_F(FetchRoundTrip, AStoppedServiceTakesTheFailurePath) {
    start(std::make_shared<Observer>(observerQueue_));
    service_.stop();
    fetch();
    auto report = monitor_->first(820002);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->contexts[0], Value(int64_t{0}));
    EXPECT_EQ(stored(ZDMETaskManager::kFailureTimestampKey), clock_->now());
    EXPECT_EQ(stored(ZDMETaskManager::kBackoffTimestampKey), 0);
}

TEST_F(FetchRoundTrip, AnObserverDecliningFetchesPostponesWithoutPosting) {
    start(std::make_shared<Observer>(observerQueue_, false));
    const double due = scheduledAt(taskManager_);
    clock_->advance(due - clock_->now());
    onWorker(taskManager_, [] {});
    EXPECT_EQ(stored(ZDMETaskManager::kSuccessTimestampKey), clock_->now());
    EXPECT_TRUE(service_.bodies().empty());
    EXPECT_DOUBLE_EQ(scheduledAt(taskManager_), clock_->now() + 4 * kHour);
}

TEST_F(FetchRoundTrip, ClearAndDeleteLeavesNoStoreNoTimestampsAndNoPendingFetch) {
    start(std::make_shared<Observer>(observerQueue_));
    storage_->setDouble(clock_->now(), ZDMETaskManager::kFailureTimestampKey);
    ASSERT_GT(scheduledAt(taskManager_), 0);
    manager_->clearAndDelete();
    manager_->dispatchSyncOnSerialQueue([] {});
    onWorker(taskManager_, [] {});
    EXPECT_EQ(scheduledAt(taskManager_), 0);
    EXPECT_EQ(stored(ZDMETaskManager::kFailureTimestampKey), 0);
    EXPECT_FALSE(std::filesystem::exists(ZDMMeasurementSupportFilePath(ZDMEDatabase::kFileName)));
    clock_->advance(86400);
    EXPECT_TRUE(service_.bodies().empty());
}

TEST(ExperimentNetwork, GzipInflationRefusesDataThatIsNotAWholeStream) {
    const Data text{'h', 'e', 'l', 'l', 'o'};
    auto packed = gzipped(text);
    EXPECT_EQ(ziz_dataByInflatingGzippedData(packed), text);
    Error error;
    EXPECT_FALSE(ziz_dataByInflatingGzippedData(Data(packed.begin(), packed.end() - 4), &error));
    EXPECT_EQ(error.domain, kZIZGzipErrorDomain);
    EXPECT_FALSE(ziz_dataByInflatingGzippedData(text, &error));
}

}  // namespace

namespace {

TEST_F(Fetch, AnExceptionOnTheWorkerQueueIsLoggedAndTheQueueGoesOn) {
    auto taskManager = makeTaskManager();
    taskManager->dispatchAsyncOnWorkerQueue([] { throw std::runtime_error("boom"); });
    taskManager->dispatchSyncOnWorkerQueue([] { throw std::runtime_error("bang"); });
    taskManager->dispatchSyncOnWorkerQueue([] {});
    EXPECT_EQ(monitor_->first(820026)->contexts[0], Value("boom"));
    EXPECT_EQ(monitor_->first(820027)->contexts[0], Value("bang"));
}

}  // namespace
