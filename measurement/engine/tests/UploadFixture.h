#pragma once
// Upload scheduling, the upload and the configuration fetch: a real engine over a real sqlite file
// on the manual clock, talking to a recording HTTP server on 127.0.0.1 that every measurement host
// is routed to.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/ZDMEngineAudience.h"
#include "measurement/engine/ZDMMeasurementBundleFields.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMDataMD5.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "measurement/wire/ZDMPBConfigMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/foundation/Bundle.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "platform/zed/ZEDUdovade.h"
#include "testing/EnvironmentOverride.h"
#include "testing/Eventually.h"

inline constexpr const char* kAppID = "1:123456:ios:abcdef";
inline constexpr double kHour = 3600;
// Event and MeasurementConfig fields by index.
inline constexpr int32_t kEventName = 1;
inline constexpr int32_t kEventParams = 0, kParamName = 0;
inline constexpr int32_t kConfigAppID = 1, kConfigSettings = 3, kConfigAudiences = 5;
inline constexpr int32_t kSettingKey = 0, kSettingValue = 1;
inline constexpr int32_t kAudienceID = 0;

using WireBundle = std::shared_ptr<const ZDMPBMeasurementBundle>;

inline std::vector<WireBundle> bundlesOf(const LocalHttpServer::Request& request) {
    std::vector<WireBundle> out;
    const auto batch = ZDMPBMeasurementBatch::initWithBuffer(Data(request.body.begin(), request.body.end()));
    if (!batch) return out;
    for (const Value& element :
         ZDMPBGetArray(batch.get(), 0, &ZDMPBMeasurementBundle::messageClass()).value_or(Value::Array{}))
        out.push_back(element.objectAs<ZDMPBMeasurementBundle>());
    return out;
}

template <class T>
inline std::vector<std::shared_ptr<const T>> messages(const NANOMessageBase* message, int32_t index) {
    std::vector<std::shared_ptr<const T>> out;
    for (const Value& element : ZDMPBGetArray(message, index, &T::messageClass()).value_or(Value::Array{}))
        out.push_back(element.objectAs<T>());
    return out;
}

inline std::vector<std::string> eventNames(const WireBundle& bundle) {
    std::vector<std::string> names;
    for (const auto& event : messages<ZDMPBEvent>(bundle.get(), kBundleEvents))
        names.push_back(ZDMPBGetString(event.get(), kEventName).value_or(""));
    return names;
}

inline std::vector<std::string> parameterNames(const std::shared_ptr<const ZDMPBEvent>& event) {
    std::vector<std::string> names;
    for (const auto& param : messages<ZDMPBEventParam>(event.get(), kEventParams))
        names.push_back(ZDMPBGetString(param.get(), kParamName).value_or(""));
    return names;
}

inline LocalHttpServer::Answer answer(int status, httplib::Headers headers = {}, std::string body = "") {
    LocalHttpServer::Answer out;
    out.status = status;
    out.headers = std::move(headers);
    out.body = std::move(body);
    out.contentType = "application/octet-stream";
    return out;
}

class UploadFixture : public EngineFixture {
  protected:
    UploadFixture() {
        Dictionary info;
        info.set("CFBundleIdentifier", Value("com.example.app"));
        info.set("CFBundleShortVersionString", Value("1.0"));
        Bundle::setMainBundle(std::make_shared<Bundle>(info));
        environment_.set("QUORVANE_MEASUREMENT_URL", server_.url().c_str());
        debugMode(false);
    }
    ~UploadFixture() override {
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
    static std::string configPath() { return std::string("/config/app/") + kAppID; }
    // A configuration for `appID` with one setting and the given audiences.
    static std::string configBody(const std::string& appID,
                                  const std::vector<std::shared_ptr<ZDMPBAudience>>& audiences = {},
                                  const std::string& key = "measurement.upload.interval",
                                  const std::string& value = "7200000") {
        auto config = ZDMPBMeasurementConfig::initWithMessageInfo(nullptr);
        ZDMPBSetString(config.get(), kConfigAppID, appID);
        auto setting = ZDMPBSetting::initWithMessageInfo(nullptr);
        ZDMPBSetString(setting.get(), kSettingKey, key);
        ZDMPBSetString(setting.get(), kSettingValue, value);
        ZDMPBSetArray(config.get(), kConfigSettings,
                      Value::Array{Value(std::static_pointer_cast<const Object>(setting))});
        Value::Array list;
        for (const auto& audience : audiences)
            list.push_back(Value(std::static_pointer_cast<const Object>(audience)));
        if (!list.empty()) ZDMPBSetArray(config.get(), kConfigAudiences, list);
        const Data bytes = *config->protoBuffer();
        return std::string(bytes.begin(), bytes.end());
    }
    // Audiences of the given IDs and nothing else.
    static std::vector<std::shared_ptr<ZDMPBAudience>> bareAudiences(const std::vector<int32_t>& ids) {
        std::vector<std::shared_ptr<ZDMPBAudience>> audiences;
        for (int32_t id : ids) {
            audiences.push_back(ZDMPBAudience::initWithMessageInfo(nullptr));
            ZDMPBSetInt32(audiences.back().get(), kAudienceID, id);
        }
        return audiences;
    }

    LocalHttpServer server_;
    EnvironmentOverride environment_;
    std::shared_ptr<ZDMMeasurement> engine_;
    std::shared_ptr<ZDMDatabase> db_;
    std::shared_ptr<ZDMPersistedConfig> persisted_;
};
