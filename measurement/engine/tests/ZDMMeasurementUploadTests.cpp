// Upload scheduling, the upload and the configuration fetch.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "measurement/engine/VUZArezivodo.h"
#include "measurement/engine/ZDMMeasurementIdle.h"
#include "measurement/engine/tests/FakePSMClient.h"
#include "measurement/engine/tests/UploadFixture.h"
#include "platform/foundation/Runtime.h"
#include "platform/zudedaro/ZUDApp.h"

namespace {

// An audience evaluator that records what each configuration hands it.
struct RecordingAudience : ZDMEngineAudience {
    bool updateAudiences(const std::vector<std::shared_ptr<ZDMPBAudience>>& audiences) override {
        std::vector<int32_t> ids;
        for (const auto& audience : audiences) ids.push_back(ZDMPBGetInt32(audience.get(), kAudienceID));
        updates.push_back(ids);
        return accepts;
    }
    std::vector<std::vector<int32_t>> updates;
    bool accepts = true;
};

std::shared_ptr<RecordingAudience> recordAudiences() {
    const auto recorder = std::make_shared<RecordingAudience>();
    ZDMEngineAudience::setFactory([recorder](std::shared_ptr<ZDMDatabase>) { return recorder; });
    return recorder;
}

using Upload = UploadFixture;

// -- When --

TEST_F(Upload, NextUploadingTimeFollowsTheDataTheLastSuccessAndTheRetryLadder) {
    start();
    // With the data 200000 s old and no success, the first candidate x is the data time + 15 s.
    const double old = now() - 200000, x = old + 15;
    struct Case {
        const char* name;
        double dataTime;
        double lastSuccess;
        double lastFailure;
        bool debug;
        double expected;  // 0: none
    } cases[] = {
        {"data 100 s ago", now() - 100, 0, 0, false, now() - 85},
        {"data 100 s ahead", now() + 100, 0, 0, false, now() - 85},
        {"debug, data now", now(), 0, 0, true, now() + 1},
        {"success 10 min ago", now() - 100, now() - 600, 0, false, now() - 600 + kHour},
        {"failed with the data", old, 0, old, false, x + 1800},
        {"failed after retry 1", old, 0, x + 1800, false, x + 5400},
        {"failed after retry 2", old, 0, x + 5400, false, x + 12600},
        {"failed after retry 3", old, 0, x + 12600, false, x + 27000},
        {"failed after retry 4", old, 0, x + 27000, false, x + 55800},
        {"failed after retry 5", old, 0, x + 55800, false, x + 113400},
        {"retries spent", old, 0, x + 113400, false, 0},
    };
    for (const auto& c : cases) {
        RawFile(databasePath()).exec("DELETE FROM raw_events");
        rawEvent(c.dataTime);
        persisted_->setLastSuccessfulUploadTimestamp(c.lastSuccess);
        persisted_->setLastFailedUploadTimestamp(c.lastFailure);
        debugMode(c.debug);
        double next = -1;
        onWorker([&] { next = engine_->nextUploadingTime(); });
        EXPECT_DOUBLE_EQ(next, c.expected) << c.name;
    }
    debugMode(false);
    onWorker([&] { engine_->updateSchedule(); });
    EXPECT_FALSE(alarmIn()) << "spent retries set no timer";
    EXPECT_GE(countOf(23025), 1);
}

TEST_F(Upload, A503AnHourAgoKeepsTheNextUploadElevenHoursAway) {
    start();
    rawEvent(now() - 2 * kHour);
    persisted_->setLastFailedUploadTimestamp(now() - kHour);
    persisted_->setLastBackoffTimestamp(now() - kHour);
    onWorker([&] { engine_->updateSchedule(); });
    const auto in = alarmIn();
    ASSERT_TRUE(in);
    EXPECT_GE(*in, 11 * kHour);
}

TEST_F(Upload, AnEarlierTimerIsKeptALaterOneReplacedAndNoDataCancelsIt) {
    start();
    rawEvent(now() - 100);
    // The last success 3580 s ago puts the next upload 20 s away.
    persisted_->setLastSuccessfulUploadTimestamp(now() - 3580);
    onWorker([&] {
        engine_->alarm()->runAfterDelay([] {}, 5);
        engine_->updateSchedule();
    });
    EXPECT_EQ(countOf(23027), 1);
    EXPECT_NEAR(*alarmIn(), 5, 1e-6);

    onWorker([&] {
        engine_->alarm()->runAfterDelay([] {}, 60);
        engine_->updateSchedule();
    });
    EXPECT_NEAR(*alarmIn(), 20, 1e-6);
    EXPECT_EQ(countOf(23028), 1);

    const int64_t noData = countOf(23024);
    RawFile(databasePath()).exec("DELETE FROM raw_events");
    onWorker([&] { engine_->updateSchedule(); });
    EXPECT_FALSE(alarmIn());
    EXPECT_EQ(countOf(23024), noData + 1);
}

// -- The upload cycle --

TEST_F(Upload, TheFirstCycleFetchesTheConfigurationThenUploadsWhatWasLogged) {
    ZDMMeasurement::initializeSharedInstanceWithAppID(kAppID, true, false, {});
    engine_ = ZDMMeasurement::sharedInstance();
    ASSERT_TRUE(engine_);
    drain(*engine_);
    engine_->identity()->setAppIDFromZOR(kAppID);
    engine_->logEventWithOrigin("app", true, "cycled", std::nullopt, now(), true, false, false, nullptr, {});
    drain(*engine_);
    expectFirstCycle();
}

// The app configures the core library, which starts the analytics interface with the app ID of
// the service file among the app's resources.
class UploadThroughInterface : public Upload {
  protected:
    UploadThroughInterface() {
        const auto resources = home_.path() / "Resources";
        std::filesystem::create_directories(resources);
        std::ofstream(resources / "ZizodaService-Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>ZIZODA_APP_ID</key><string>"
            << kAppID << "</string></dict></plist>\n";
        environment_.set("QUORVANE_RESOURCES", resources.c_str());
        registerMeasurementHooks();
    }
    ~UploadThroughInterface() override {
        ZDMWaitUntilMeasurementIdle(20);
        Runtime::unregisterClass(VUZArezivodo::kClassName);
    }
};

TEST_F(UploadThroughInterface, ConfigureAndCycledReachTheServerInTheFirstCycle) {
    ZUDApp::configure();
    VUZArezivodo::logEventWithName("cycled", std::nullopt);
    ASSERT_TRUE(ZDMWaitUntilMeasurementIdle(20));
    engine_ = ZDMMeasurement::sharedInstance();
    ASSERT_TRUE(engine_);
    expectFirstCycle();
}

TEST_F(Upload, AFailedUploadKeepsTheBundlesAndCountsARetry) {
    start();
    freshConfiguration();
    struct Case {
        int status;
        bool backsOff;
    } cases[] = {{500, false}, {503, true}};
    for (const auto& c : cases) {
        RawFile(databasePath()).exec("DELETE FROM queue");
        persisted_->setLastBackoffTimestamp(0);
        queueBundle("com.example.app");
        server_.script("/a", {answer(c.status), answer(204)});
        uploadNow();
        EXPECT_EQ(queuedCount(), 1) << c.status;
        EXPECT_DOUBLE_EQ(persisted_->lastFailedUploadTimestamp(), now()) << c.status;
        EXPECT_DOUBLE_EQ(persisted_->lastBackoffTimestamp(), c.backsOff ? now() : 0) << c.status;

        uploadNow();
        const auto bundles = bundlesOf(requests("/a").back());
        ASSERT_EQ(bundles.size(), 1u);
        EXPECT_EQ(ZDMPBGetInt32(bundles[0].get(), kBundleRetryCount), 1) << c.status;
        EXPECT_EQ(queuedCount(), 0) << c.status;
    }
    EXPECT_EQ(countOf(23043), 2);
}

TEST_F(Upload, InDebugModeTheCycleStartsOneSecondAfterTheDataAndEventsAreMarked) {
    debugMode(true);
    start();
    freshConfiguration();
    server_.script("/a", {answer(204)});
    engine_->logEventWithOrigin("app", true, "cycled", std::nullopt, now(), true, false, false, nullptr, {});
    drain(*engine_);
    EXPECT_NEAR(*alarmIn(), 1, 1e-6);
    clock_->advance(1);
    ASSERT_TRUE(server_.waitForRequests("/a", 1));
    settle();
    bool found = false;
    for (const auto& bundle : bundlesOf(requests("/a").front())) {
        for (const auto& event : messages<ZDMPBEvent>(bundle.get(), kBundleEvents)) {
            const auto params = parameterNames(event);
            EXPECT_NE(std::find(params.begin(), params.end(), "_r"), params.end());
            EXPECT_NE(std::find(params.begin(), params.end(), "_dbg"), params.end());
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(Upload, BundlesOfAnotherAppGoInTheirOwnUpload) {
    start();
    freshConfiguration();
    queueBundle("com.example.first", "one");
    queueBundle("com.example.second", "two");
    server_.script("/a", {answer(204)});
    // The first upload's success goes on with the rest at once.
    uploadNow();
    const auto posts = requests("/a");
    ASSERT_EQ(posts.size(), 2u);
    const auto first = bundlesOf(posts[0]), second = bundlesOf(posts[1]);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(eventNames(first[0]), std::vector<std::string>{"one"});
    EXPECT_EQ(eventNames(second[0]), std::vector<std::string>{"two"});
    EXPECT_EQ(queuedCount(), 0);
}

TEST_F(Upload, TheChecksumIsTheFingerprintOfTheBundleWithoutIt) {
    start();
    freshConfiguration();
    setting("measurement.quality.checksum", "1");
    queueBundle("com.example.app");
    server_.script("/a", {answer(204)});
    uploadNow();
    const auto bundles = bundlesOf(requests("/a").at(0));
    ASSERT_EQ(bundles.size(), 1u);
    const int64_t checksum = ZDMPBGetInt64(bundles[0].get(), kBundleChecksum);
    auto withoutChecksum = ZDMPBMeasurementBundle::initWithMessageInfo(bundles[0]->messageInfo());
    ZDMPBClearField(withoutChecksum.get(), kBundleChecksum);
    EXPECT_NE(checksum, 0);
    EXPECT_EQ(checksum, zdm_64LSBMD5(*withoutChecksum->protoBuffer()));
}

TEST_F(Upload, UndeletableBundlesSuspendUploadsForAnHourOfBootClock) {
    start();
    freshConfiguration();
    queueBundle("com.example.app");
    RawFile(databasePath())
        .exec("CREATE TRIGGER keep_queue BEFORE DELETE ON queue BEGIN SELECT RAISE(ABORT, 'kept'); END");
    server_.script("/a", {answer(204)});
    uploadNow();
    EXPECT_EQ(countOf(23045), 1);
    EXPECT_EQ(queuedCount(), 1);
    EXPECT_GT(engine_->suspendedUploadTimestamp(), 0);

    const int64_t before = countOf(23023);
    onWorker([&] { engine_->updateSchedule(); });
    EXPECT_EQ(countOf(23023), before + 1);
    clock_->advance(3599);
    onWorker([&] { engine_->updateSchedule(); });
    EXPECT_EQ(countOf(23023), before + 2);
    clock_->advance(1);
    onWorker([&] { engine_->updateSchedule(); });
    EXPECT_EQ(countOf(23023), before + 2);
    EXPECT_EQ(engine_->suspendedUploadTimestamp(), 0);
    EXPECT_EQ(requests("/a").size(), 1u);
}

TEST_F(Upload, ASecondBundleListWhileOneIsInFlightIsRefused) {
    start();
    bool answer = true;
    onWorker([&] { answer = engine_->setUploadInProgressWithBundleIDs({}); });
    EXPECT_FALSE(answer);
    EXPECT_EQ(lastSampledMessage(), "E:Bundle list is empty. Cancelling upload");
    onWorker([&] {
        EXPECT_TRUE(engine_->setUploadInProgressWithBundleIDs({Value(int64_t{1})}));
        answer = engine_->setUploadInProgressWithBundleIDs({Value(int64_t{2})});
        EXPECT_EQ(engine_->uploadingBundleIDs(), (Value::Array{Value(int64_t{1})}));
    });
    EXPECT_FALSE(answer);
    EXPECT_EQ(lastSampledMessage(), "E:Set uploading progress before finishing the previous upload");
    // An upload that cannot record its rows sends nothing.
    freshConfiguration();
    queueBundle("com.example.app");
    uploadNow();
    EXPECT_TRUE(requests("/a").empty());
}

// -- The configuration fetch --

TEST_F(Upload, TheFetchSendsTheStoredValidatorsAndA304KeepsTheConfiguration) {
    start();
    server_.script(configPath(),
                   {answer(200, {{"ETag", "e1"}, {"Last-Modified", "Wed, 21 Oct 2026 07:28:00 GMT"}},
                           configBody(kAppID)),
                    answer(304)});
    fetch();
    EXPECT_FALSE(requests(configPath()).at(0).hasHeader("If-None-Match"));
    EXPECT_EQ(persisted_->configServerETag(), "e1");
    EXPECT_DOUBLE_EQ(engine_->remoteConfigInstance()->uploadingInterval(), 7200);

    fetch();
    const auto second = requests(configPath()).at(1);
    EXPECT_EQ(second.header("If-None-Match"), "e1");
    EXPECT_EQ(second.header("If-Modified-Since"), "Wed, 21 Oct 2026 07:28:00 GMT");
    EXPECT_DOUBLE_EQ(engine_->remoteConfigInstance()->uploadingInterval(), 7200);
    EXPECT_TRUE(db_->queryMeasurementConfigWithError());
    // The 304 carried no validators: none are kept.
    EXPECT_FALSE(persisted_->configServerETag());
    EXPECT_EQ(persisted_->lastFailedUploadTimestamp(), 0);
}

TEST_F(Upload, AcceptedAudiencesGoToTheEvaluatorAndAnotherAppsBodyChangesNothing) {
    const auto recorder = recordAudiences();
    start();
    server_.script(configPath(), {answer(200, {}, configBody(kAppID, bareAudiences({7, 9}))),
                                  answer(200, {},
                                         configBody("1:999:ios:other", bareAudiences({3}),
                                                    "measurement.upload.interval", "10800000"))});
    fetch();
    ASSERT_EQ(recorder->updates.size(), 1u);
    EXPECT_EQ(recorder->updates[0], (std::vector<int32_t>{7, 9}));
    const auto stored = db_->queryMeasurementConfigWithError();
    ASSERT_TRUE(stored);
    EXPECT_TRUE(messages<ZDMPBAudience>(stored.get(), kConfigAudiences).empty());
    EXPECT_DOUBLE_EQ(engine_->remoteConfigInstance()->uploadingInterval(), 7200);

    fetch();
    EXPECT_EQ(recorder->updates.size(), 1u);
    expectConfigurationKept(*stored);
}

TEST_F(Upload, RefusedAudiencesLeaveThePreviousConfigurationInForce) {
    const auto recorder = recordAudiences();
    start();
    server_.script(
        configPath(),
        {answer(200, {}, configBody(kAppID)),
         answer(200, {}, configBody(kAppID, bareAudiences({4}), "measurement.upload.interval", "10800000"))});
    fetch();
    const auto stored = db_->queryMeasurementConfigWithError();
    ASSERT_TRUE(stored);

    recorder->accepts = false;
    fetch();
    EXPECT_EQ(recorder->updates.size(), 2u);
    expectConfigurationKept(*stored);
}

TEST_F(Upload, AFailedFetchSharesTheUploadRetryAndBackOff) {
    start();
    rawEvent(now() - 100);
    struct Case {
        int status;
        bool backsOff;
    } cases[] = {{500, false}, {429, true}, {503, true}};
    for (const auto& c : cases) {
        persisted_->setLastBackoffTimestamp(0);
        server_.script(configPath(), {answer(c.status)});
        onWorker([&] { engine_->fetchRemoteConfig(); });
        settle();
        EXPECT_DOUBLE_EQ(persisted_->lastFailedUploadTimestamp(), now()) << c.status;
        EXPECT_DOUBLE_EQ(persisted_->lastBackoffTimestamp(), c.backsOff ? now() : 0) << c.status;
    }
    EXPECT_EQ(countOf(23128), 3);
    EXPECT_TRUE(requests("/a").empty());
}

TEST_F(Upload, HasDataToUploadAnswersNoWhenTheQueueCannotBeRead) {
    start();
    rawEvent(now());
    bool answer = false;
    onWorker([&] { answer = engine_->hasDataToUpload(); });
    EXPECT_TRUE(answer);
    RawFile(databasePath()).exec("DROP TABLE queue");
    onWorker([&] { answer = engine_->hasDataToUpload(); });
    EXPECT_FALSE(answer);
    EXPECT_EQ(countOf(23117), 1);
}

// An on-device conversion query must not share the network with an upload: it waits for the
// upload's answer and goes out after it.
TEST_F(Upload, AConversionQueryAskedDuringAnUploadGoesOutAfterIt) {
    start();
    freshConfiguration();
    queueBundle(kAppID);
    ScopedFakePSMClientClass client(server_.url("/psm"));
    server_.script("/psm", {textAnswer(200, "")});
    server_.script("/a", {textAnswer(204, "")});
    server_.hold("/a");
    onWorker([&] { engine_->uploadData(); });
    ASSERT_TRUE(server_.waitForRequests("/a", 1));

    engine_->setUserData(Dictionary{{"email_address", Value("a@example.com")}});
    drain(*engine_);
    EXPECT_EQ(countOf(23232), 1);
    EXPECT_TRUE(requests("/psm").empty());

    server_.release();
    ASSERT_TRUE(server_.waitForRequests("/psm", 1));
    ASSERT_TRUE(eventually([&] { return countOf(23230) == 1; }));
    const auto received = server_.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].path, "/a");
    EXPECT_EQ(received[1].path, "/psm");
    EXPECT_EQ(queuedCount(), 0);
}

}  // namespace
