// The reports of a start, made by real engines over their real sqlite file with the clock at
// T = 1700000000.5 s: first open and its first session, app and OS updates, "_npa" and the session
// number of older installs.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/tests/WritePathFixture.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEnvironmentInfo.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMEventAggregates.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/foundation/Bundle.h"

namespace {
constexpr const char* kAppID = "1:123456:ios:abcdef";
constexpr double kT = 1700000000.5;
constexpr const char* kAdPersonalizationKey = "ZIZODA_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS";

std::optional<int64_t> intParameter(const ZDMEvent& event, const std::string& key) {
    const auto value = event.parameters()[key].objectAs<ZDMValue>();
    if (!value || !value->isInt64()) return std::nullopt;
    return value->int64Value();
}

std::optional<std::string> textParameter(const ZDMEvent& event, const std::string& key) {
    const auto value = event.parameters()[key].objectAs<ZDMValue>();
    return value ? value->stringValue() : std::nullopt;
}

void useAppVersion(const std::string& version, Dictionary info = {}) {
    info.set("CFBundleShortVersionString", Value(version));
    Bundle::setMainBundle(std::make_shared<Bundle>(std::move(info)));
}

class Reports : public WritePath {
  protected:
    Reports() {
        clock_->setWallTime(kT);
        ZDMAnalytics::setLoadTimestamp(kT);
    }

    std::shared_ptr<ZDMMeasurement> startedEngine() {
        auto engine = makeEngine(kAppID);
        drain(*engine);
        EXPECT_TRUE(engine->isEnabled());
        return engine;
    }
    static std::shared_ptr<ZDMUserAttribute> property(ZDMMeasurement& engine, const std::string& name) {
        std::shared_ptr<ZDMUserAttribute> out;
        onWorkerQueue(engine, [&] { out = engine.database()->userAttributeWithName(name); });
        return out;
    }
    static std::optional<int64_t> propertyValue(ZDMMeasurement& engine, const std::string& name) {
        const auto stored = property(engine, name);
        if (!stored || !stored->value()) return std::nullopt;
        return stored->value()->int64Value();
    }
    static void storeProperty(ZDMMeasurement& engine, const std::string& name, int64_t value) {
        onWorkerQueue(engine, [&] {
            const auto attribute =
                ZDMUserAttribute::initWithOrigin("auto", name, ZDMValue::initWithInt64(value), kT);
            ASSERT_TRUE(attribute) << name;
            ASSERT_TRUE(engine.database()->updateUserAttribute(attribute.get()));
        });
    }
    std::vector<std::string> storedNames(ZDMMeasurement& engine) {
        std::vector<std::string> names;
        for (const auto& event : storedEvents(engine)) names.push_back(event->name());
        return names;
    }
    static void setting(ZDMMeasurement& engine, const std::string& key) {
        engine.remoteConfigInstance()->cacheValue(Value("1"), key);
    }

    std::shared_ptr<ZDMPersistedConfig> persisted_ = ZDMPersistedConfig::sharedInstance();
};

}  // namespace

TEST_F(Reports, AFreshInstallReportsItsFirstOpenFirstSessionAndEngagement) {
    const auto engine = startedEngine();

    const auto fi = property(*engine, "_fi");
    ASSERT_TRUE(fi);
    EXPECT_EQ(fi->origin(), "auto");
    EXPECT_EQ(fi->value()->int64Value(), 1);
    EXPECT_EQ(fi->lastSetTimestamp(), kT);
    const auto fot = property(*engine, "_fot");
    ASSERT_TRUE(fot);
    EXPECT_EQ(fot->value()->int64Value(), 1700002800000) << "rounded up to the next hour";
    EXPECT_EQ(fot->lastSetTimestamp(), kT);

    const auto events = storedEvents(*engine);
    ASSERT_EQ(storedNames(*engine), (std::vector<std::string>{"_f", "_s", "_e"}));
    for (const auto& event : events) {
        EXPECT_EQ(event->origin(), "auto");
        EXPECT_EQ(event->timestamp(), kT) << event->name();
    }
    EXPECT_EQ(intParameter(*events[0], "_uwa"), 0);
    EXPECT_EQ(intParameter(*events[0], "_pfo"), 0);
    for (const char* absent : {"_pzor", "_dac", "_et"})
        EXPECT_FALSE(intParameter(*events[0], absent)) << absent;
    EXPECT_EQ(intParameter(*events[1], "_sid"), 1700000000);
    EXPECT_EQ(intParameter(*events[1], "_sno"), 1);
    EXPECT_EQ(intParameter(*events[2], "_et"), 1);
    EXPECT_FALSE(intParameter(*events[2], "_fr"));

    EXPECT_EQ(persisted_->firstOpenTimestampMilliseconds(), 1700000000500);
    EXPECT_EQ(persisted_->loadTimestampValue(), std::nullopt);
    EXPECT_EQ(engine->previousFirstOpenCount(), "1") << "counted by the write of \"_f\"";

    // The next launch, within the session timeout.
    const auto again = startedEngine();
    EXPECT_EQ(storedEvents(*engine).size(), 3u);
    EXPECT_EQ(persisted_->loadTimestampValue(), std::nullopt);
}

struct FirstOpenCase {
    const char* name;
    std::optional<int64_t> storedCount;
    const char* originalVersion;  // the version of the first run, when it was another
    bool startedDisabled;
    int64_t knownFirstOpenMillis;
    int64_t fi, uwa, pfo;
    bool dac;
    double fiSetTime;
};

class FirstOpen : public Reports, public testing::WithParamInterface<FirstOpenCase> {};

TEST_P(FirstOpen, ParametersFollowTheCountTheVersionAndDeferredCollection) {
    const auto& c = GetParam();
    if (c.originalVersion) {
        useAppVersion(c.originalVersion);
        ASSERT_EQ(Bundle::mainBundle()->originalApplicationVersion(), c.originalVersion);
    }
    useAppVersion("1.0");
    if (c.storedCount) persisted_->setPreviousFirstOpenCount(Value(*c.storedCount));
    persisted_->setFirstOpenTimestampMilliseconds(c.knownFirstOpenMillis);

    auto engine = makeEngine(kAppID, !c.startedDisabled);
    drain(*engine);
    if (c.startedDisabled) {
        EXPECT_EQ(ZDMAnalytics::deferredAnalyticsCollection(), Value(int64_t{1}));
        engine->setEnabled(true);
        drain(*engine);
    }

    EXPECT_EQ(propertyValue(*engine, "_fi"), c.fi);
    EXPECT_EQ(property(*engine, "_fi")->lastSetTimestamp(), c.fiSetTime);
    ASSERT_EQ(storedNames(*engine), (std::vector<std::string>{"_f", "_s", "_e"}));
    const auto f = storedEvents(*engine)[0];
    EXPECT_EQ(intParameter(*f, "_uwa"), c.uwa);
    EXPECT_EQ(intParameter(*f, "_pfo"), c.pfo);
    EXPECT_EQ(intParameter(*f, "_dac"), c.dac ? std::optional<int64_t>(1) : std::nullopt);
    EXPECT_EQ(ZDMAnalytics::deferredAnalyticsCollection(), std::nullopt) << "used up";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirstOpen,
    testing::Values(FirstOpenCase{"FreshInstall", std::nullopt, nullptr, false, 0, 1, 0, 0, false, kT},
                    FirstOpenCase{"UpdateOfAnInstallFromBefore", std::nullopt, "0.9", false, 0, 0, 1, 0,
                                  false, kT},
                    FirstOpenCase{"StoredCountTwoWinsOverTheVersion", 2, "0.9", false, 0, 1, 0, 2, false, kT},
                    FirstOpenCase{"StoredCountZero", 0, nullptr, false, 0, 1, 0, 0, false, kT},
                    FirstOpenCase{"StartedDisabled", std::nullopt, nullptr, true, 0, 1, 0, 0, true, kT},
                    FirstOpenCase{"KnownFirstOpenDatesFirstInstall", std::nullopt, nullptr, false,
                                  1600000000250, 1, 0, 0, false, 1600000000.25}),
    [](const testing::TestParamInfo<FirstOpenCase>& info) { return std::string(info.param.name); });

TEST_F(Reports, WithTheFirstOpenStoredOnlyASessionStartIsReported) {
    const auto engine = startedEngine();
    forgetStartUpReports(*engine);
    storeProperty(*engine, "_fot", 1700002800000);
    onWorkerQueue(*engine, [&] {
        engine->setPreviousFirstOpenCount("0");
        persisted_->setLoadTimestampValue(Value(kT));
        ZDMAnalytics::setDeferredAnalyticsCollection(Value(int64_t{0}));
        engine->reportFirstOpenOnWorkerQueue();
    });
    const auto events = storedEvents(*engine);
    ASSERT_EQ(storedNames(*engine), std::vector<std::string>{"_s"});
    EXPECT_EQ(intParameter(*events[0], "_sid"), 1700000000);
    EXPECT_EQ(engine->previousFirstOpenCount(), "1");
    EXPECT_EQ(persisted_->loadTimestampValue(), std::nullopt);
    EXPECT_EQ(ZDMAnalytics::deferredAnalyticsCollection(), std::nullopt);
    EXPECT_FALSE(property(*engine, "_fi"));
}

TEST_F(Reports, ThePreviousAppIDAndTheEngagementSettingsShapeTheFirstOpen) {
    const auto engine = startedEngine();
    onWorkerQueue(*engine, [&] { persisted_->setAppIDFromZOR(std::string("1:999:ios:old")); });
    forgetStartUpReports(*engine);
    setting(*engine, "measurement.collection.efficient_engagement_reporting_enabled");
    ASSERT_TRUE(engine->remoteConfigInstance()->efficientEngagementReportingEnabled());
    onWorkerQueue(*engine, [&] { engine->reportFirstOpenOnWorkerQueue(); });
    auto events = storedEvents(*engine);
    ASSERT_EQ(storedNames(*engine), (std::vector<std::string>{"_f", "_s", "_e"}));
    EXPECT_EQ(textParameter(*events[0], "_pzor"), "1:999:ios:old");
    EXPECT_EQ(intParameter(*events[0], "_et"), 1);
    EXPECT_EQ(intParameter(*events[2], "_et"), 1);
    EXPECT_EQ(intParameter(*events[2], "_fr"), 1);

    forgetStartUpReports(*engine);
    setting(*engine, "measurement.collection.redundant_engagement_removal_enabled");
    onWorkerQueue(*engine, [&] { engine->reportFirstOpenOnWorkerQueue(); });
    EXPECT_EQ(storedNames(*engine), (std::vector<std::string>{"_f", "_s"}));
}

TEST_F(Reports, AFirstOpenWhosePropertiesAreRefusedReportsNothing) {
    const auto engine = startedEngine();
    forgetStartUpReports(*engine);
    // The library's own properties have a budget of 25.
    for (int i = 0; i < 25; ++i) storeProperty(*engine, "_p" + std::to_string(i), i);
    onWorkerQueue(*engine, [&] { engine->reportFirstOpenOnWorkerQueue(); });
    EXPECT_TRUE(loggedInOrder({23084, 23162}));
    EXPECT_TRUE(storedEvents(*engine).empty());
    EXPECT_FALSE(property(*engine, "_fot"));
    EXPECT_EQ(persisted_->firstOpenTimestampMilliseconds(), 0);
}

struct UpdateCase {
    const char* name;
    std::optional<std::string> storedAppVersion;
    std::string appVersion;
    std::optional<std::string> storedOSVersion;
    // "name:origin:parameter=previous" of each update reported.
    std::vector<std::string> reported;
};

class Updates : public Reports, public testing::WithParamInterface<UpdateCase> {
  protected:
    std::vector<std::string> reported() {
        std::lock_guard lock(mutex_);
        return reported_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> reported_;
    Cancellable observer_ = ZDMAnalytics::addInternalEventObserver(
        [this](const std::string& origin, const std::string& name, const Dictionary& parameters) {
            if (name != "_au" && name != "_ou") return;
            std::string text = name + ":" + origin;
            for (const auto& [key, value] : parameters) {
                const auto wrapped = value.objectAs<ZDMValue>();
                text += ":" + key + "=" + (wrapped ? wrapped->stringValue().value_or("?") : "?");
            }
            std::lock_guard lock(mutex_);
            reported_.push_back(text);
        });
};

TEST_P(Updates, AChangeFromAKnownVersionIsReportedAndTheNewOneStored) {
    const auto& c = GetParam();
    useAppVersion(c.appVersion);
    persisted_->setAppVersion(c.storedAppVersion);
    persisted_->setOSVersion(c.storedOSVersion);
    startedEngine();
    EXPECT_EQ(reported(), c.reported);
    EXPECT_EQ(persisted_->appVersion(), c.appVersion);
    EXPECT_EQ(persisted_->osVersion(), ZDMEnvironmentInfo::sharedInstance()->deviceOSVersion());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Updates,
    testing::Values(UpdateCase{"FromAnEmptyVersion", "", "1.0", "", {}},
                    UpdateCase{"FromNone", std::nullopt, "1.0", std::nullopt, {}},
                    UpdateCase{"AppUpdated", "1.0", "1.1", std::nullopt, {"_au:auto:_pv=1.0"}},
                    UpdateCase{"OSUpdated", "1.1", "1.1", "0.0-previous", {"_ou:auto:_po=0.0-previous"}}),
    [](const testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.name); });

struct AdPersonalizationCase {
    std::optional<Value> allowPersonalizedAds;
    std::optional<Value> infoPlistDefault;
    std::optional<bool> disable;
};

TEST_F(Reports, AdPersonalizationIsTheStoredChoiceElseTheInfoPlistDefaultNegated) {
    const AdPersonalizationCase cases[] = {
        {Value(true), Value(false), false}, {Value(false), std::nullopt, true},
        {Value("no"), Value(true), false},  // a stored value that is no number says nothing
        {std::nullopt, Value(false), true}, {std::nullopt, Value(int64_t{1}), false},
        {std::nullopt, Value("NO"), false}, {std::nullopt, std::nullopt, std::nullopt},
    };
    const auto engine = makeEngine(kAppID, false);
    int index = 0;
    for (const auto& c : cases) {
        Dictionary info;
        if (c.infoPlistDefault) info.set(kAdPersonalizationKey, *c.infoPlistDefault);
        Bundle::setMainBundle(std::make_shared<Bundle>(info));
        persisted_->setAllowPersonalizedAds(c.allowPersonalizedAds);
        EXPECT_EQ(engine->shouldDisableAdPersonalization(), c.disable) << "case " << index++;
    }
}

TEST_F(Reports, TheInfoPlistDefaultWritesNpaAtTheStartAndItsAbsenceRemovesIt) {
    Bundle::setMainBundle(std::make_shared<Bundle>(Dictionary{{kAdPersonalizationKey, false}}));
    const auto engine = startedEngine();
    const auto npa = property(*engine, "_npa");
    ASSERT_TRUE(npa);
    EXPECT_EQ(npa->origin(), "auto");
    EXPECT_EQ(npa->value()->int64Value(), 1);

    // The same answer again writes nothing.
    clock_->advance(60);
    onWorkerQueue(*engine, [&] { engine->setPersonalizedAdsUserPropertyOnWorkerQueue(); });
    EXPECT_EQ(property(*engine, "_npa")->lastSetTimestamp(), kT);
    // The app's choice changes it.
    persisted_->setAllowPersonalizedAds(Value(true));
    onWorkerQueue(*engine, [&] { engine->setPersonalizedAdsUserPropertyOnWorkerQueue(); });
    EXPECT_EQ(propertyValue(*engine, "_npa"), 0);

    persisted_->setAllowPersonalizedAds(std::nullopt);
    Bundle::setMainBundle(std::make_shared<Bundle>(Dictionary{}));
    onWorkerQueue(*engine, [&] { engine->setPersonalizedAdsUserPropertyOnWorkerQueue(); });
    EXPECT_FALSE(property(*engine, "_npa"));
    EXPECT_EQ(countOf(23180), 1);
    onWorkerQueue(*engine, [&] { engine->setPersonalizedAdsUserPropertyOnWorkerQueue(); });
    EXPECT_EQ(countOf(23180), 1) << "nothing stored, nothing desired";
}

TEST_F(Reports, TheSessionNumberIsBackfilledFromTheSessionStartsCountedOnlyWhenUnknown) {
    const auto engine = startedEngine();
    forgetStartUpReports(*engine);
    onWorkerQueue(*engine, [&] {
        const auto aggregates = ZDMEventAggregates::initWithName("_s", 5, 0, 0, kT);
        ASSERT_TRUE(engine->database()->updateEventAggregates(aggregates.get()));
        engine->backfillSessionNumber();
    });
    EXPECT_EQ(persisted_->sessionNumber(), 5);
    persisted_->setSessionNumber(7);
    onWorkerQueue(*engine, [&] { engine->backfillSessionNumber(); });
    EXPECT_EQ(persisted_->sessionNumber(), 7);
}
