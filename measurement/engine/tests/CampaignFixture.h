#pragma once
// Engines that talk to a recording server on 127.0.0.1 (every service of the library is pointed at
// it through QUORVANE_MEASUREMENT_URL), with stand-in platform classes for the tracking state, and
// the campaign events they stored read back from the database file.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMPlatformIdentitySupport.h"
#include "measurement/foundation/ZDMRawEventData.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/testing/AnsweringObject.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "platform/zed/ZEDUdovade.h"
#include "testing/EnvironmentOverride.h"

class CampaignFixture : public EngineFixture {
  protected:
    static constexpr const char* kAppID = "1:123456:ios:abcdef";
    static constexpr const char* kBundleID = "com.example.quorvane";
    static constexpr const char* kAdvertisingID = "6F1D2A3B-4C5D-4E6F-8A9B-0C1D2E3F4A5B";

    CampaignFixture() {
        // The identity learns the tracking state through this class, found by name.
        Runtime::registerClass("ZDMPlatformIdentitySupport", ZDMPlatformIdentitySupport::classObject());
        environment_.set("QUORVANE_MEASUREMENT_URL", server_.url().c_str());
        // The configuration server is unavailable, which backs the engine's uploads off for hours:
        // an upload would bundle away the raw campaign events these tests read.
        server_.scriptPrefix("/config/", {{503, {}, ""}});
        setInfoPlist({});
    }
    ~CampaignFixture() override {
        for (const auto& engine : networkEngines_) drain(*engine);
        networkEngines_.clear();
        Runtime::unregisterClass("ATTrackingManager");
        Runtime::unregisterClass("ASIdentifierManager");
        Bundle::resetMainBundle();
    }

    void setInfoPlist(Dictionary extra) {
        extra.set("CFBundleIdentifier", Value(kBundleID));
        Bundle::setMainBundle(std::make_shared<Bundle>(std::move(extra)));
    }
    // The platform's tracking authorisation; made before the engine starts, when the identity reads it.
    static void setTrackingStatus(int64_t status) {
        Runtime::registerClass("ATTrackingManager",
                               std::make_shared<const AnsweringObject>(
                                   AnsweringObject::Answers{{"trackingAuthorizationStatus", status}}));
    }
    // An advertising identifier the user lets apps track by.
    static void setAdvertisingID() {
        const auto manager = std::make_shared<const AnsweringObject>(AnsweringObject::Answers{
            {"advertisingIdentifier", Value(kAdvertisingID)}, {"isAdvertisingTrackingEnabled", Value(true)}});
        Runtime::registerClass(
            "ASIdentifierManager",
            std::make_shared<const AnsweringObject>(AnsweringObject::Answers{
                {"sharedManager", Value(std::static_pointer_cast<const Object>(manager))}}));
    }

    // An enabled engine whose start has run, with a network client of its own.
    std::shared_ptr<ZDMMeasurement> startedEngine() {
        auto scheduler = ZDMScheduler::initWithWorkerQueueLabel(ZDMScheduler::kWorkerQueueLabel);
        auto alarm = ZDMAlarm::make(scheduler->workerQueue(), ZDMMeasurement::kAlarmName);
        auto engine = ZDMMeasurement::initWithDatabaseName(
            ZDMMeasurement::kDatabaseName, ZDMPersistedConfig::sharedInstance(),
            ZEDUdovade::initWithReachabilityHost("127.0.0.1"), std::move(scheduler), std::move(alarm), kAppID,
            true, false, {}, nullptr);
        networkEngines_.push_back(engine);
        drain(*engine);
        EXPECT_TRUE(engine->isEnabled());
        return engine;
    }

    // The stored events of these names, oldest first.
    std::vector<std::shared_ptr<ZDMEvent>> storedEvents(ZDMMeasurement& engine,
                                                        const std::vector<std::string>& names = {"_cmp",
                                                                                                 "_cmpx"}) {
        std::vector<std::shared_ptr<ZDMRawEventData>> rows;
        // Read on the worker queue: a read of the file while the engine writes would make the
        // engine's write fail as busy, and the event would be lost.
        onWorkerQueue(engine, [&] {
            RawFile file(databasePath());
            for (const std::string& fingerprint :
                 file.rows("SELECT DISTINCT metadata_fingerprint FROM raw_events")) {
                const auto found = engine.database()->rawEventsWithMetadataFingerprint(
                    std::stoll(fingerprint), nullptr, nullptr);
                if (found) rows.insert(rows.end(), found->begin(), found->end());
            }
        });
        std::ranges::sort(rows, {}, &ZDMRawEventData::rowID);
        std::vector<std::shared_ptr<ZDMEvent>> events;
        for (const auto& row : rows)
            if (std::ranges::find(names, row->rawEvent()->name()) != names.end())
                events.push_back(row->rawEvent());
        return events;
    }
    // The event's parameters as plain values (texts and integers), without the origin mark "_o".
    static std::map<std::string, Value> plainParameters(const ZDMEvent& event) {
        std::map<std::string, Value> plain;
        for (const auto& [name, value] : event.parameters()) {
            const auto wrapped = value.objectAs<ZDMValue>();
            if (!wrapped || name == "_o") continue;
            if (wrapped->isString())
                plain[name] = Value(wrapped->stringValue().value_or(""));
            else
                plain[name] = Value(wrapped->int64Value());
        }
        return plain;
    }

    LocalHttpServer server_;

  private:
    EnvironmentOverride environment_;
    std::vector<std::shared_ptr<ZDMMeasurement>> networkEngines_;
};
