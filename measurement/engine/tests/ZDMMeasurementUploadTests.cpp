// Upload scheduling, the upload and the configuration fetch: a real engine over a real sqlite file
// on the manual clock, talking to a recording HTTP server on 127.0.0.1 that every measurement host
// is routed to.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "measurement/engine/VUZArezivodo.h"
#include "measurement/engine/ZDMEngineAudience.h"
#include "measurement/engine/ZDMMeasurementBundleFields.h"
#include "measurement/engine/ZDMMeasurementIdle.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/engine/tests/FakePSMClient.h"
#include "measurement/foundation/ZDMDataMD5.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "measurement/wire/ZDMPBConfigMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Runtime.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "platform/zed/ZEDUdovade.h"
#include "platform/zudedaro/ZUDApp.h"
#include "testing/EnvironmentOverride.h"
#include "testing/Eventually.h"

namespace {

constexpr const char* kAppID = "1:123456:ios:abcdef";
constexpr double kHour = 3600;
// Event and MeasurementConfig fields by index.
constexpr int32_t kEventName = 1;
constexpr int32_t kEventParams = 0, kParamName = 0;
constexpr int32_t kConfigAppID = 1, kConfigSettings = 3, kConfigAudiences = 5;
constexpr int32_t kSettingKey = 0, kSettingValue = 1;
constexpr int32_t kAudienceID = 0;

using WireBundle = std::shared_ptr<const ZDMPBMeasurementBundle>;

std::vector<WireBundle> bundlesOf(const LocalHttpServer::Request& request) {
    std::vector<WireBundle> out;
    const auto batch = ZDMPBMeasurementBatch::initWithBuffer(Data(request.body.begin(), request.body.end()));
    if (!batch) return out;
    for (const Value& element :
         ZDMPBGetArray(batch.get(), 0, &ZDMPBMeasurementBundle::messageClass()).value_or(Value::Array{}))
        out.push_back(element.objectAs<ZDMPBMeasurementBundle>());
    return out;
}

template <class T>
std::vector<std::shared_ptr<const T>> messages(const NANOMessageBase* message, int32_t index) {
    std::vector<std::shared_ptr<const T>> out;
    for (const Value& element : ZDMPBGetArray(message, index, &T::messageClass()).value_or(Value::Array{}))
        out.push_back(element.objectAs<T>());
    return out;
}

std::vector<std::string> eventNames(const WireBundle& bundle) {
    std::vector<std::string> names;
    for (const auto& event : messages<ZDMPBEvent>(bundle.get(), kBundleEvents))
        names.push_back(ZDMPBGetString(event.get(), kEventName).value_or(""));
    return names;
}

std::vector<std::string> parameterNames(const std::shared_ptr<const ZDMPBEvent>& event) {
    std::vector<std::string> names;
    for (const auto& param : messages<ZDMPBEventParam>(event.get(), kEventParams))
        names.push_back(ZDMPBGetString(param.get(), kParamName).value_or(""));
    return names;
}

LocalHttpServer::Answer answer(int status, httplib::Headers headers = {}, std::string body = "") {
    LocalHttpServer::Answer out;
    out.status = status;
    out.headers = std::move(headers);
    out.body = std::move(body);
    out.contentType = "application/octet-stream";
    return out;
}

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

class Upload : public EngineFixture {
  protected:
    Upload() {
        Dictionary info;
        info.set("CFBundleIdentifier", Value("com.example.app"));
        info.set("CFBundleShortVersionString", Value("1.0"));
        Bundle::setMainBundle(std::make_shared<Bundle>(info));
        environment_.set("QUORVANE_MEASUREMENT_URL", server_.url().c_str());
        debugMode(false);
    }
    ~Upload() override {
        if (engine_) settle();
        ZDMEngineAudience::setFactory(nullptr);
        Bundle::resetMainBundle();
    }

    // An engine of the test's own with a real network client, its components made, the start's
    // reports forgotten, the configuration file's app ID known and nothing scheduled yet.
    void start() {
        auto scheduler = ZDMScheduler::initWithWorkerQueueLabel(ZDMScheduler::kWorkerQueueLabel);
        auto alarm = ZDMAlarm::make(scheduler->workerQueue(), ZDMMeasurement::kAlarmName);
        engine_ = ZDMMeasurement::initWithDatabaseName(
            ZDMMeasurement::kDatabaseName, ZDMPersistedConfig::sharedInstance(),
            ZEDUdovade::initWithReachabilityHost("127.0.0.1"), std::move(scheduler), std::move(alarm), kAppID,
            true, false, {}, nullptr);
        ASSERT_TRUE(engine_);
        forgetStartUpReports(*engine_);
        // The start's reports armed the first upload; each test arms its own.
        onWorker([&] { engine_->alarm()->cancel(); });
        ASSERT_TRUE(engine_->database());
        engine_->identity()->setAppIDFromZOR(kAppID);
        db_ = engine_->database();
        persisted_ = engine_->persistedConfig();
    }
    // Verbose lines (8) are what tell the scheduling steps apart.
    void debugMode(bool enabled) {
        monitor_->setDebugModeEnabled(enabled);
        monitor_->setVerboseLoggingEnabled(true);
    }
    void onWorker(const std::function<void()>& block) { onWorkerQueue(*engine_, block); }
    bool idle() {
        bool idle = false;
        onWorker([&] {
            idle = !engine_->isNetworkRequestPending() && !engine_->network()->hasUploadInProgress();
        });
        return idle;
    }
    // Waits until no request is in flight and its completion has run, and whatever that scheduled:
    // a second look comes after any block the completion queued while the first was waiting.
    void settle() {
        ASSERT_TRUE(eventually([&] { return idle() && idle(); }));
    }
    void setting(const std::string& key, const std::string& value) {
        engine_->remoteConfigInstance()->cacheValue(Value(value), key);
    }
    double now() const { return Clock::current().now(); }
    // The configuration counts as fetched just now, so an upload goes straight to the queue.
    void freshConfiguration() { ASSERT_TRUE(db_->updateRemoteConfigSuccessfulTimestamp(now())); }

    // A raw event stamped `timestamp` under metadata naming `appID`.
    void rawEvent(double timestamp, bool realtime = false, const std::string& appID = "com.example.app") {
        auto metadata = ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
        ZDMPBSetString(metadata.get(), kBundleAppID, appID);
        ASSERT_TRUE(db_->insertIfNotExistsRawEventMetadata(metadata.get()));
        const auto event = ZDMEvent::initWithOrigin("app", true, "cycled", timestamp, 0, {});
        ASSERT_TRUE(db_->insertRawEvent(event.get(), zdm_64LSBMD5(*metadata->protoBuffer()), realtime));
    }
    void queueBundle(const std::string& appID, const std::string& eventName = "cycled") {
        auto bundle = ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
        ZDMPBSetString(bundle.get(), kBundleAppID, appID);
        ZDMPBSetInt64(bundle.get(), kBundleEndMillis, int64_t(now() * 1000));
        const auto event = ZDMPBEvent::initWithMessageInfo(nullptr);
        ZDMPBSetString(event.get(), kEventName, eventName);
        ZDMPBSetArray(bundle.get(), kBundleEvents,
                      Value::Array{Value(std::static_pointer_cast<const Object>(event))});
        ASSERT_TRUE(db_->insertBundle(bundle.get(), false));
    }
    int64_t queuedCount() { return int64_t(RawFile(databasePath()).rows("SELECT rowid FROM queue").size()); }
    std::vector<LocalHttpServer::Request> requests(const std::string& path) {
        std::vector<LocalHttpServer::Request> out;
        for (auto& request : server_.received())
            if (request.path == path) out.push_back(request);
        return out;
    }
    // Runs one upload attempt and waits for its answer to be handled.
    void uploadNow() {
        onWorker([&] { engine_->uploadData(); });
        settle();
    }
    std::optional<double> alarmIn() {
        std::optional<double> in;
        onWorker([&] {
            if (const auto& due = engine_->alarm()->scheduledTimestamp())
                in = due->timeIntervalSince1970() - now();
        });
        return in;
    }
    // The first cycle of an install, 15 s of clock after its events (the start's first open, its
    // session and "cycled"): the configuration is fetched (answered 404), then everything is
    // uploaded in one batch (answered 204).
    void expectFirstCycle() {
        db_ = engine_->database();
        persisted_ = engine_->persistedConfig();
        server_.script(configPath(), {answer(404)});
        server_.script("/a", {answer(204)});
        clock_->advance(14);
        settle();
        EXPECT_EQ(server_.received().size(), 0u) << "nothing before the initial delay";
        clock_->advance(1);
        ASSERT_TRUE(server_.waitForRequests("/a", 1));
        settle();

        const auto all = server_.received();
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[0].method, "GET");
        EXPECT_EQ(all[0].path, configPath());
        std::vector<std::string> keys;
        for (const auto& [key, value] : all[0].query) keys.push_back(key);
        EXPECT_EQ(keys, (std::vector<std::string>{"app_instance_id", "platform", "runtime_version",
                                                  "zor_version"}));
        EXPECT_EQ(all[0].query[1].second, "macos");
        EXPECT_EQ(all[0].query[2].second, "0");
        EXPECT_EQ(all[0].query[3].second, "101300");

        EXPECT_EQ(all[1].method, "POST");
        EXPECT_EQ(all[1].path, "/a");
        const auto bundles = bundlesOf(all[1]);
        ASSERT_FALSE(bundles.empty());
        std::vector<std::string> names;
        const int64_t uploadMillis = ZDMPBGetInt64(bundles[0].get(), kBundleUploadMillis);
        for (const auto& bundle : bundles) {
            for (const auto& name : eventNames(bundle)) names.push_back(name);
            EXPECT_EQ(ZDMPBGetInt64(bundle.get(), kBundleUploadLibraryVersion), 101300);
            EXPECT_EQ(ZDMPBGetString(bundle.get(), kBundleConsentSignals), "G1--");
            EXPECT_TRUE(ZDMPBHasField(bundle.get(), kBundleAppInstanceID));
            EXPECT_EQ(ZDMPBGetInt64(bundle.get(), kBundleUploadMillis), uploadMillis);
        }
        EXPECT_EQ(uploadMillis, int64_t(now() * 1000));
        EXPECT_EQ(eventNames(bundles[0]), std::vector<std::string>{"_f"});
        EXPECT_EQ(names, (std::vector<std::string>{"_f", "_s", "_e", "cycled"}));

        EXPECT_EQ(queuedCount(), 0);
        EXPECT_DOUBLE_EQ(persisted_->lastSuccessfulUploadTimestamp(), now());
        EXPECT_EQ(persisted_->lastFailedUploadTimestamp(), 0);
        EXPECT_EQ(persisted_->lastBackoffTimestamp(), 0);
    }
    void fetch() {
        onWorker([&] { engine_->fetchRemoteConfig(); });
        settle();
    }
    // The configuration of the first body (an upload interval of 2 h) is still the stored one and the
    // one in force.
    void expectConfigurationKept(const ZDMPBMeasurementConfig& stored) {
        EXPECT_DOUBLE_EQ(engine_->remoteConfigInstance()->uploadingInterval(), 7200);
        EXPECT_EQ(db_->queryMeasurementConfigWithError()->protoBuffer(), stored.protoBuffer());
    }
    static std::shared_ptr<RecordingAudience> recordAudiences() {
        const auto recorder = std::make_shared<RecordingAudience>();
        ZDMEngineAudience::setFactory([recorder](std::shared_ptr<ZDMDatabase>) { return recorder; });
        return recorder;
    }
    static std::string configPath() { return std::string("/config/app/") + kAppID; }
    // A configuration for `appID` with one setting and the audiences of the given IDs.
    static std::string configBody(const std::string& appID, std::vector<int32_t> audienceIDs = {},
                                  const std::string& key = "measurement.upload.interval",
                                  const std::string& value = "7200000") {
        auto config = ZDMPBMeasurementConfig::initWithMessageInfo(nullptr);
        ZDMPBSetString(config.get(), kConfigAppID, appID);
        auto setting = ZDMPBSetting::initWithMessageInfo(nullptr);
        ZDMPBSetString(setting.get(), kSettingKey, key);
        ZDMPBSetString(setting.get(), kSettingValue, value);
        ZDMPBSetArray(config.get(), kConfigSettings,
                      Value::Array{Value(std::static_pointer_cast<const Object>(setting))});
        Value::Array audiences;
        for (int32_t id : audienceIDs) {
            auto audience = ZDMPBAudience::initWithMessageInfo(nullptr);
            ZDMPBSetInt32(audience.get(), kAudienceID, id);
            audiences.push_back(Value(std::static_pointer_cast<const Object>(audience)));
        }
        if (!audiences.empty()) ZDMPBSetArray(config.get(), kConfigAudiences, audiences);
        const Data bytes = *config->protoBuffer();
        return std::string(bytes.begin(), bytes.end());
    }

    LocalHttpServer server_;
    EnvironmentOverride environment_;
    std::shared_ptr<ZDMMeasurement> engine_;
    std::shared_ptr<ZDMDatabase> db_;
    std::shared_ptr<ZDMPersistedConfig> persisted_;
};

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
    server_.script(
        configPath(),
        {answer(200, {}, configBody(kAppID, {7, 9})),
         answer(200, {}, configBody("1:999:ios:other", {3}, "measurement.upload.interval", "10800000"))});
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
    server_.script(configPath(),
                   {answer(200, {}, configBody(kAppID)),
                    answer(200, {}, configBody(kAppID, {4}, "measurement.upload.interval", "10800000"))});
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
