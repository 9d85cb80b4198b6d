// The facade's user properties, user ID, personalised-ads choice, user data and property queries,
// through a real engine on the manual clock.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/tests/FacadeFixture.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/DispatchQueue.h"

namespace {
// One answer of a query and the queue it came on.
template <class Answer>
struct Delivered {
    std::mutex mutex;
    std::optional<Answer> answer;
    std::string queue;
    bool onMainThread = false;

    std::function<void(Answer)> callback() {
        return [this](Answer value) {
            std::lock_guard lock(mutex);
            answer = std::move(value);
            queue = DispatchQueue::currentLabel();
            onMainThread = DispatchQueue::isMainThread();
        };
    }
    bool arrived() {
        std::lock_guard lock(mutex);
        return answer.has_value();
    }
};

class FacadeUserProperties : public FacadeFixture {
  protected:
    static constexpr const char* kMarker = "E:marker";
    void SetUp() override { startFacade(); }
    // The last monitored report once `action` has run and settled: kMarker when it reported none.
    std::string sampledAfter(const std::function<void()>& action) {
        ZDMMeasurement::monitor()->logWithLevel(1, 99999, "marker");
        action();
        settle();
        return lastSampledMessage();
    }
    const std::shared_ptr<DispatchQueue> answers_ = DispatchQueue::serial("test.answers");
};

TEST_F(FacadeUserProperties, TheApplicationsPropertyIsStoredWithOriginAppAndRefusalsAreReported) {
    ZDMAnalytics::setUserPropertyString(Value("red"), "color");
    ZDMAnalytics::setUserPropertyString(Value(42), "size");
    ZDMAnalytics::setUserPropertyString(Value("x"), std::string(25, 'n'));
    ZDMAnalytics::setUserPropertyString(Value("x"), "za_x");
    ZDMAnalytics::setUserPropertyString(Value(std::string(37, 'v')), "shade");
    ZDMAnalytics::setUserPropertyString(Value(std::string(36, 'v')), "tone");

    const auto stored = storedProperties();
    ASSERT_TRUE(stored.contains("color"));
    EXPECT_EQ(stored.at("color").origin, "app");
    EXPECT_EQ(stored.at("color").value, Value("red"));
    EXPECT_EQ(stored.at("tone").value, Value(std::string(36, 'v')));
    for (const char* refused : {"size", "za_x", "shade"}) EXPECT_FALSE(stored.contains(refused)) << refused;
    EXPECT_EQ(countOf(25003), 1);
    EXPECT_EQ(errorEventCodes(), (std::vector<int64_t>{6, 15, 7}));
}

TEST_F(FacadeUserProperties, NilRemovesAPropertyAndTheUserIDTakesItsStitchingTokenAlong) {
    ZDMAnalytics::setUserPropertyString(Value("red"), "color");
    ZDMAnalytics::setUserID(Value("user-1"));
    ZDMAnalytics::setInternalUserProperty(Value("token"), "_lair", "auto");
    ZDMAnalytics::setUserID(Value(7));
    auto stored = storedProperties();
    ASSERT_TRUE(stored.contains("color") && stored.contains("_id") && stored.contains("_lair"));
    EXPECT_EQ(stored.at("_id").origin, "app");
    EXPECT_EQ(stored.at("_id").value, Value("user-1"));
    EXPECT_EQ(countOf(25004), 1) << "a user ID that is not text";

    ZDMAnalytics::setUserPropertyString(std::optional<std::string>(), "color");
    ZDMAnalytics::setUserID(std::optional<std::string>());
    stored = storedProperties();
    EXPECT_FALSE(stored.contains("color"));
    EXPECT_FALSE(stored.contains("_id"));
    EXPECT_FALSE(stored.contains("_lair"));
}

TEST_F(FacadeUserProperties, ARemovalIsARecordOfNoOriginValueZeroAndTheCurrentTime) {
    const auto removal = ZDMAnalytics::removalAttributeForName("_id");
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->origin(), "");
    EXPECT_EQ(removal->name(), "_id");
    ASSERT_TRUE(removal->value() && removal->value()->isDouble());
    EXPECT_EQ(removal->value()->doubleValue(), 0);
    EXPECT_EQ(removal->lastSetTimestamp(), clock_->now());
    EXPECT_FALSE(ZDMAnalytics::removalAttributeForName("1 not a name"));
}

TEST_F(FacadeUserProperties, TheOriginOfAnInternalPropertyHasOneTo32Units) {
    struct Case {
        std::string origin;
        bool stored;
    } const cases[] = {{std::string(33, 'o'), false}, {std::string(32, 'o'), true}, {"", false}, {"é", true}};
    for (const auto& c : cases) {
        const std::string sampled =
            sampledAfter([&] { ZDMAnalytics::setInternalUserProperty(Value("v"), "_prop", c.origin); });
        const auto stored = storedProperties();
        EXPECT_EQ(stored.contains("_prop"), c.stored) << c.origin;
        if (c.stored) {
            EXPECT_EQ(stored.at("_prop").origin, c.origin);
        }
        EXPECT_EQ(sampled,
                  c.stored ? kMarker : "E:Unable to set user property. Origin is invalid. Origin, name")
            << c.origin;
        ZDMAnalytics::removeInternalUserAttributeForName("_prop");
    }
}

TEST_F(FacadeUserProperties, InternalNamesAndValuesAreCheckedAndNullRemoves) {
    ZDMAnalytics::setInternalUserProperty(Value("v"), std::string(25, 'n'), "crash");
    ZDMAnalytics::setInternalUserProperty(Value(std::string(37, 'v')), "_long", "crash");
    ZDMAnalytics::setInternalUserProperty(Value(std::string(256, 'u')), "_id", "app");
    ZDMAnalytics::setInternalUserProperty(Value(5), "_count", "crash");
    auto stored = storedProperties();
    EXPECT_FALSE(stored.contains("_long"));
    EXPECT_EQ(stored.at("_id").value, Value(std::string(256, 'u'))) << "the user ID may be longer";
    EXPECT_EQ(stored.at("_count").value, Value(5));
    EXPECT_EQ(errorEventCodes(), (std::vector<int64_t>{6, 7}));

    ZDMAnalytics::setInternalUserProperty(Value(), "_count", "crash");
    ZDMAnalytics::setInternalUserProperty(std::nullopt, "_id", "app");
    stored = storedProperties();
    EXPECT_FALSE(stored.contains("_count"));
    EXPECT_FALSE(stored.contains("_id"));
}

TEST_F(FacadeUserProperties, NumbersKeepTheirKindWithOriginAuto) {
    ZDMAnalytics::setUserAttributeNumber(Value(2.5), "ratio");
    ZDMAnalytics::setUserAttributeNumber(Value(7), "count");
    ZDMAnalytics::setUserAttributeNumber(Value("7"), "text");
    ZDMAnalytics::setUserAttributeNumber(Value(1), "za_reserved");
    const auto stored = storedProperties();
    ASSERT_TRUE(stored.contains("ratio") && stored.contains("count"));
    EXPECT_EQ(stored.at("ratio").origin, "auto");
    EXPECT_TRUE(stored.at("ratio").value.isReal());
    EXPECT_EQ(stored.at("ratio").value, Value(2.5));
    EXPECT_TRUE(stored.at("count").value.isInteger());
    EXPECT_FALSE(stored.contains("text"));
    EXPECT_FALSE(stored.contains("za_reserved"));
    EXPECT_EQ(errorEventCodes(), (std::vector<int64_t>{15}));
}

TEST_F(FacadeUserProperties, ThePersonalizedAdsChoiceIsKeptAndDecidesNpa) {
    const auto config = ZDMPersistedConfig::sharedInstance();
    ZDMAnalytics::setUserPropertyString(Value("YES"), "allow_personalized_ads");
    auto stored = storedProperties();
    EXPECT_EQ(config->allowPersonalizedAds(), Value(true));
    ASSERT_TRUE(stored.contains("_npa"));
    EXPECT_EQ(stored.at("_npa").origin, "auto");
    EXPECT_EQ(stored.at("_npa").value, Value(0));

    ZDMAnalytics::setUserPropertyString(Value(" 0"), "allow_personalized_ads");
    EXPECT_EQ(storedProperties().at("_npa").value, Value(1));
    EXPECT_EQ(config->allowPersonalizedAds(), Value(false));

    ZDMAnalytics::setUserPropertyString(Value(), "allow_personalized_ads");
    stored = storedProperties();
    EXPECT_EQ(config->allowPersonalizedAds(), std::nullopt);
    EXPECT_FALSE(stored.contains("_npa")) << "nothing says, not even the Info.plist";
    EXPECT_EQ(countOf(25033), 0);
}

TEST_F(FacadeUserProperties, WhileDisabledTheChoiceIsStillKeptButNpaIsLeftAlone) {
    ZDMAnalytics::setUserPropertyString(Value("YES"), "allow_personalized_ads");
    ASSERT_EQ(storedProperties().at("_npa").value, Value(0));
    ZDMAnalytics::setAnalyticsEnabled(false);
    ZDMAnalytics::setUserPropertyString(Value("no"), "allow_personalized_ads");
    settle();
    EXPECT_EQ(countOf(25033), 1);
    EXPECT_EQ(ZDMPersistedConfig::sharedInstance()->allowPersonalizedAds(), Value(false));
    EXPECT_EQ(storedProperties().at("_npa").value, Value(0));
    ZDMAnalytics::setAnalyticsEnabled(true);
    EXPECT_EQ(storedProperties().at("_npa").value, Value(1)) << "enabling derives it from the kept choice";
}

TEST_F(FacadeUserProperties, UserDataIsNotHandedOnWhileDisabled) {
    ZDMAnalytics::setUserData({{"email_address", "a@b.c"}});
    settle();
    EXPECT_EQ(countOf(25044), 0);
    ZDMAnalytics::setAnalyticsEnabled(false);
    ZDMAnalytics::setUserData({{"email_address", "a@b.c"}});
    clock_->advance(0.5);
    settle();
    EXPECT_EQ(countOf(25044), 1);
}

TEST_F(FacadeUserProperties, ThePropertiesAnswerComesOnTheGivenQueue) {
    ZDMAnalytics::setUserPropertyString(Value("red"), "color");
    ZDMAnalytics::setUserID(Value("user-1"));
    Delivered<Dictionary> publicOnly;
    Delivered<Dictionary> all;
    ZDMAnalytics::userPropertiesIncludingInternal(false, answers_, publicOnly.callback());
    ZDMAnalytics::userPropertiesIncludingInternal(true, answers_, all.callback());
    ASSERT_TRUE(eventually([&] { return publicOnly.arrived() && all.arrived(); }));
    EXPECT_EQ(publicOnly.queue, "test.answers");
    EXPECT_EQ(*publicOnly.answer, (Dictionary{{"color", "red"}}));
    EXPECT_EQ((*all.answer)["_id"], Value("user-1"));
}

TEST_F(FacadeUserProperties, TheLimitPerOriginComesOnTheGivenQueue) {
    Delivered<int64_t> limit;
    ZDMAnalytics::maxUserPropertiesForOrigin("crash", answers_, limit.callback());
    ASSERT_TRUE(eventually([&] { return limit.arrived(); }));
    EXPECT_EQ(*limit.answer, 25);
    EXPECT_EQ(limit.queue, "test.answers");
}

TEST_F(FacadeUserProperties, RefusedQueriesAnswerEmptyOrNotAtAll) {
    ZDMAnalytics::setUserPropertyString(Value("red"), "color");
    ZDMAnalytics::setAnalyticsEnabled(false);
    settle();
    Delivered<Dictionary> disabled, noQueue;
    EXPECT_EQ(sampledAfter([&] {
                  ZDMAnalytics::userPropertiesIncludingInternal(false, answers_, disabled.callback());
                  ASSERT_TRUE(eventually([&] { return disabled.arrived(); }));
              }),
              "W:Cannot query for public user properties when Analytics is disabled");
    EXPECT_EQ(*disabled.answer, Dictionary{});
    EXPECT_EQ(disabled.queue, "test.answers");

    EXPECT_EQ(sampledAfter([&] {
                  ZDMAnalytics::userPropertiesIncludingInternal(false, nullptr, noQueue.callback());
                  ASSERT_TRUE(eventuallyOnMainQueue([&] { return noQueue.arrived(); }));
              }),
              "E:Cannot query for Analytics user properties. Queue cannot be nil");
    EXPECT_EQ(*noQueue.answer, Dictionary{});
    EXPECT_TRUE(noQueue.onMainThread);
    EXPECT_EQ(sampledAfter([&] { ZDMAnalytics::userPropertiesIncludingInternal(false, answers_, nullptr); }),
              "E:Analytics userProperties callback cannot be nil");

    std::atomic<int> called{0};
    const auto count = [&](int64_t) { ++called; };
    struct Case {
        std::string origin;
        bool withQueue;
        bool withCallback;
        std::string message;
    } const cases[] = {
        {"", true, true,
         "E:Cannot query Analytics for max user properties. Origin must be a non-empty string"},
        {"crash", false, true,
         "E:Cannot query Analytics for max user properties. Queue cannot be nil. Origin"},
        {"crash", true, false,
         "E:Cannot query Analytics for max user properties. MaxUserProperties callback cannot be nil. "
         "Origin"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sampledAfter([&] {
                      ZDMAnalytics::maxUserPropertiesForOrigin(
                          c.origin, c.withQueue ? answers_ : nullptr,
                          c.withCallback ? std::function<void(int64_t)>(count) : nullptr);
                  }),
                  c.message);
    }
    settle();
    answers_->sync([] {});
    RunLoop::runUntilIdle();
    EXPECT_EQ(called, 0);
}
}  // namespace
