#include "measurement/audiences/experiments/ZDMERemoteConfigManager.h"
#include "measurement/audiences/experiments/tests/TaskManagerFixture.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/tests/DatabaseFixture.h"

namespace {

constexpr const char* kAppID = "1:123:ios:abc";
constexpr const char* kSDKName = "measurement_engine";
constexpr const char* kPersistentConfigFlag = "persistent_config_in_application_support_enabled";
constexpr const char* kPersistentConfigSetting =
    "measurement.persistent_config_in_application_support_enabled";

// A remote configuration on a real measurement database, registered with a real experiment manager
// whose task manager stores snapshots in its own file and fetches them from a local service.
class RemoteConfigOverExperiments : public Database {
  protected:
    std::shared_ptr<ZDMRemoteConfig> makeConfig() {
        auto remoteConfig = offMain([this] {
            return ZDMRemoteConfig::initWithAppID(kAppID, database_,
                                                  std::make_shared<ZDMERemoteConfigManager>(manager_));
        });
        settle();
        return remoteConfig;
    }
    void start() {
        taskManager_->startTaskManager();
        settle();
    }
    // Lets the manager's and the task manager's queued work finish, then the main queue, where new
    // snapshots are told to an observer without a queue of its own.
    void settle() {
        for (int round = 0; round < 2; ++round) {
            manager_->dispatchSyncOnSerialQueue([] {});
            taskManager_->dispatchSyncOnWorkerQueue([] {});
        }
        RunLoop::runUntilIdle();
    }
    // One fetch, as the task manager's timer makes it when fetching is allowed, answered with `reply`.
    void fetch(const Data& reply) {
        service_.answer(200, gzipped(reply));
        storage_->removeObjectForKey(ZDMETaskManager::kSuccessTimestampKey);
        taskManager_->dispatchAsyncOnWorkerQueue([this] { taskManager_->fetchExperiments(); });
        ASSERT_TRUE(eventually([&] { return stored() != 0; }));
        settle();
    }
    double stored() { return storage_->doubleForKey(ZDMETaskManager::kSuccessTimestampKey); }
    static std::shared_ptr<ZDMESnapshot> snapshotWithFlag(int64_t experimentID, const char* flag,
                                                          const Value& value) {
        return ZDMESnapshot::initWithSDKName(
            kSDKName, {ZDMEExperiment::initWithExperimentID(
                          experimentID, {ZDMPBFlagWithNameAndValue(Value(flag), value)})});
    }

    LocalService service_;
    std::shared_ptr<ZDMUserDefaults> storage_ =
        std::make_shared<ZDMUserDefaults>(ZDMETaskManager::kSuiteName);
    std::shared_ptr<ZDMETaskManager> taskManager_ = makeLocalTaskManager(storage_, service_, clock_->now());
    std::shared_ptr<ZDMEManager> manager_ = ZDMEManager::initWithTaskManager(taskManager_);
    std::shared_ptr<ZDMDatabase> database_ = open();
};

TEST_F(RemoteConfigOverExperiments, ConstructionRegistersTheLibraryWithFourFlagsOff) {
    auto remoteConfig = makeConfig();
    ASSERT_TRUE(remoteConfig);
    auto client = manager_->clientForSDKName(kSDKName);
    ASSERT_TRUE(client);
    EXPECT_EQ(client->SDKProperty()->version(), 101300);
    EXPECT_TRUE(client->delegate());
    EXPECT_EQ(client->defaultFlags().size(), 4u);
    for (const char* flag : {"efficient_engagement_reporting_enabled", "redundant_engagement_removal_enabled",
                             "network_background_session_enabled", kPersistentConfigFlag})
        EXPECT_EQ(client->valueForFlag(flag), Value(int64_t{0})) << flag;
    // Nothing pending at construction is no failure of the stale activation.
    EXPECT_EQ(lastSampledMessage(), "");
    EXPECT_TRUE(remoteConfig->experimentIDs().empty());
}

TEST_F(RemoteConfigOverExperiments, AFetchedFlagDecidesOverTheSettingOnceActivated) {
    auto remoteConfig = makeConfig();
    start();
    remoteConfig->cacheValue(Value("1"), kPersistentConfigSetting);
    EXPECT_FALSE(remoteConfig->persistentConfigInApplicationSupportEnabled());  // the registered 0

    fetch(responseBytes({snapshotWithFlag(5, kPersistentConfigFlag, Value("1"))}));
    const auto bodies = service_.bodies();
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(decode(bodies[0]).diversions,
              std::vector<std::string>{ZDMIdentity::sharedInstance()->diversionKey() + "-" + kSDKName});
    EXPECT_FALSE(remoteConfig->persistentConfigInApplicationSupportEnabled());  // pending, not in force

    EXPECT_TRUE(remoteConfig->activateNewSnapshot());
    remoteConfig->cacheValue(Value("0"), kPersistentConfigSetting);
    EXPECT_TRUE(remoteConfig->persistentConfigInApplicationSupportEnabled());
    EXPECT_EQ(remoteConfig->experimentIDs(), std::vector<int64_t>{5});
    EXPECT_FALSE(remoteConfig->activateNewSnapshot());  // the mark went with the activation
}

TEST_F(RemoteConfigOverExperiments, AFailedActivationKeepsTheMarkAndFetchErrorsAreReported) {
    auto remoteConfig = makeConfig();
    start();
    fetch(responseBytes({}, {{kSDKName, 2, nullptr}}));
    EXPECT_EQ(lastSampledMessage(), "E:Cannot fetch experiment. Error");
    EXPECT_FALSE(remoteConfig->activateNewSnapshot());  // no mark: nothing asked of the client
    EXPECT_EQ(lastSampledMessage(), "E:Cannot fetch experiment. Error");

    const auto snapshot = snapshotWithFlag(5, kPersistentConfigFlag, Value("1"));
    fetch(responseBytes({snapshot}));
    remoteConfig->reset();  // a wipe drops the pending snapshot before it is activated
    settle();
    EXPECT_FALSE(remoteConfig->activateNewSnapshot());
    EXPECT_EQ(lastSampledMessage(), "E:Cannot activate snapshot. Error");

    // The mark stayed: a snapshot pending again is activated without another notice.
    manager_->taskManagerDidStart(*taskManager_, std::nullopt, ZDMETaskManager::Snapshots{snapshot},
                                  std::nullopt);
    settle();
    EXPECT_TRUE(remoteConfig->activateNewSnapshot());
    EXPECT_TRUE(remoteConfig->persistentConfigInApplicationSupportEnabled());
}

TEST_F(RemoteConfigOverExperiments, ExperimentsAreFetchedForTheLibraryOnlyWhileAnEngineIsEnabled) {
    auto remoteConfig = makeConfig();
    EXPECT_EQ(manager_->taskManagerShouldFetchExperiments(*taskManager_), false);  // no engine runs

    // Another SDK without an observer of its own wants its experiments whatever the library says.
    manager_->registerSDKProperty(ZDMESDKProperty::initWithName("other"), Dictionary{});
    settle();
    EXPECT_EQ(manager_->taskManagerShouldFetchExperiments(*taskManager_), true);
}

using ExperimentWorkerSteps = RemoteConfigOverExperiments;

TEST_F(ExperimentWorkerSteps, OnTheMainThreadTheyReportAndGoOn) {
    taskManager_->startTaskManagerOnWorkerQueue();
    EXPECT_EQ(messagesOf(30001),
              (std::vector<std::string>{
                  "Method startTaskManagerOnWorkerQueue should execute on background thread",
                  "Method fetchAllSnapshotsOnWorkerQueue should execute on background thread",
                  "Method scheduleFetchingExperimentsOnWorkerQueue should execute on background thread"}));
    EXPECT_TRUE(taskManager_->database());
    EXPECT_TRUE(taskManager_->alarm()->scheduledTimestamp());

    taskManager_->dispatchSyncOnWorkerQueue(
        [this] { taskManager_->scheduleFetchingExperimentsOnWorkerQueue(); });
    EXPECT_EQ(messagesOf(30001).size(), 3u);
}

}  // namespace
