// The engine following the app's life: the notifications it subscribes to and what each sets off, for
// a real engine over a real sqlite file on the manual clock, whose measurement hosts are a recording
// HTTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMDeepLink.h"
#include "measurement/engine/ZDMScreenViewReporter.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMNotificationNames.h"
#include "measurement/foundation/tests/MeasurementConfigFixture.h"
#include "measurement/foundation/tests/SynchronizeRecorder.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/URL.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "platform/zed/ZEDUdovade.h"
#include "testing/EnvironmentOverride.h"
#include "testing/Eventually.h"

namespace {

constexpr const char* kAppID = "1:123456:ios:abcdef";
constexpr double kDay = 86400;

class Lifecycle : public EngineFixture {
  protected:
    Lifecycle() {
        // Bundles name the app they come from.
        Bundle::setMainBundle(
            std::make_shared<Bundle>(Dictionary{{"CFBundleIdentifier", Value("com.example.app")}}));
        environment_.set("QUORVANE_MEASUREMENT_URL", server_.url().c_str());
        // The lifecycle's own lines are verbose (8).
        monitor_->setDebugModeEnabled(true);
        monitor_->setVerboseLoggingEnabled(true);
    }
    ~Lifecycle() override {
        settle();
        Bundle::resetMainBundle();
    }

    // An engine with a real network client whose components are made, so it has subscribed.
    void start(std::shared_ptr<ZDMPersistedConfig> persistedConfig = ZDMPersistedConfig::sharedInstance()) {
        auto scheduler = ZDMScheduler::initWithWorkerQueueLabel(ZDMScheduler::kWorkerQueueLabel);
        auto alarm = ZDMAlarm::make(scheduler->workerQueue(), ZDMMeasurement::kAlarmName);
        engine_ = ZDMMeasurement::initWithDatabaseName(
            ZDMMeasurement::kDatabaseName, std::move(persistedConfig),
            ZEDUdovade::initWithReachabilityHost("127.0.0.1"), std::move(scheduler), std::move(alarm), kAppID,
            true, false, {}, nullptr);
        ASSERT_TRUE(engine_);
        drain(*engine_);
        ASSERT_TRUE(engine_->didInitializeComponents());
    }

    // A configuration stored `age` seconds ago, with internal events blocked or not. The wall clock
    // moves on by `age` without the monotonic one, so no timer of the engine falls due.
    void storeConfiguration(bool blockInternal, double age) {
        auto config = measurement_test::measurementConfig(
            kAppID, {{"measurement.upload.blacklist_internal", blockInternal ? "1" : "0"}}, {}, {});
        onWorkerQueue(*engine_,
                      [&] { ASSERT_TRUE(engine_->remoteConfigInstance()->updateMeasurementConfig(config)); });
        ASSERT_EQ(engine_->remoteConfigInstance()->blocklistInternal(), blockInternal);
        clock_->setWallTime(clock_->now() + age);
    }

    void post(const std::string& name) {
        NotificationCenter::defaultCenter().post(name);
        settle();
    }
    // What the facade and the engine were handed has run, and the requests started have been answered.
    void settle() {
        for (int round = 0; round < 2; ++round) {
            if (const auto operations = ZDMAnalytics::operationQueue(); !operations->isSuspended())
                operations->waitUntilAllOperationsAreFinished();
            ZDMAnalytics::queue()->sync([] {});
            if (engine_) drain(*engine_);
            BackgroundActivity::waitUntilIdle(kTestPatience.count());
        }
    }

    size_t configurationFetches() {
        return requests([](const LocalHttpServer::Request& r) {
            return r.method == "GET" && r.path.starts_with("/config/app/");
        });
    }
    size_t uploads() {
        return requests(
            [](const LocalHttpServer::Request& r) { return r.method == "POST" && r.path == "/a"; });
    }
    template <class Match>
    size_t requests(Match match) {
        const auto received = server_.received();
        return std::count_if(received.begin(), received.end(), match);
    }

    LocalHttpServer server_;
    EnvironmentOverride environment_;
    std::shared_ptr<ZDMMeasurement> engine_;
};

}  // namespace

struct ActivationCase {
    bool blockInternal;
    double age;
    bool pending;
    size_t fetches;
    bool ignored;  // 23143
};

class Activation : public Lifecycle, public testing::WithParamInterface<ActivationCase> {};

// Only while the server blocks internal events does activation refresh the configuration, and only
// one a week old or older, and not while another request is pending.
TEST_P(Activation, FetchesAWeekOldConfigurationOnlyWhileInternalEventsAreBlocked) {
    const ActivationCase& c = GetParam();
    start();
    storeConfiguration(c.blockInternal, c.age);
    engine_->setIsNetworkRequestPending(c.pending);
    const size_t before = configurationFetches();
    post(ZDMAppDidBecomeActiveNotificationName());
    EXPECT_EQ(configurationFetches() - before, c.fetches);
    EXPECT_EQ(countOf(23143), c.ignored ? 1 : 0);
    engine_->setIsNetworkRequestPending(false);
}

INSTANTIATE_TEST_SUITE_P(Lifecycle, Activation,
                         testing::Values(ActivationCase{false, 30 * kDay, false, 0, false},
                                         ActivationCase{true, 6 * kDay, false, 0, false},
                                         ActivationCase{true, 7 * kDay, false, 1, false},
                                         ActivationCase{true, 7 * kDay, true, 0, true}));

// Before the facade has started, the upload that a resignation asks for waits on the facade's held
// operation queue; the start releases it (an upload cycle that, with nothing to send and no
// configuration yet, fetches one). After the start a resignation uploads what is pending at once,
// without waiting for the upload timer.
TEST_F(Lifecycle, ResigningAsksForAnUploadThroughTheFacadeOnceItHasStarted) {
    LocalHttpServer::Answer notFound;
    notFound.status = 404;
    server_.scriptPrefix("/config/app/", {notFound, notFound});
    ZDMMeasurement::initializeSharedInstanceWithAppID(kAppID, true, false, {});
    engine_ = ZDMMeasurement::sharedInstance();
    settle();
    ASSERT_TRUE(engine_->didInitializeComponents());
    forgetStartUpReports(*engine_);
    // As the app's service file names it.
    engine_->identity()->setAppIDFromZOR(kAppID);

    const size_t held = ZDMAnalytics::operationQueue()->operationCount();
    post(ZDMAppWillResignActiveNotificationName());
    EXPECT_EQ(ZDMAnalytics::operationQueue()->operationCount(), held + 1);
    EXPECT_TRUE(server_.received().empty());

    ZDMAnalytics::startWithAppID(kAppID, "za", {});
    settle();
    EXPECT_EQ(configurationFetches(), 1u);
    EXPECT_EQ(uploads(), 0u);

    ZDMAnalytics::logEventWithName("cycled", std::nullopt);
    settle();
    EXPECT_EQ(uploads(), 0u);
    post(ZDMAppWillResignActiveNotificationName());
    EXPECT_EQ(uploads(), 1u);
    EXPECT_EQ(countOf(23144), 2);
}

// The persisted values reach the disk when the app resigns; the notification comes on whatever
// thread posts it, and off the main thread the write is immediate.
TEST_F(Lifecycle, ResigningWritesThePersistedConfiguration) {
    auto store = std::make_shared<SynchronizeRecorder>();
    start(std::make_shared<ZDMPersistedConfig>(ZDMPersistedConfig::kSuiteName, store));
    const size_t before = store->synchronized().size();
    DispatchQueue::serial("poster")->sync(
        [] { NotificationCenter::defaultCenter().post(ZDMAppWillResignActiveNotificationName()); });
    EXPECT_EQ(store->synchronized().size(), before + 1);
}

// The launch makes the screen-view reporter, which therefore sees the app's first activation; a
// launch that carries a link keeps it for the engine to report.
TEST_F(Lifecycle, TheLaunchMakesTheScreenViewReporterBeforeAnyActivation) {
    const auto link = URL::URLWithString("quorvane://open?utm_source=launch");
    NotificationCenter::defaultCenter().post(
        ZDMAppDidFinishLaunchingNotificationName(), nullptr,
        Value(Dictionary{{"UIApplicationLaunchOptionsURLKey", Value(std::shared_ptr<const Object>(link))}}));
    NotificationCenter::defaultCenter().post(ZDMAppDidBecomeActiveNotificationName());
    RunLoop::runUntilIdle();
    EXPECT_TRUE(ZDMScreenViewReporter::sharedInstance()->isAppActive());
    EXPECT_EQ(ZDMUserDefaults::standardUserDefaults()->stringForKey(kZDMDeepLinkKey),
              "quorvane://open?utm_source=launch");
}

// Without the launch notification the reporter made later has missed the activation.
TEST_F(Lifecycle, AReporterMadeAfterTheActivationMissedIt) {
    NotificationCenter::defaultCenter().post(ZDMAppDidBecomeActiveNotificationName());
    RunLoop::runUntilIdle();
    EXPECT_FALSE(ZDMScreenViewReporter::sharedInstance()->isAppActive());
}
