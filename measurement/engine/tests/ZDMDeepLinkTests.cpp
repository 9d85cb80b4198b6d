#include <gtest/gtest.h>

#include "measurement/engine/ZDMDeepLink.h"
#include "measurement/engine/tests/CampaignFixture.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSUserActivity.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/URL.h"

namespace {

constexpr const char* kDeepLinkPath = "/adsvc/conversion/app/deeplink";
using Parameters = std::map<std::string, Value>;

class DeepLinks : public CampaignFixture {
  protected:
    ~DeepLinks() override { Runtime::registerClass("NSUserActivity", NSUserActivity::classObject()); }

    static std::shared_ptr<ZDMUserDefaults> standard() { return ZDMUserDefaults::standardUserDefaults(); }
    static std::shared_ptr<const NSUserActivity> browsing(const std::string& link) {
        return std::make_shared<const NSUserActivity>(NSUserActivityTypeBrowsingWeb,
                                                      URL::URLWithString(link));
    }
    static Value object(const std::shared_ptr<const Object>& object) { return Value(object); }

    void openWhileRunning(ZDMMeasurement& engine, const std::string& link) {
        engine.handleNonFirstOpenEventURL(URL::URLWithString(link), Clock::current().now());
        drain(engine);
    }
    std::shared_ptr<ZDMEvent> onlyCampaignEvent(ZDMMeasurement& engine) {
        const auto events = storedEvents(engine);
        EXPECT_EQ(events.size(), 1u);
        return events.empty() ? nullptr : events.front();
    }
};

TEST_F(DeepLinks, TheStoredLinkKeepsItsTextAndTimeUntilRemoved) {
    auto store = standard();
    EXPECT_FALSE(ZDMHasStoredDeepLink(*store));
    EXPECT_FALSE(ZDMIsStoredDeepLinkOlderThan(*store, 0)) << "no time, not old";

    ZDMStoreDeepLink(*store, "https://example.com/?utm_source=news");
    EXPECT_TRUE(ZDMHasStoredDeepLink(*store));
    EXPECT_EQ(store->stringForKey("/zizoda/measurement/deep_link"), "https://example.com/?utm_source=news");
    EXPECT_EQ(store->doubleForKey("/zizoda/measurement/deep_link_timestamp_seconds"), Clock::current().now());

    clock_->advance(100);
    EXPECT_TRUE(ZDMIsStoredDeepLinkOlderThan(*store, 99));
    EXPECT_FALSE(ZDMIsStoredDeepLinkOlderThan(*store, 100));
    clock_->setWallTime(Clock::current().now() - 300);  // the user set the date back
    EXPECT_TRUE(ZDMIsStoredDeepLinkOlderThan(*store, 199)) << "either way counts";

    auto config = ZDMMeasurement::remoteConfig();
    EXPECT_FALSE(ZDMRemoveStoredDeepLinkIfExpired(*config));
    clock_->advance(config->attributionCacheTTLInterval() + 201);
    EXPECT_TRUE(ZDMRemoveStoredDeepLinkIfExpired(*config));
    EXPECT_FALSE(ZDMHasStoredDeepLink(*store));
    EXPECT_FALSE(store->objectForKey("/zizoda/measurement/deep_link_timestamp_seconds"));

    for (const auto& [millis, hourBefore] : std::vector<std::pair<int64_t, int64_t>>{
             {10800500, 7200000}, {10800000, 7200000}, {10799999, 3600000}, {3599999, -3600000}})
        EXPECT_EQ(ZDMHourStartBeforeMillis(millis), hourBefore) << millis;
}

TEST_F(DeepLinks, ALinkWithCampaignKeysOpenedWhileRunningStoresTheCampaignEvent) {
    const auto engine = startedEngine();
    openWhileRunning(*engine, "https://example.com/page?utm_source=news&utm_medium=mail&unrelated=1");
    const auto event = onlyCampaignEvent(*engine);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name(), "_cmp");
    EXPECT_EQ(event->origin(), "auto");
    EXPECT_EQ(plainParameters(*event), (Parameters{{"source", Value("news")}, {"medium", Value("mail")}}));
}

TEST_F(DeepLinks, ALinkWithoutCampaignKeysStoresNothing) {
    struct Case {
        const char* link;
        int64_t code;
    };
    const auto engine = startedEngine();
    for (const auto& [link, code] :
         {Case{"https://example.com/?ref=friend", 23001}, Case{"https://example.com/?utm_source=", 23001},
          Case{"https://example.com/page", 23000}}) {
        const auto before = countOf(code);
        openWhileRunning(*engine, link);
        EXPECT_EQ(countOf(code), before + 1) << link;
    }
    openWhileRunning(*engine, "");
    EXPECT_TRUE(storedEvents(*engine).empty());
}

TEST_F(DeepLinks, ALinkHandedInOnTheWorkerQueueIsDropped) {
    const auto engine = startedEngine();
    onWorkerQueue(*engine, [&] {
        engine->handleNonFirstOpenEventURL(URL::URLWithString("https://example.com/?utm_source=news"),
                                           Clock::current().now());
    });
    drain(*engine);
    EXPECT_EQ(lastSampledMessage(),
              "E:Do not call handleNonFirstOpenOpenURL on the measurement worker queue");
    EXPECT_TRUE(storedEvents(*engine).empty());
}

TEST_F(DeepLinks, ClickIDsAreDroppedWhereNothingElseMayIdentifyTheUser) {
    struct Case {
        const char* link;
        Parameters parameters;
    };
    setTrackingStatus(2);  // denied, and no advertising identifier
    const auto engine = startedEngine();
    EXPECT_FALSE(engine->shouldAllowClickID());
    for (const auto& [link, parameters] :
         {Case{"https://example.com/?zclid=abc&utm_source=news", {{"source", Value("news")}}},
          Case{"https://example.com/?zclid=abc&zdclid=d&zsltid=s", {}}}) {
        openWhileRunning(*engine, link);
        const auto events = storedEvents(*engine);
        ASSERT_FALSE(events.empty()) << link << ": a click ID still makes a campaign link";
        EXPECT_EQ(plainParameters(*events.back()), parameters) << link;
    }
}

TEST_F(DeepLinks, ClickIDsAreKeptWhenTrackingIsAuthorized) {
    setTrackingStatus(3);
    setAdvertisingID();
    auto engine = startedEngine();
    EXPECT_TRUE(engine->shouldAllowClickID());
    openWhileRunning(*engine, "https://example.com/?zclid=abc");
    const auto event = onlyCampaignEvent(*engine);
    ASSERT_TRUE(event);
    EXPECT_EQ(plainParameters(*event), (Parameters{{"zclid", Value("abc")}}));
}

TEST_F(DeepLinks, AZbraidBecomesAUserPropertyAndAParameter) {
    setTrackingStatus(2);
    const auto engine = startedEngine();
    openWhileRunning(*engine, "https://example.com/?zbraid=braid-1");
    const auto event = onlyCampaignEvent(*engine);
    ASSERT_TRUE(event);
    EXPECT_EQ(plainParameters(*event), (Parameters{{"zbraid", Value("braid-1")}}));
    std::shared_ptr<ZDMUserAttribute> property;
    onWorkerQueue(*engine, [&] { property = engine->database()->userAttributeWithName("_zbraid"); });
    ASSERT_TRUE(property);
    EXPECT_EQ(property->origin(), "auto");
    EXPECT_EQ(property->value()->stringValue(), "braid-1");
}

TEST_F(DeepLinks, AStoredLinkOlderThanTheCacheTimeIsReportedAsNotSet) {
    const auto engine = startedEngine();
    ZDMStoreDeepLink(*standard(), "https://example.com/?utm_source=news&utm_campaign=spring");
    // Stored long ago rather than the clock moved on: moving it would also fire the upload timer,
    // which bundles the raw event away.
    standard()->setDouble(
        Clock::current().now() - engine->remoteConfigInstance()->attributionCacheTTLInterval() - 1,
        kZDMDeepLinkTimestampKey);
    onWorkerQueue(*engine, [&] { engine->reportStoredCampaignEventOnWorkerQueue(std::nullopt); });
    const auto event = onlyCampaignEvent(*engine);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name(), "_cmpx");
    EXPECT_EQ(
        plainParameters(*event),
        (Parameters{{"source", Value("(not set)")}, {"medium", Value("(not set)")}, {"_cc", Value(1)}}));
    EXPECT_FALSE(ZDMHasStoredDeepLink(*standard())) << "reported once";
}

TEST_F(DeepLinks, AStoredLinkNamesTheHourBeforeTheOneItWasStoredIn) {
    const auto engine = startedEngine();
    standard()->setObject(Value("https://example.com/?utm_campaign=spring"), kZDMDeepLinkKey);
    standard()->setDouble(10800.5, kZDMDeepLinkTimestampKey);
    const double now = Clock::current().now();
    clock_->setWallTime(11000);
    onWorkerQueue(*engine, [&] { engine->reportStoredCampaignEventOnWorkerQueue(int64_t{5000}); });
    clock_->setWallTime(now);
    const auto event = onlyCampaignEvent(*engine);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name(), "_cmp");
    auto parameters = plainParameters(*event);
    EXPECT_EQ(parameters["campaign"], Value("spring"));
    EXPECT_EQ(parameters["_cc"], Value(7200000));
    EXPECT_EQ(parameters["click_timestamp"], Value(5000));
}

TEST_F(DeepLinks, TheFirstOpenReportsTheLinkThatLaunchedTheApp) {
    ZDMStoreDeepLink(*standard(), "https://example.com/?utm_campaign=launch");
    const auto engine = startedEngine();
    const auto event = onlyCampaignEvent(*engine);
    ASSERT_TRUE(event);
    auto parameters = plainParameters(*event);
    EXPECT_EQ(parameters["campaign"], Value("launch"));
    // A fresh install reports it with its first open, clicked just before.
    const int64_t firstOpenMillis = engine->persistedConfig()->firstOpenTimestampMilliseconds();
    ASSERT_GT(firstOpenMillis, 0);
    EXPECT_EQ(parameters["click_timestamp"], Value(firstOpenMillis - 1));
    EXPECT_FALSE(ZDMHasStoredDeepLink(*standard()));
}

TEST_F(DeepLinks, DisablingCollectionDropsOnlyAnExpiredStoredLink) {
    const auto engine = startedEngine();
    ZDMStoreDeepLink(*standard(), "https://example.com/?utm_campaign=spring");
    engine->setEnabled(false);
    drain(*engine);
    EXPECT_TRUE(ZDMHasStoredDeepLink(*standard())) << "still young";

    engine->setEnabled(true);
    drain(*engine);
    clock_->advance(engine->remoteConfigInstance()->attributionCacheTTLInterval() + 1);
    engine->setEnabled(false);
    drain(*engine);
    EXPECT_FALSE(ZDMHasStoredDeepLink(*standard()));
}

TEST_F(DeepLinks, ACampaignIsNotDatedBeforeFirstOpen) {
    const auto engine = startedEngine();
    const double now = Clock::current().now();
    const int64_t firstOpenMillis = static_cast<int64_t>(now * 1000) + 5000000;
    engine->persistedConfig()->setFirstOpenTimestampMilliseconds(firstOpenMillis);
    onWorkerQueue(*engine, [&] {
        engine->handleOpenURLOnWorkerQueue(URL::URLWithString("https://example.com/?utm_source=news"),
                                           std::nullopt, now, std::nullopt);
        engine->handleOpenURLOnWorkerQueue(URL::URLWithString("https://example.com/?utm_source=later"),
                                           std::nullopt, now + 6000, std::nullopt);
    });
    const auto events = storedEvents(*engine);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->timestamp(), firstOpenMillis / 1000.0);
    EXPECT_EQ(events[1]->timestamp(), now + 6000);
}

TEST_F(DeepLinks, TheLaunchingLinkOfAnActivityWinsOverTheLaunchURL) {
    const std::string activityLink = "https://example.com/a?utm_source=activity";
    const std::string urlLink = "quorvane://open?utm_source=url";
    const Dictionary activities{
        {"UIApplicationLaunchOptionsUserActivityKey", object(browsing(activityLink))}};
    ZDMMeasurement::handleStoredURLAfterAppLaunchWithNotification(
        {"NSApplicationDidFinishLaunchingNotification", nullptr,
         Value(Dictionary{{"UIApplicationLaunchOptionsUserActivityDictionaryKey", Value(activities)},
                          {"UIApplicationLaunchOptionsURLKey", object(URL::URLWithString(urlLink))}})});
    EXPECT_EQ(standard()->stringForKey(kZDMDeepLinkKey), activityLink);

    ZDMMeasurement::handleStoredURLAfterAppLaunchWithNotification(
        {"NSApplicationDidFinishLaunchingNotification", nullptr,
         Value(Dictionary{{"UIApplicationLaunchOptionsURLKey", object(URL::URLWithString(urlLink))}})});
    EXPECT_EQ(standard()->stringForKey(kZDMDeepLinkKey), urlLink);
}

TEST_F(DeepLinks, OnlyABrowsingActivityWithAPageHasADeepLink) {
    EXPECT_EQ(ZDMMeasurement::deepLinkFromUserActivity(browsing("https://example.com/x"))->absoluteString(),
              "https://example.com/x");
    EXPECT_EQ(ZDMMeasurement::deepLinkFromUserActivity(nullptr), nullptr);
    EXPECT_EQ(
        ZDMMeasurement::deepLinkFromUserActivity(std::make_shared<const NSUserActivity>("com.example.edit")),
        nullptr);
    EXPECT_EQ(ZDMMeasurement::deepLinkFromUserActivity(browsing("")), nullptr);
    Runtime::unregisterClass("NSUserActivity");
    EXPECT_EQ(ZDMMeasurement::deepLinkFromUserActivity(browsing("https://example.com/x")), nullptr);
    EXPECT_EQ(loggedCodes(), (std::vector<int64_t>{23003, 23006, 23006, 23005}));
}

class DeferredDeepLinks : public DeepLinks {
  protected:
    DeferredDeepLinks() {
        setInfoPlist({{"ZIZODA_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED", Value(true)}});
        setAdvertisingID();
    }
    static std::string expectedTarget(int retry) {
        return std::string(kDeepLinkPath) + "?sdk_version=101300&rdid=" + kAdvertisingID +
               "&id_type=idfa&bundleid=" + kBundleID + "&retry=" + std::to_string(retry);
    }
};

TEST_F(DeferredDeepLinks, TheFirstStartAsksForTheDeferredLinkWithTheDeviceAndBundle) {
    server_.script(kDeepLinkPath, {{204, {}, ""}});
    startedEngine();
    ASSERT_TRUE(server_.waitForRequests(kDeepLinkPath, 1));
    EXPECT_EQ(server_.last().method, "GET");
    EXPECT_EQ(server_.last().target, expectedTarget(0));
    EXPECT_TRUE(eventually([&] {
        return ZDMPersistedConfig::sharedInstance()->deferredDeepLinkRetrievalComplete().has_value();
    }));
    EXPECT_EQ(ZDMPersistedConfig::sharedInstance()->deferredDeepLinkRetrievalComplete(), Value(0));

    // Done once: later starts do not ask, whatever the launch arguments say.
    ProcessInfo::setArguments({"app", "-DebugDeferredDeepLink"});
    startedEngine();
    EXPECT_EQ(countOf(23194), 1);
    EXPECT_EQ(server_.count(kDeepLinkPath), 1u);
}

TEST_F(DeferredDeepLinks, ATestLaunchOutsideTheStoreAsksForATestLink) {
    ProcessInfo::setArguments({"app", "-DebugDeferredDeepLink"});
    startedEngine();
    ASSERT_TRUE(server_.waitForRequests(kDeepLinkPath, 1));
    EXPECT_EQ(server_.last().target, expectedTarget(0) + "&ddl_test=1");
}

TEST_F(DeferredDeepLinks, FailedAnswersCountRetriesUntilTheLimitEndsTheRetrieval) {
    auto config = ZDMPersistedConfig::sharedInstance();
    const int limit = ZDMMeasurement::remoteConfig()->maxDeferredDeepLinkRetryCount();
    config->setDeferredDeepLinkRetryCount(limit - 1);
    server_.script(kDeepLinkPath, {{500, {}, "{}"}});
    const auto engine = startedEngine();
    ASSERT_TRUE(server_.waitForRequests(kDeepLinkPath, 1));
    EXPECT_EQ(server_.last().target, expectedTarget(limit - 1));
    // The failure is logged before the count is stored: wait for the count.
    EXPECT_TRUE(eventually([&] { return config->deferredDeepLinkRetryCount() == limit; }));
    EXPECT_EQ(countOf(23199), 1);
    EXPECT_FALSE(config->deferredDeepLinkRetrievalComplete());
    // The start's first upload cycle may hold the network a moment longer.
    EXPECT_TRUE(eventually([&] { return !engine->isNetworkRequestPending(); }));

    startedEngine();
    EXPECT_EQ(countOf(23195), 1);
    EXPECT_EQ(config->deferredDeepLinkRetrievalComplete(), Value(1));
    startedEngine();
    EXPECT_EQ(countOf(23194), 1);
    EXPECT_EQ(server_.count(kDeepLinkPath), 1u) << "never asked again";
}

TEST_F(DeferredDeepLinks, ARetrievedLinkIsOfferedToTheAppWhichDeclinesIt) {
    server_.script(kDeepLinkPath,
                   {{200, {}, R"({"deeplink": "https://example.com/?utm_source=ddl", "timestamp": 1234})"}});
    const auto engine = startedEngine();
    // The offer to the app runs on the main queue.
    EXPECT_TRUE(eventually([&] {
        RunLoop::runUntilIdle();
        return countOf(23204) == 1;
    }));
    EXPECT_TRUE(loggedInOrder({23197, 23200, 23204}));
    EXPECT_TRUE(storedEvents(*engine).empty());
}

TEST_F(DeferredDeepLinks, TheLinkIsNotAskedForWithoutLeaveToTrackOrWithoutTheAppsConsent) {
    struct Case {
        const char* name;
        std::function<void()> setUp;
        int64_t code;
    };
    const std::vector<Case> cases = {
        {"unknown tracking state", [] { Runtime::unregisterClass("ASIdentifierManager"); }, 23196},
        {"ad storage denied",
         [] {
             ZDMConsentSettingsUtil::setConsentSettings(Dictionary{{"ad_storage", Value("denied")}});
         },
         23252},
        {"app's Info.plist silent", [this] { setInfoPlist({}); }, 0},
    };
    for (const auto& [name, setUp, code] : cases) {
        setUp();
        startedEngine();
        if (code) {
            EXPECT_EQ(countOf(code), 1) << name;
        }
        EXPECT_FALSE(ZDMPersistedConfig::sharedInstance()->deferredDeepLinkRetrievalComplete()) << name;
        setAdvertisingID();
        ZDMConsentSettingsUtil::resetForTesting();
        setInfoPlist({{"ZIZODA_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED", Value(true)}});
    }
    EXPECT_EQ(server_.count(kDeepLinkPath), 0u);
}

}  // namespace
