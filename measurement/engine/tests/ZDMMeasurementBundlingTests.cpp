// Bundling raw events into the upload queue: raw rows and their metadata are put into the engine's
// real sqlite file directly, bundles are read back from the queue table and gunzipped.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "measurement/engine/ZDMMeasurementBundling.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMDataMD5.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBConfigMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/zazavaroveridiz/ZIZGzip.h"

namespace {

// 2026-01-01 00:00:00 UTC, the fixture's clock.
constexpr double kDay = 1767225600.0;
constexpr double kHour = 3600.0;

// MeasurementBundle and Event fields by index.
constexpr int32_t kEvents = 1, kStart = 4, kEnd = 5, kPreviousStart = 6, kPreviousEnd = 7, kAppID = 14,
                  kBundleIndex = 24, kToken = 43;
constexpr int32_t kEventParams = 0, kEventName = 1;
constexpr int32_t kParamName = 0, kParamInt = 2;

Data fromHex(const std::string& hex) {
    Data out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

class Bundling : public EngineFixture {
  protected:
    Bundling() {
        engine_ = makeEngine("1:123456:ios:abcdef");
        forgetStartUpReports(*engine_);
        db_ = engine_->database();
    }

    void setting(const std::string& key, Value value) {
        engine_->remoteConfigInstance()->cacheValue(value, key);
    }
    // A metadata row whose bundle names `appID` (and carries a session stitching token when given);
    // answers its fingerprint.
    int64_t metadata(const std::string& appID, const std::string& token = "") {
        auto bundle = ZDMPBMeasurementBundle::initWithMessageInfo(nullptr);
        ZDMPBSetString(bundle.get(), kAppID, appID);
        if (!token.empty()) ZDMPBSetString(bundle.get(), kToken, token);
        EXPECT_TRUE(db_->insertIfNotExistsRawEventMetadata(bundle.get()));
        return zdm_64LSBMD5(*bundle->protoBuffer());
    }
    void raw(const std::string& name, double timestamp, int64_t fingerprint, Dictionary parameters = {},
             const std::function<void(ZDMEvent&)>& adjust = {}) {
        const auto event =
            ZDMEvent::initWithOrigin("app", !name.starts_with("_"), name, timestamp, 0, parameters);
        ASSERT_TRUE(event) << name;
        if (adjust) adjust(*event);
        encodedSizes_.push_back(event->protoEvent()->protoBuffer()->size());
        ASSERT_TRUE(db_->insertRawEvent(event.get(), fingerprint, false));
    }
    bool bundle() {
        bool answer = false;
        onWorkerQueue(*engine_, [&] { answer = engine_->bundleRawEvents(); });
        return answer;
    }
    std::vector<std::string> rows(const std::string& sql) { return RawFile(databasePath()).rows(sql); }
    // Every queued bundle, gunzipped and decoded, in queue order.
    std::vector<std::shared_ptr<ZDMPBMeasurementBundle>> queued() {
        std::vector<std::shared_ptr<ZDMPBMeasurementBundle>> out;
        for (const auto& hex : rows("SELECT hex(data) FROM queue ORDER BY rowid")) {
            const auto bytes = ziz_dataByInflatingGzippedData(fromHex(hex));
            EXPECT_TRUE(bytes);
            if (bytes) out.push_back(ZDMPBMeasurementBundle::initWithBuffer(*bytes));
        }
        return out;
    }
    static std::vector<std::string> names(const ZDMPBMeasurementBundle& bundle) {
        std::vector<std::string> out;
        const auto events =
            ZDMPBGetArray(&bundle, kEvents, &ZDMPBEvent::messageClass()).value_or(Value::Array{});
        for (const auto& e : events)
            out.push_back(ZDMPBGetString(e.objectAs<NANOMessageBase>().get(), kEventName).value_or(""));
        return out;
    }
    // The integer parameters of the bundle's events, "name=value" joined by ",", one text per event.
    static std::vector<std::string> intParams(const ZDMPBMeasurementBundle& bundle) {
        std::vector<std::string> out;
        const auto events =
            ZDMPBGetArray(&bundle, kEvents, &ZDMPBEvent::messageClass()).value_or(Value::Array{});
        for (const auto& e : events) {
            std::string text;
            const auto params = ZDMPBGetArray(e.objectAs<NANOMessageBase>().get(), kEventParams,
                                              &ZDMPBEventParam::messageClass())
                                    .value_or(Value::Array{});
            for (const auto& p : params) {
                const auto param = p.objectAs<NANOMessageBase>();
                if (!ZDMPBHasField(param.get(), kParamInt)) continue;
                text += (text.empty() ? "" : ",") + ZDMPBGetString(param.get(), kParamName).value_or("") +
                        "=" + std::to_string(ZDMPBGetInt64(param.get(), kParamInt));
            }
            out.push_back(text);
        }
        return out;
    }
    // Every row of the table, each column quoted so that blobs compare whole.
    std::vector<std::string> dump(const std::string& table) {
        std::string columns;
        for (const auto& info : rows("SELECT name FROM pragma_table_info('" + table + "')"))
            columns += (columns.empty() ? "" : " || '|' || ") + std::string("quote(") + info + ")";
        return rows("SELECT " + columns + " FROM " + table + " ORDER BY rowid");
    }
    // Sampling on with the given per-name rates; the engine's rolls come from `rolls_` in order.
    // Settings given after this one stay: reading a configuration replaces the cached ones.
    void sampling(const std::map<std::string, int32_t>& rates) {
        auto config = ZDMPBMeasurementConfig::initWithBuffer(nullptr);
        ZDMPBSetString(config.get(), 1, engine_->appID());
        Value::Array eventConfigs;
        for (const auto& [name, rate] : rates) {
            auto eventConfig = ZDMPBEventConfig::initWithBuffer(nullptr);
            ZDMPBSetString(eventConfig.get(), 0, name);
            ZDMPBSetInt32(eventConfig.get(), 3, rate);
            eventConfigs.push_back(Value(std::static_pointer_cast<const Object>(eventConfig)));
        }
        ZDMPBSetArray(config.get(), 4, eventConfigs);
        engine_->remoteConfigInstance()->parseRemoteConfigFromMeasurementConfig(config.get());
        setting("measurement.event_sampling_enabled", Value("1"));
        ASSERT_TRUE(engine_->remoteConfigInstance()->isEventSamplingEnabled());
        engine_->setSamplingRandomSource([this](uint32_t bound) {
            bounds_.push_back(bound);
            const uint32_t roll = rolls_.empty() ? 0 : rolls_.front();
            if (!rolls_.empty()) rolls_.erase(rolls_.begin());
            return roll;
        });
    }
    static Value integer(int64_t value) { return Value(ZDMValue::initWithInt64(value)); }

    std::vector<size_t> encodedSizes_;
    std::vector<uint32_t> rolls_;
    std::vector<uint32_t> bounds_;
    std::shared_ptr<ZDMMeasurement> engine_;
    std::shared_ptr<ZDMDatabase> db_;
};

}  // namespace

TEST_F(Bundling, AClockHourEndsABundleAndBundlesAreNumberedAndChained) {
    const int64_t fp = metadata("app.one");
    // Row order is not time order: the bundle keeps row order but spans the smallest to largest time.
    raw("a", kDay + 10 * kHour + 3599, fp);
    raw("b", kDay + 10 * kHour + 1800.5, fp);
    raw("c", kDay + 11 * kHour, fp);

    EXPECT_TRUE(bundle());
    EXPECT_TRUE(bundle());
    EXPECT_FALSE(bundle());

    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 2u);
    const auto& first = *bundles[0];
    const auto& second = *bundles[1];
    EXPECT_EQ(names(first), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(names(second), (std::vector<std::string>{"c"}));
    EXPECT_EQ(ZDMPBGetInt32(&first, kBundleIndex), 1);
    EXPECT_EQ(ZDMPBGetInt32(&second, kBundleIndex), 2);
    EXPECT_EQ(ZDMPBGetInt64(&first, kStart), static_cast<int64_t>((kDay + 10 * kHour + 1800.5) * 1000));
    EXPECT_EQ(ZDMPBGetInt64(&first, kEnd), static_cast<int64_t>((kDay + 10 * kHour + 3599) * 1000));
    EXPECT_FALSE(ZDMPBHasField(&first, kPreviousEnd));
    EXPECT_FALSE(ZDMPBHasField(&first, kPreviousStart));
    EXPECT_EQ(ZDMPBGetInt64(&second, kPreviousEnd), ZDMPBGetInt64(&first, kEnd));
    EXPECT_EQ(ZDMPBGetInt64(&second, kPreviousStart), ZDMPBGetInt64(&first, kStart));
    EXPECT_EQ(ZDMPBGetString(&second, kAppID), "app.one");

    // Consumed rows and the metadata no row uses any more are gone; the engine may upload again.
    EXPECT_TRUE(rows("SELECT rowid FROM raw_events").empty());
    EXPECT_TRUE(rows("SELECT metadata_fingerprint FROM raw_events_metadata").empty());
    EXPECT_EQ(engine_->suspendedUploadTimestamp(), 0);
    EXPECT_EQ(countOf(23116), 2);
}

TEST_F(Bundling, AGapInRowIDsEndsTheGroupsBundle) {
    const int64_t a = metadata("app.a");
    const int64_t b = metadata("app.b");
    raw("a1", kDay + 1, a);
    raw("b1", kDay + 2, b);
    raw("a2", kDay + 3, a);

    EXPECT_TRUE(bundle());
    EXPECT_TRUE(bundle());
    EXPECT_TRUE(bundle());
    EXPECT_FALSE(bundle());

    std::vector<std::string> seen;
    for (const auto& q : queued()) {
        for (const auto& name : names(*q)) seen.push_back(*ZDMPBGetString(q.get(), kAppID) + ":" + name);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"app.a:a1", "app.b:b1", "app.a:a2"}));
}

TEST_F(Bundling, AnEventTooLargeForAnyBundleTravelsAloneAndTheRestFollow) {
    setting("measurement.upload.max_batch_size", Value("100"));
    const int64_t fp = metadata("app.one");
    raw("a", kDay + 1, fp);
    const std::string text(30, 'x');
    raw("big", kDay + 2, fp, Dictionary{{"p1", text}, {"p2", text}, {"p3", text}, {"p4", text}});
    raw("c", kDay + 3, fp);
    raw("d", kDay + 4, fp);
    ASSERT_GE(encodedSizes_[1], 100u);
    ASSERT_LT(encodedSizes_[0] + encodedSizes_[2] + encodedSizes_[3], 100u);

    for (int i = 0; i < 3; ++i) EXPECT_TRUE(bundle()) << i;
    EXPECT_FALSE(bundle());
    std::vector<std::vector<std::string>> groups;
    for (const auto& q : queued()) groups.push_back(names(*q));
    EXPECT_EQ(groups, (std::vector<std::vector<std::string>>{{"a"}, {"big"}, {"c", "d"}}));
}

TEST_F(Bundling, AnAllBlocklistedGroupIsDeletedWithItsMetadataAndMakesNoBundle) {
    setting("measurement.upload.blacklist_public", Value("1"));
    const int64_t fp = metadata("app.one");
    raw("x", kDay + 1, fp);
    raw("y", kDay + 2, fp);

    EXPECT_FALSE(bundle());
    EXPECT_TRUE(rows("SELECT rowid FROM raw_events").empty());
    EXPECT_TRUE(rows("SELECT metadata_fingerprint FROM raw_events_metadata").empty());
    EXPECT_TRUE(rows("SELECT rowid FROM queue").empty());
    EXPECT_TRUE(loggedInOrder({23099, 23099, 23100}));
}

TEST_F(Bundling, AFailedInsertLeavesEveryTableAsItWas) {
    const int64_t fp = metadata("app.one");
    raw("a", kDay + 1, fp);
    raw("b", kDay + 2, fp);
    ASSERT_TRUE(bundle());  // aggregates, bundle index and times exist before the failing attempt
    ASSERT_EQ(metadata("app.one"), fp);
    raw("a", kDay + 3, fp);
    raw("_s", kDay + 4, fp);
    raw("_e", kDay + 5, fp, Dictionary{{"_et", integer(700)}});
    RawFile(databasePath())
        .exec("CREATE TRIGGER refuse BEFORE INSERT ON queue BEGIN SELECT RAISE(ABORT, 'no'); END");

    std::vector<std::vector<std::string>> before;
    const auto tables = rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    for (const auto& table : tables) before.push_back(dump(table));
    EXPECT_FALSE(bundle());
    EXPECT_EQ(countOf(23115), 1);
    for (size_t i = 0; i < tables.size(); ++i) EXPECT_EQ(dump(tables[i]), before[i]) << tables[i];

    RawFile(databasePath()).exec("DROP TRIGGER refuse");
    EXPECT_TRUE(bundle());
    ASSERT_EQ(queued().size(), 2u);
    EXPECT_EQ(names(*queued()[1]), (std::vector<std::string>{"a", "_s", "_e"}));
}

TEST_F(Bundling, ConversionsBeyondTheDailyLimitLoseTheirMarkAndReservedNamesBecomeInternal) {
    setting("measurement.upload.max_conversions_per_day", Value("1"));
    const int64_t fp = metadata("app.one");
    const auto conversion = [](ZDMEvent& event) {
        event.setConversion(true);
        ASSERT_TRUE(event.isConversion());
    };
    raw("x", kDay + 1, fp, {}, conversion);
    raw("x", kDay + 2, fp, {}, conversion);
    raw("ad_impression", kDay + 3, fp);

    ASSERT_TRUE(bundle());
    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(names(*bundles[0]), (std::vector<std::string>{"x", "x", "_ai"}));
    const auto params = intParams(*bundles[0]);
    ASSERT_EQ(params.size(), 3u);
    EXPECT_NE(params[0].find("_c=1"), std::string::npos) << params[0];
    EXPECT_EQ(params[1].find("_c="), std::string::npos) << params[1];
    EXPECT_NE(params[1].find("_err="), std::string::npos) << params[1];
    EXPECT_EQ(countOf(23102), 1);
}

TEST_F(Bundling, ASessionStartResetsSessionEngagementWhileLifetimeEngagementGrows) {
    const int64_t fp = metadata("app.one");
    raw("_e", kDay + 1, fp, Dictionary{{"_et", integer(1000)}});
    raw("_e", kDay + 2, fp, Dictionary{{"_et", integer(2000)}});
    // A record that carries "_fr" is not counted.
    raw("_e", kDay + 3, fp, Dictionary{{"_et", integer(400)}, {"_fr", integer(0)}});
    ASSERT_TRUE(bundle());
    ASSERT_EQ(metadata("app.one"), fp);
    raw("_s", kDay + kHour, fp);
    raw("_e", kDay + kHour + 1, fp, Dictionary{{"_et", integer(500)}});
    ASSERT_TRUE(bundle());

    std::map<std::string, int64_t> stored;
    onWorkerQueue(*engine_, [&] {
        for (const char* name : {"_lte", "_se"})
            if (const auto attribute = db_->userAttributeWithName(name))
                stored[name] = attribute->value()->int64Value();
    });
    EXPECT_EQ(stored, (std::map<std::string, int64_t>{{"_lte", 3500}, {"_se", 500}}));

    // Each bundle carries the totals it made.
    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 2u);
    const std::vector<std::map<std::string, int64_t>> expected{{{"_lte", 3000}, {"_se", 3000}},
                                                               {{"_lte", 3500}, {"_se", 500}}};
    for (size_t i = 0; i < bundles.size(); ++i) {
        std::map<std::string, int64_t> carried;
        const auto attributes =
            ZDMPBGetArray(bundles[i].get(), 2, &ZDMPBUserAttribute::messageClass()).value_or(Value::Array{});
        for (const auto& a : attributes) {
            const auto attribute = a.objectAs<NANOMessageBase>();
            carried[ZDMPBGetString(attribute.get(), 1).value_or("")] = ZDMPBGetInt64(attribute.get(), 3);
        }
        EXPECT_EQ(carried, expected[i]) << i;
    }
}

TEST_F(Bundling, SamplingKeepsTheFirstOfTheDayAndWinningRollsAndDropsTheRest) {
    sampling({{"x", 10}, {"y", 1}});
    const int64_t fp = metadata("app.one");
    raw("x", kDay + 10 * kHour, fp);
    raw("x", kDay + 10 * kHour + 1, fp);
    raw("x", kDay + 10 * kHour + 2, fp);
    raw("y", kDay + 10 * kHour + 3, fp);
    rolls_ = {3, 0, 5};
    ASSERT_TRUE(bundle());
    EXPECT_EQ(bounds_, (std::vector<uint32_t>{10, 10, 10}));
    // Level-5 reports reach the health sample, not the console.
    EXPECT_NE(lastSampledMessage().find("Invalid sampling rate provided"), std::string::npos)
        << lastSampledMessage();

    auto bundles = queued();
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(names(*bundles[0]), (std::vector<std::string>{"x", "x", "y"}));
    EXPECT_EQ(intParams(*bundles[0]), (std::vector<std::string>{"_sr=10,_efs=1", "_sr=10", ""}));
    EXPECT_EQ(rows("SELECT last_sampling_rate, last_exempt_from_sampling, last_sampled_complex_event_id, "
                   "last_bundled_day FROM events WHERE name = 'x'"),
              (std::vector<std::string>{"10|1|NULL|" + std::to_string(static_cast<int>(kDay / 86400))}));

    // Every event of the next group is dropped: no bundle, but its rows are consumed.
    ASSERT_EQ(metadata("app.one"), fp);
    raw("x", kDay + 11 * kHour, fp);
    rolls_ = {4};
    EXPECT_TRUE(bundle());
    EXPECT_NE(lastSampledMessage().find("No events left after sampling"), std::string::npos)
        << lastSampledMessage();
    EXPECT_EQ(queued().size(), 1u);
    EXPECT_TRUE(rows("SELECT rowid FROM raw_events").empty());
}

TEST_F(Bundling, SamplingDaysFollowTheAccountsTimeZone) {
    sampling({{"x", 10}});
    setting("measurement.account.time_zone_offset_minutes", Value("600"));
    const int64_t fp = metadata("app.one");
    // 13:30 UTC is 23:30 on the account's clock, 14:30 UTC already the next account day.
    raw("x", kDay + 13.5 * kHour, fp);
    raw("x", kDay + 14.5 * kHour, fp);
    rolls_ = {3, 3};
    ASSERT_TRUE(bundle());
    ASSERT_TRUE(bundle());
    std::vector<std::string> params;
    for (const auto& q : queued())
        for (const auto& p : intParams(*q)) params.push_back(p);
    EXPECT_EQ(params, (std::vector<std::string>{"_sr=10,_efs=1", "_sr=10,_efs=1"}));
}

TEST_F(Bundling, TheGroupFilterKeepsReservedNamesUnderAnInternalBlocklistAndDropsRedundantEngagement) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> settings;
        Dictionary parameters;
        bool kept;
    };
    const std::vector<Case> cases{
        {"ad_impression", {{"measurement.upload.blacklist_internal", "1"}}, {}, true},
        {"ad_impression",
         {{"measurement.upload.blacklist_internal", "1"}, {"measurement.upload.blacklist_public", "1"}},
         {},
         false},
        {"_x", {{"measurement.upload.blacklist_internal", "1"}}, {}, false},
        {"_e",
         {{"measurement.collection.redundant_engagement_removal_enabled", "1"}},
         Dictionary{{"_fr", integer(1)}},
         false},
        {"_e",
         {{"measurement.collection.redundant_engagement_removal_enabled", "1"}},
         Dictionary{{"_fr", integer(0)}},
         true},
        {"_e", {}, Dictionary{{"_fr", integer(1)}}, true},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        for (const char* key :
             {"measurement.upload.blacklist_internal", "measurement.upload.blacklist_public",
              "measurement.collection.redundant_engagement_removal_enabled"})
            setting(key, Value("0"));
        for (const auto& [key, value] : c.settings) setting(key, Value(value));
        const int64_t fp = metadata("app.one");
        raw(c.name, kDay + static_cast<double>(i) * kHour, fp, c.parameters);
        const size_t before = queued().size();
        EXPECT_EQ(bundle(), c.kept) << i;
        EXPECT_EQ(queued().size(), before + (c.kept ? 1 : 0)) << i;
        EXPECT_TRUE(rows("SELECT rowid FROM raw_events").empty()) << i;
    }
}

TEST_F(Bundling, TheDefaultRollIsUniformBelowTheRateAndAlwaysWinsAtOne) {
    int wins = 0;
    onWorkerQueue(*engine_, [&] {
        for (int i = 0; i < 4000; ++i) wins += engine_->isEventBundledAfterRoll(4) ? 1 : 0;
        for (int32_t rate : {0, 1}) EXPECT_TRUE(engine_->isEventBundledAfterRoll(rate)) << rate;
    });
    // 1000 expected; the bounds are more than six standard deviations (27.4) away.
    EXPECT_GT(wins, 830);
    EXPECT_LT(wins, 1170);
}

TEST_F(Bundling, RealtimeMarksAreCountedAgainstTheDailyLimit) {
    setting("measurement.upload.max_realtime_events_per_day", Value("1"));
    const int64_t fp = metadata("app.one");
    const auto realtime = [](ZDMEvent& event) { event.setRealtime(true); };
    raw("a", kDay + 1, fp, {}, realtime);
    raw("b", kDay + 2, fp, {}, realtime);
    // Purchases are not subject to the limit and stay real-time.
    raw("_iap", kDay + 3, fp, Dictionary{{"_r", integer(1)}});
    raw("c", kDay + 4, fp);
    ASSERT_TRUE(bundle());
    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(intParams(*bundles[0]), (std::vector<std::string>{"_r=1", "", "_r=1", ""}));
    EXPECT_EQ(rows("SELECT is_realtime FROM queue"), (std::vector<std::string>{"1"}));
    EXPECT_EQ(rows("SELECT daily_real_time_conversion_events_count FROM app_metadata"),
              (std::vector<std::string>{"1"}));
    EXPECT_EQ(countOf(23104), 1);
}

TEST_F(Bundling, DebugModeSkipsSamplingAndTheTokenTravelsOnlyWhenAllowed) {
    sampling({{"x", 10}});
    monitor_->setDebugModeEnabled(true);
    const int64_t fp = metadata("app.one", "token");
    raw("x", kDay + 1, fp);
    raw("x", kDay + 2, fp);
    rolls_ = {3, 3};
    ASSERT_TRUE(bundle());
    EXPECT_TRUE(bounds_.empty());
    monitor_->setDebugModeEnabled(false);

    setting("measurement.session_stitching_token_enabled", Value("1"));
    ASSERT_EQ(metadata("app.one", "token"), fp);
    raw("y", kDay + kHour, fp);
    ASSERT_TRUE(bundle());

    const auto bundles = queued();
    ASSERT_EQ(bundles.size(), 2u);
    EXPECT_EQ(intParams(*bundles[0]), (std::vector<std::string>{"", ""}));
    EXPECT_FALSE(ZDMPBHasField(bundles[0].get(), kToken));
    EXPECT_EQ(ZDMPBGetString(bundles[1].get(), kToken), "token");
}

TEST_F(Bundling, ADroppedComplexEventIsRememberedByItsID) {
    sampling({{"_x", 10}});
    const int64_t fp = metadata("app.one");
    raw("_x", kDay + 1, fp);
    raw("_x", kDay + 2, fp, Dictionary{{"_eid", integer(77)}});
    rolls_ = {3, 5};
    ASSERT_TRUE(bundle());
    EXPECT_EQ(names(*queued()[0]), (std::vector<std::string>{"_x"}));
    EXPECT_EQ(rows("SELECT last_sampled_complex_event_id FROM events WHERE name = '_x'"),
              (std::vector<std::string>{"77"}));
}
