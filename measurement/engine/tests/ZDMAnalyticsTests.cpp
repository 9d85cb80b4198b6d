#include <gtest/gtest.h>

#include <vector>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMErrorEventParameters.h"
#include "measurement/foundation/tests/ParameterHelpers.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

struct LoggedEvent {
    std::string origin;
    std::string name;
    Dictionary parameters;
};

// Resets before the fixture's observer is registered, which a reset would drop.
struct FreshProcessState {
    FreshProcessState() { resetAllForTesting(); }
};

class ErrorEvents : public ::testing::Test, private FreshProcessState {
  protected:
    ~ErrorEvents() override { resetAllForTesting(); }

    TestHome home_;
    std::vector<LoggedEvent> events_;
    Cancellable observation_ = ZDMAnalytics::addInternalEventObserver(
        [this](const std::string& origin, const std::string& name, const Dictionary& parameters) {
            events_.push_back({origin, name, plainParameters(parameters)});
        });
};

TEST_F(ErrorEvents, ReachTheFacadeAsTheErrorEventFromAuto) {
    ZDMLogErrorEventWithParameter(4, Value("nm"), 40, Value("abc"));
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].origin, "auto");
    EXPECT_EQ(events_[0].name, "_err");
    EXPECT_EQ(events_[0].parameters, (Dictionary{{"_err", 4}, {"_ev", "nm"}, {"_el", 3}}));

    ZDMLogErrorEventWithParameter(0, Value("nm"), 40, Value("abc"));
    ZDMLogErrorEvent(0);
    EXPECT_EQ(events_.size(), 1u);

    ZDMLogErrorEvent(13);
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[1].parameters, (Dictionary{{"_err", 13}}));
}

TEST_F(ErrorEvents, TheValueIsReportedOnlyWhenItExplainsTheCode) {
    struct Case {
        int64_t code;
        Value value;
        Dictionary parameters;
    };
    const std::string long41(41, 'v');
    const Case cases[] = {
        {7, Value("abc"), {{"_err", 7}, {"_ev", "nm"}, {"_el", 3}}},
        {2, Value("abc"), {{"_err", 2}, {"_ev", "nm"}}},
        {2, Value(long41), {{"_err", 2}, {"_ev", "nm"}, {"_el", 41}}},
        {4, Value(), {{"_err", 4}, {"_ev", "nm"}}},
    };
    for (const auto& c : cases) {
        events_.clear();
        ZDMLogErrorEventWithParameter(c.code, Value("nm"), 40, c.value);
        ASSERT_EQ(events_.size(), 1u);
        EXPECT_EQ(events_[0].parameters, c.parameters) << c.code;
    }
}

TEST_F(ErrorEvents, ACancelledObserverHearsNothing) {
    observation_.cancel();
    ZDMLogErrorEvent(2);
    EXPECT_TRUE(events_.empty());
}

}  // namespace

namespace {

class FacadeSuite : public EngineFixture {};

TEST_F(FacadeSuite, ARetryCountBelowOneRemovesTheKey) {
    for (int64_t count : {3, 0, 2, -1}) {
        ZDMAnalytics::setResetRetryCount(count);
        EXPECT_EQ(ZDMAnalytics::resetRetryCount(), std::max<int64_t>(count, 0));
        EXPECT_EQ(facadeSuite().objectForKey(ZDMAnalytics::kResetRetryCountKey).has_value(), count >= 1)
            << count;
    }
}

TEST_F(FacadeSuite, ConsentIsKeptByItsSource) {
    EXPECT_EQ(ZDMAnalytics::persistedConsentSource(), 100);
    const Dictionary denied{{"ad_storage", "denied"}};
    const Dictionary granted{{"analytics_storage", "granted"}};
    ZDMAnalytics::persistConsentSettings(denied, 20);
    EXPECT_EQ(ZDMAnalytics::consentSettings3P(), denied);
    EXPECT_EQ(ZDMAnalytics::persistedConsentSource(), 20);
    ZDMAnalytics::persistConsentSettings(granted, 21);
    EXPECT_EQ(ZDMAnalytics::consentSettings1P(), granted);
    EXPECT_EQ(ZDMAnalytics::consentSettings3P(), denied);
    EXPECT_EQ(ZDMAnalytics::persistedConsentSource(), 21);

    facadeSuite().setObject(Value(granted), ZDMAnalytics::kConsentSettingsOnStartKey);
    facadeSuite().setObject(Value(true), ZDMAnalytics::kDeferredConsentResetKey);
    EXPECT_EQ(ZDMAnalytics::consentSettings1PStart(), granted);
    EXPECT_TRUE(ZDMAnalytics::deferredResetOnDeniedConsent());
    ZDMConsentSettingsUtil::setConsentSettings(denied);
    ZDMAnalytics::clearConsent();
    for (const char* key : {ZDMAnalytics::kConsentSourceKey, ZDMAnalytics::kConsentSettings3PKey,
                            ZDMAnalytics::kConsentSettingsKey, ZDMAnalytics::kConsentSettingsOnStartKey,
                            ZDMAnalytics::kDeferredConsentResetKey})
        EXPECT_FALSE(facadeSuite().objectForKey(key)) << key;
    EXPECT_EQ(ZDMConsentSettingsUtil::consentSettings(), std::nullopt);
    EXPECT_EQ(ZDMAnalytics::persistedConsentSource(), 100);
}

TEST_F(FacadeSuite, ResetBookkeepingIsKeptAndRemoved) {
    ZDMAnalytics::setNeedFirstOpenAfterReset(true);
    EXPECT_TRUE(ZDMAnalytics::needFirstOpenAfterReset());
    ZDMAnalytics::removeNeedFirstOpenAfterReset();
    EXPECT_FALSE(facadeSuite().objectForKey(ZDMAnalytics::kNeedFirstOpenAfterResetKey));
    ZDMAnalytics::setAppInstanceIDAfterReset(std::string("ABC"));
    EXPECT_EQ(ZDMAnalytics::appInstanceIDAfterReset(), "ABC");
    ZDMAnalytics::setAppInstanceIDAfterReset(std::nullopt);
    EXPECT_EQ(ZDMAnalytics::appInstanceIDAfterReset(), std::nullopt);
    ZDMAnalytics::setDeferredAnalyticsCollection(Value(int64_t{1}));
    EXPECT_EQ(ZDMAnalytics::deferredAnalyticsCollection(), Value(int64_t{1}));
    ZDMAnalytics::setDeferredAnalyticsCollection(std::nullopt);
    EXPECT_EQ(ZDMAnalytics::deferredAnalyticsCollection(), std::nullopt);
    ZDMAnalytics::setPersistentConfigInApplicationSupportEnabled(true);
    EXPECT_TRUE(facadeSuite().boolForKey("persistent_config_in_application_support_enabled"));
}

TEST_F(FacadeSuite, TheLoadTimestampIsTheTimeOfTheFirstHookRun) {
    resetAllForTesting();
    ZDMMonitor::setSharedMonitorForTesting(monitor_);
    const double loaded = clock_->now();
    registerMeasurementHooks();
    clock_->advance(30);
    registerMeasurementHooks();
    EXPECT_EQ(ZDMAnalytics::loadTimestamp(), loaded);
    ZDMAnalytics::setLoadTimestamp(12.5);
    EXPECT_EQ(ZDMAnalytics::loadTimestamp(), 12.5);
}

TEST_F(FacadeSuite, TheEngineDatesItsRunFromTheStoredLoadTimeElseTheFacadesAndStoresThat) {
    const auto persisted = ZDMPersistedConfig::sharedInstance();
    const double loaded = ZDMAnalytics::loadTimestamp();
    const auto first = makeEngine("1:123456:ios:abcdef", false);
    EXPECT_EQ(first->initTimestamp(), loaded);
    EXPECT_EQ(persisted->loadTimestampValue(), Value(loaded));
    persisted->setLoadTimestampValue(Value(1000.0));
    EXPECT_EQ(makeEngine("1:123456:ios:abcdef", false)->initTimestamp(), 1000.0);
}

}  // namespace
