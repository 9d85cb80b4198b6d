#include <stdexcept>

#include "measurement/audiences/experiments/tests/TaskManagerFixture.h"

namespace {

constexpr double kDay = 86400;

class Manager : public TaskManagerTest {
  protected:
    // A manager without storage: its maps are driven through the task-manager callbacks.
    std::shared_ptr<ZDMEManager> manager_ = ZDMEManager::initWithTaskManager(nullptr);
    ZDMETaskManager& anyTaskManager() {
        if (!taskManager_) taskManager_ = makeTaskManager();
        return *taskManager_;
    }
    std::shared_ptr<ZDMEClient> registered(const std::string& name, const Dictionary& defaults,
                                           std::optional<std::string> ownKey = std::nullopt) {
        auto property = ZDMESDKProperty::initWithName(name);
        property->setDiversionKey(std::move(ownKey));
        auto client = manager_->registerSDKProperty(property, defaults);
        manager_->dispatchSyncOnSerialQueue([] {});
        return client;
    }
    void load(std::optional<ZDMETaskManager::Snapshots> activated,
              std::optional<ZDMETaskManager::Snapshots> launched) {
        manager_->taskManagerDidStart(anyTaskManager(), activated, std::nullopt, launched);
        manager_->dispatchSyncOnSerialQueue([] {});
    }
    std::shared_ptr<ZDMETaskManager> taskManager_;
};

TEST_F(Manager, ALookupBeforeTheRegistrationBlockRanFindsNothing) {
    Value value;
    manager_->dispatchSyncOnSerialQueue([&] {
        manager_->registerSDKProperty(ZDMESDKProperty::initWithName("sdk"), Dictionary{{"f", Value(1)}});
        value = manager_->flagValueForFlagName(Value("f"), Value("sdk"));
    });
    EXPECT_TRUE(value.isNull());
    EXPECT_TRUE(monitor_->logged(800012));
    EXPECT_EQ(manager_->flagValueForFlagName(Value("f"), Value("sdk")), Value(1));
}

TEST_F(Manager, LookupGoesActivatedThenLaunchedThenDefault) {
    auto client = registered("sdk", Dictionary{{"a", Value(1)}, {"b", Value(2)}, {"c", Value(3)}});
    auto activated = ZDMESnapshot::initWithSDKName("sdk", {experiment(4, {flag("a", Value(40))})});
    auto valueless = ZDMPBFlag::initWithBuffer(nullptr);
    ZDMPBSetString(valueless.get(), 0, "c");
    auto launched = ZDMESnapshot::initWithSDKName(
        "sdk", {experiment(0, {flag("a", Value(10)), flag("b", Value(20)), valueless})});
    load(ZDMETaskManager::Snapshots{activated}, ZDMETaskManager::Snapshots{launched});
    struct Case {
        const char* flag;
        Value expected;
    };
    const Case cases[] = {{"a", Value(40)}, {"b", Value(20)}, {"c", Value(3)}, {"d", Value()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flag);
        EXPECT_EQ((*client)[Value(c.flag)], c.expected);
    }
    EXPECT_EQ(monitor_->codes().back(), 800014);
}

TEST_F(Manager, DefaultsComeBackAsTheKindTheyWereGiven) {
    auto client =
        registered("sdk", Dictionary{{"real", Value(1.5)}, {"int", Value(7)}, {"text", Value("on")}});
    EXPECT_EQ(client->valueForFlag("real"), Value(1.5));
    EXPECT_TRUE(client->valueForFlag("real").isReal());
    EXPECT_EQ(client->valueForFlag("int"), Value(int64_t{7}));
    EXPECT_TRUE(client->valueForFlag("int").isInteger());
    EXPECT_EQ(client->valueForFlag("text"), Value("on"));

    EXPECT_EQ(manager_->registerSDKProperty(ZDMESDKProperty::initWithName("bad"),
                                            Dictionary{{"x", Value(Data{1})}}),
              nullptr);
    EXPECT_TRUE(monitor_->logged(800002));
    EXPECT_EQ(manager_->clientForSDKName("bad"), nullptr);
    EXPECT_EQ(manager_->registerSDKProperty(nullptr, {}), nullptr);
    EXPECT_EQ(manager_->registerSDKProperty(ZDMESDKProperty::initWithName(""), {}), nullptr);
    EXPECT_TRUE(monitor_->logged(800000));
    EXPECT_TRUE(monitor_->logged(800001));
}

TEST_F(Manager, ASecondRegistrationReplacesTheDefaults) {
    registered("sdk", Dictionary{{"f", Value(1)}});
    auto second = registered("sdk", Dictionary{{"f", Value(2)}});
    EXPECT_TRUE(monitor_->logged(800003));
    EXPECT_EQ(second->valueForFlag("f"), Value(2));
    EXPECT_EQ(manager_->clientForSDKName("sdk"), second);
}

TEST_F(Manager, StaleStatusCountsFromActivation) {
    EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("sdk"), -1);
    auto client = registered("sdk", {});
    EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("sdk"), -2);
    manager_->taskManagerDidFinishFetching(anyTaskManager(), {snapshot("sdk", {5})}, {});
    manager_->dispatchSyncOnSerialQueue([] {});
    ASSERT_TRUE(client->activateLatestSnapshot());
    EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("sdk"), 0);
    EXPECT_FALSE(client->hasStaleSnapshot());
    clock_->advance(4 * kDay);
    EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName("sdk"), 1);
    EXPECT_TRUE(client->hasStaleSnapshot());
    EXPECT_EQ(manager_->activatedSnapshotStatusOfSDKName(""), -1);
}

TEST_F(Manager, ExperimentIDsComeOnlyFromClientsWithoutTheirOwnKey) {
    registered("plain", {});
    registered("keyed", {}, "own");
    load(ZDMETaskManager::Snapshots{snapshot("plain", {7, 3}), snapshot("keyed", {9})}, std::nullopt);
    EXPECT_EQ(manager_->experimentIDs(), (std::vector<int64_t>{3, 7}));
}

TEST_F(Manager, ActivationRefusalsAndResetToDefaults) {
    auto client = registered("sdk", Dictionary{{"f5", Value(0)}});
    Error error;
    EXPECT_FALSE(manager_->activateSnapshotOfSDK(std::nullopt, &error));
    EXPECT_EQ(error.description, "SDK name cannot be nil");
    EXPECT_FALSE(manager_->activateSnapshotOfSDK("", &error));
    EXPECT_EQ(error.description, "SDK name cannot be empty");
    EXPECT_FALSE(manager_->activateSnapshotOfSDK("sdk"));
    EXPECT_TRUE(monitor_->logged(800021));
    EXPECT_TRUE(monitor_->logged(800022));
    EXPECT_TRUE(monitor_->logged(800023));

    load(ZDMETaskManager::Snapshots{snapshot("sdk", {5})}, std::nullopt);
    EXPECT_EQ(client->valueForFlag("f5"), Value(5));
    client->resetToDefaults();
    EXPECT_EQ(client->valueForFlag("f5"), Value(0));
    client->resetToDefaults();
    EXPECT_EQ(monitor_->codes().back(), 800026);
}

// Observes without saying on which queue, or says so and names none.
class QueuelessObserver : public Observer {
  public:
    explicit QueuelessObserver(bool answersQueue) : answersQueue_(answersQueue) {}
    std::optional<std::shared_ptr<DispatchQueue>> queue() const override {
        if (!answersQueue_) return std::nullopt;
        return std::shared_ptr<DispatchQueue>();
    }

  private:
    bool answersQueue_;
};

TEST_F(Manager, NewSnapshotsWithoutAQueueOfTheObserverAreToldOnTheMainQueue) {
    for (bool answersQueue : {false, true}) {
        SCOPED_TRACE(answersQueue);
        auto client = registered("sdk", {});
        auto observer = std::make_shared<QueuelessObserver>(answersQueue);
        client->setDelegate(observer);
        manager_->taskManagerDidUpsertPendingSnapshots(anyTaskManager(), {snapshot("sdk", {1})});
        EXPECT_EQ(observer->snapshots(), 0);
        RunLoop::runUntilIdle();
        EXPECT_EQ(observer->snapshots(), 1);
    }
    registered("silent", {});
    manager_->taskManagerDidUpsertPendingSnapshots(anyTaskManager(), {snapshot("silent", {1})});
    EXPECT_EQ(monitor_->codes().back(), 800021);
}

TEST_F(Manager, AnExceptionInAQueueBlockIsLoggedAndTheQueueGoesOn) {
    manager_->dispatchAsyncOnSerialQueue([] { throw std::runtime_error("boom"); });
    manager_->dispatchSyncOnSerialQueue([] { throw std::runtime_error("bang"); });
    manager_->dispatchSyncOnSerialQueue([] {});
    EXPECT_EQ(monitor_->first(800017)->contexts[0], Value("boom"));
    EXPECT_EQ(monitor_->first(800018)->contexts[0], Value("bang"));
}

// Two lives of the experiment area on one file and one suite.
class Restart : public TaskManagerTest {
  protected:
    struct Life {
        std::shared_ptr<ZDMETaskManager> taskManager;
        std::shared_ptr<ZDMEManager> manager;
        std::shared_ptr<ZDMEClient> client;
        std::shared_ptr<Observer> observer = std::make_shared<Observer>();
    };
    Life start() {
        Life life;
        life.taskManager = makeTaskManager();
        life.manager = ZDMEManager::initWithTaskManager(life.taskManager);
        life.client = life.manager->registerSDKProperty(ZDMESDKProperty::initWithName("sdk"),
                                                        Dictionary{{"f", Value(-1)}});
        life.client->setDelegate(life.observer);
        life.manager->dispatchSyncOnSerialQueue([] {});
        life.taskManager->startTaskManager();
        settle(life);
        return life;
    }
    void settle(const Life& life) {
        for (int i = 0; i < 3; ++i) {
            onWorker(life.taskManager, [] {});
            life.manager->dispatchSyncOnSerialQueue([] {});
        }
    }
    void receiveAndActivate(const Life& life, std::vector<std::shared_ptr<ZDMEExperiment>> experiments) {
        life.manager->taskManagerDidFinishFetching(*life.taskManager,
                                                   {ZDMESnapshot::initWithSDKName("sdk", experiments)}, {});
        settle(life);
        ASSERT_TRUE(life.client->activateLatestSnapshot());
        settle(life);
    }
};

TEST_F(Restart, ANewLifeOnTheSameFileAnswersTheSameFlags) {
    {
        auto first = start();
        receiveAndActivate(first,
                           {experiment(0, {flag("g", Value(10))}), experiment(5, {flag("f", Value(5))})});
        EXPECT_EQ(first.client->valueForFlag("f"), Value(5));
        EXPECT_EQ(first.client->valueForFlag("g"), Value(10));
    }
    auto second = start();
    EXPECT_EQ(second.client->valueForFlag("f"), Value(5));
    EXPECT_EQ(second.client->valueForFlag("g"), Value(10));
}

TEST_F(Restart, LaunchedFlagsActivatedAloneStayInForceAfterARestart) {
    {
        auto first = start();
        receiveAndActivate(first, {experiment(5, {flag("f", Value(5))})});
        receiveAndActivate(first, {experiment(0, {flag("f", Value(0))})});
        EXPECT_EQ(first.client->valueForFlag("f"), Value(0));
    }
    auto second = start();
    EXPECT_EQ(second.client->valueForFlag("f"), Value(0));
}

}  // namespace
