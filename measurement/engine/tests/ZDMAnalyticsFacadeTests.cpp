// The facade over a real engine on the manual clock: the start and its gates, the queues that hold
// calls until the start and keep events in time order, event names, enabling, listeners and links.
#include <gtest/gtest.h>

#include <atomic>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMScreenViewReporter.h"
#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/engine/tests/FacadeFixture.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMRawEventData.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/RuntimeObject.h"
#include "platform/ziz/ZIZAppDelegateSwizzler.h"
#include "platform/ziz/ZIZAppDelegateSwizzler_simulated.h"
#include "platform/zudedaro/ZUDAnalyticsConfiguration.h"

namespace {
constexpr const char* kAppID = "1:123456:ios:abcdef";
namespace proxy = ZIZAppDelegateSwizzlerSimulation;
namespace fs = std::filesystem;

struct StoredRow {
    std::string name;
    double timestamp = 0;
};

class Facade : public FacadeFixture {
  protected:
    ~Facade() override {
        for (const char* name : {"ZUDADatabase", "VUZArezivodo", "ZTMManager", "ZADMobileAds"})
            Runtime::unregisterClass(name);
    }

    static void start(const Dictionary& options = {}, const std::string& origin = "za") {
        ZDMAnalytics::startWithAppID(kAppID, origin, options);
    }
    // A new process as far as the facade and the engine go; the files stay.
    void restart() {
        settle();
        ZDMAnalytics::resetForTesting();
        if (ZDMMeasurement::hasSharedInstance()) drain(*ZDMMeasurement::sharedInstance());
        ZDMMeasurement::resetSharedInstance();
        ZDMConsentSettingsUtil::resetForTesting();
    }
    static std::shared_ptr<ZDMMeasurement> engine() {
        return ZDMMeasurement::hasSharedInstance() ? ZDMMeasurement::sharedInstance() : nullptr;
    }

    // The raw rows of the app's own events (the engine's start-up and session events left out).
    std::vector<StoredRow> storedRows() {
        std::vector<StoredRow> out;
        if (!std::filesystem::exists(databasePath())) return out;
        RawFile file(databasePath());
        for (const std::string& row : file.rows("SELECT name, timestamp FROM raw_events ORDER BY rowid")) {
            const auto bar = row.find('|');
            StoredRow stored{row.substr(0, bar)};
            const std::string time = row.substr(bar + 1);
            std::from_chars(time.data(), time.data() + time.size(), stored.timestamp);
            if (!stored.name.starts_with("_")) out.push_back(stored);
        }
        return out;
    }
    std::vector<std::string> storedNames() {
        std::vector<std::string> names;
        for (const auto& row : storedRows()) names.push_back(row.name);
        return names;
    }
};

TEST_F(Facade, CallsMadeBeforeTheStartWaitForItAndThenComeFirstInCallOrder) {
    ZDMAnalytics::logEventWithName("held_first", std::nullopt);
    ZDMAnalytics::logEventWithName("held_second", Dictionary{{"n", 1}});
    ZDMAnalytics::setAnalyticsEnabled(true, true);
    ZDMAnalytics::queue()->sync([] {});
    EXPECT_EQ(ZDMPersistedConfig::sharedInstance()->measurementEnabledState(), 1)
        << "enabling is not held: it ran on the serial queue";
    EXPECT_TRUE(ZDMAnalytics::analyticsEnabled());
    EXPECT_EQ(ZDMAnalytics::operationQueue()->operationCount(), 2u);
    EXPECT_FALSE(ZDMMeasurement::hasSharedInstance());
    EXPECT_TRUE(storedRows().empty());

    start();
    ZDMAnalytics::logEventWithName("after_start", std::nullopt);
    settle();
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"held_first", "held_second", "after_start"}));
}

TEST_F(Facade, TheQueuesCarryTheirNamesAndTheSerialQueueKnowsItself) {
    EXPECT_EQ(ZDMAnalytics::operationQueue()->name(), "ZDMAnalyticsOperationQueue");
    EXPECT_EQ(ZDMAnalytics::operationQueue()->maxConcurrentOperationCount(), 1);
    EXPECT_TRUE(ZDMAnalytics::operationQueue()->isSuspended());
    EXPECT_EQ(ZDMAnalytics::queue()->label(), "ZDMAnalyticsQueue");
    EXPECT_FALSE(ZDMAnalytics::isCurrentQueueSerialQueue());
    bool onSerialQueue = false;
    ZDMAnalytics::queue()->sync([&] { onSerialQueue = ZDMAnalytics::isCurrentQueueSerialQueue(); });
    EXPECT_TRUE(onSerialQueue);
}

TEST_F(Facade, AWaitedOperationHoldsLaterOnesForHalfASecondOnceStarted) {
    std::atomic<int> ran{0};
    ZDMAnalytics::queueOperationWithBlockThenWait([&] { ++ran; });
    EXPECT_TRUE(ZDMAnalytics::operationQueue()->isSuspended()) << "before the start nothing is waited for";
    start();
    settle();
    EXPECT_EQ(ran, 1);

    ZDMAnalytics::queueOperationWithBlockThenWait([&] { ++ran; });
    EXPECT_TRUE(ZDMAnalytics::operationQueue()->isSuspended());
    ZDMAnalytics::queueOperationWithBlock([&] { ++ran; });
    ZDMAnalytics::queue()->sync([] {});
    EXPECT_EQ(ran, 2) << "the waited operation reached the serial queue; the next is held";
    clock_->advance(0.4);
    EXPECT_TRUE(ZDMAnalytics::operationQueue()->isSuspended());
    clock_->advance(0.1);
    EXPECT_FALSE(ZDMAnalytics::operationQueue()->isSuspended());
    settle();
    EXPECT_EQ(ran, 3);
}

TEST_F(Facade, TheStartIsGatedByTheClassesPresentAndRunsOnce) {
    int willStart = 0;
    auto observation = NotificationCenter::defaultCenter().addObserver(
        "kVUZArezivodoWillStartNotification", [&](const Notification&) { ++willStart; });

    Runtime::registerClass("ZUDADatabase");
    start();
    settle();
    EXPECT_EQ(countOf(25029), 1);
    EXPECT_FALSE(ZDMMeasurement::hasSharedInstance());
    EXPECT_TRUE(ZDMAnalytics::operationQueue()->isSuspended());
    Runtime::unregisterClass("ZUDADatabase");

    Runtime::registerClass("VUZArezivodo");
    start({}, "am");
    settle();
    EXPECT_EQ(countOf(25026), 1);
    EXPECT_FALSE(ZDMMeasurement::hasSharedInstance());
    EXPECT_EQ(willStart, 0);
    EXPECT_TRUE(SKPaymentQueue::defaultQueue()->transactionObservers().empty());

    start({}, "za");
    settle();
    EXPECT_EQ(SKPaymentQueue::defaultQueue()->transactionObservers(),
              std::vector<std::shared_ptr<SKPaymentTransactionObserver>>{ZDMAnalytics::sharedInstance()});
    ASSERT_TRUE(ZDMMeasurement::hasSharedInstance());
    const auto first = engine();
    EXPECT_EQ(first->appID(), kAppID);
    EXPECT_EQ(willStart, 1);
    EXPECT_FALSE(ZDMAnalytics::operationQueue()->isSuspended());
    EXPECT_TRUE(ZDMAnalytics::analyticsEnabled()) << "as the engine was at its initialisation";

    start({{ZDMAnalytics::kLogTagOptionKey, "other"}}, "za");
    settle();
    EXPECT_EQ(willStart, 1) << "a second start changes nothing";
    EXPECT_EQ(engine(), first);
}

TEST_F(Facade, WithoutTheInterfaceAServicePlistDefersTheStartAndAnUnlinkedAdSdkIsWarnedOf) {
    const fs::path bundle = FileLocations::applicationSupportDirectory() / "App.app";
    fs::create_directories(bundle);
    Bundle::setMainBundle(Bundle::bundleWithPath(bundle));
    const auto plist = plist::write(Value(Dictionary{{"ZIZODA_APP_ID", kAppID}}), plist::Format::XML);
    ASSERT_TRUE(plist);
    std::ofstream(bundle / "ZizodaService-Info.plist", std::ios::binary)
        .write(reinterpret_cast<const char*>(plist->data()), static_cast<std::streamsize>(plist->size()));

    start();
    settle();
    EXPECT_EQ(countOf(25027), 1);
    EXPECT_FALSE(ZDMMeasurement::hasSharedInstance());

    Runtime::registerClass("VUZArezivodo");
    Runtime::registerClass("ZADMobileAds");
    start();
    settle();
    EXPECT_EQ(countOf(25028), 1);
    EXPECT_TRUE(ZDMMeasurement::hasSharedInstance()) << "the warning does not stop the start";
}

// A tag manager found by class name; it counts its initialisations.
class TagManager : public RuntimeObject {
  public:
    std::string className() const override { return "ZTMManager"; }
    bool respondsToSelector(std::string_view selector) const override {
        return selector == "initializeSharedInstance";
    }
    Value perform(std::string_view selector) const override {
        if (selector == "initializeSharedInstance") ++initializations;
        return Value();
    }
    mutable std::atomic<int> initializations{0};
};

TEST_F(Facade, ATagManagerPresentIsInitialisedAtTheStart) {
    Runtime::registerClass("ZTMManager");
    ZDMAnalytics::maybeEnableTagManager();
    EXPECT_EQ(lastSampledMessage(), "E:ZTMManager class doesn't define initializeSharedInstance");

    auto tagManager = std::make_shared<TagManager>();
    Runtime::registerClass("ZTMManager", tagManager);
    start();
    settle();
    EXPECT_EQ(tagManager->initializations, 1);
}

TEST_F(Facade, TheOptionsSetTheTagAndTheAllowListWhenEveryNameIsValid) {
    struct Case {
        const char* what;
        Value safelist;
        std::vector<int64_t> codes;
        std::vector<std::string> used;
    };
    const Case cases[] = {
        {"valid list", Value::Array{"cycled", "resized"}, {}, {"cycled", "resized"}},
        {"not an array", "cycled", {25034}, {}},
        {"one bad name", Value::Array{"cycled", std::string(41, 'x')}, {25035}, {}},
    };
    for (const auto& c : cases) {
        restart();
        const auto before = loggedCodes();
        start({{"measurement_engine_log_tag", "tag"}, {"safelisted_events", c.safelist}});
        settle();
        const auto after = loggedCodes();
        std::vector<int64_t> safelistCodes;
        for (auto code = after.begin() + before.size(); code != after.end(); ++code)
            if (*code == 25034 || *code == 25035) safelistCodes.push_back(*code);
        EXPECT_EQ(safelistCodes, c.codes) << c.what;
        ASSERT_NE(engine(), nullptr) << c.what;
        EXPECT_EQ(engine()->safelistedEvents(), c.used) << c.what;
    }
    EXPECT_EQ(ZDMMeasurement::monitor()->logTag(), "tag");

    start({{"safelisted_events", Value::Array{"cycled"}}});
    EXPECT_EQ(lastSampledMessage(), "E:Invalid monitor tag. It must be a non-empty string.");
    EXPECT_EQ(ZDMMeasurement::monitor()->logTag(), "tag");
}

TEST_F(Facade, EventsFromFourThreadsAreStoredInTimeOrder) {
    start();
    settle();
    forgetStartUpReports(*ZDMMeasurement::sharedInstance());
    std::atomic<bool> logging{true};
    std::thread ticking([&] {
        while (logging) {
            clock_->advance(0.001);
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> loggers;
    for (int thread = 0; thread < 4; ++thread)
        loggers.emplace_back([thread] {
            for (int i = 0; i < 250; ++i)
                ZDMAnalytics::logEventWithName("thread_" + std::to_string(thread), std::nullopt);
        });
    for (auto& logger : loggers) logger.join();
    logging = false;
    ticking.join();
    settle();

    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 1000u);
    for (size_t i = 1; i < rows.size(); ++i)
        ASSERT_LE(rows[i - 1].timestamp, rows[i].timestamp) << "row " << i;
    EXPECT_LT(rows.front().timestamp, rows.back().timestamp) << "the clock moved while they logged";
}

TEST_F(Facade, RefusedNamesBecomeErrorEventsAndScreenViewsAreNeverQueued) {
    ZDMAnalytics::logEventWithName("screen_view", Dictionary{{"screen_name", "Spaces"}});
    // Waiting for the reporter's queue lets its own "_vs" reach the facade.
    const auto screen = ZDMScreenViewReporter::sharedInstance()->currentScreen();
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->name(), "Spaces");
    EXPECT_EQ(ZDMAnalytics::operationQueue()->operationCount(), 1u)
        << "the screen view is not held even before the start, only the reporter's \"_vs\"";
    start();
    settle();

    ZDMAnalytics::logEventWithName("first_open", std::nullopt);
    ZDMAnalytics::logEventWithName(std::string(41, 'n'), std::nullopt);
    ZDMAnalytics::logEventWithName("screen_view", std::nullopt);
    settle();
    EXPECT_EQ(errorEventCodes(), (std::vector<int64_t>{13, 2}));
    for (const auto& name : storedNames()) {
        EXPECT_NE(name, "first_open");
        EXPECT_NE(name, "screen_view");
    }
}

TEST_F(Facade, DeactivatedCollectionIsNeverEnabledAndGetsNoInterceptor) {
    start({{"measurement_engine_log_tag", "tag"}, {"ZUDEDARO_ANALYTICS_COLLECTION_DEACTIVATED", true}});
    settle();
    RunLoop::runUntilIdle();
    EXPECT_TRUE(ZDMAnalytics::isAnalyticsCollectionDeactivated());
    ZDMAnalytics::setAnalyticsEnabled(true);
    settle();
    EXPECT_FALSE(ZDMAnalytics::analyticsEnabled());
    EXPECT_FALSE(engine()->isEnabled());
    EXPECT_TRUE(proxy::registrations().empty());
    EXPECT_EQ(proxy::proxyOriginalDelegateCount(), 0);
}

TEST_F(Facade, TheInterceptorIsRegisteredOnceFromTheMainQueue) {
    start();
    settle();
    EXPECT_TRUE(proxy::registrations().empty()) << "it waits for the main queue";
    RunLoop::runUntilIdle();
    ZDMAnalytics::createAppDelegateProxy();
    const auto registrations = proxy::registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_TRUE(registrations[0].onMainThread);
    EXPECT_NE(registrations[0].interceptor.lock(), nullptr);
    EXPECT_EQ(proxy::proxyOriginalDelegateCount(), 1);
    EXPECT_EQ(countOf(25036), 0);
}

TEST_F(Facade, AProxyTheAppSwitchedOffIsLoggedAndNotInstalled) {
    proxy::setAppDelegateProxyEnabled(false);
    start();
    settle();
    RunLoop::runUntilIdle();
    EXPECT_EQ(countOf(25036), 1);
    EXPECT_TRUE(proxy::registrations().empty());
}

TEST_F(Facade, PersistingStoresTheEnableStateAndTheEngineFollows) {
    start();
    settle();
    const auto config = ZDMPersistedConfig::sharedInstance();
    const struct {
        bool enabled;
        bool persist;
        int64_t state;
    } steps[] = {{false, true, 2}, {true, true, 1}, {false, false, 1}, {true, false, 1}};
    for (const auto& step : steps) {
        ZDMAnalytics::setAnalyticsEnabled(step.enabled, step.persist);
        settle();
        EXPECT_EQ(config->measurementEnabledState(), step.state) << step.enabled << step.persist;
        EXPECT_EQ(ZDMAnalytics::analyticsEnabled(), step.enabled);
        EXPECT_EQ(engine()->isEnabled(), step.enabled);
    }
    ZDMAnalytics::setSessionTimeoutInterval(600);
    settle();
    EXPECT_EQ(engine()->sessionReporter()->timeoutSessionInterval(), 600);
}

TEST_F(Facade, TheConfigurationsSwitchDisablesWithoutPersistingAndATextIsLogged) {
    const auto configuration = std::make_shared<ZUDAnalyticsConfiguration>();
    start(
        {{"measurement_engine_log_tag", "tag"},
         {"ZUDEDARO_ANALYTICS_CONFIGURATION", Value(std::static_pointer_cast<const Object>(configuration))}});
    settle();
    ASSERT_TRUE(ZDMAnalytics::analyticsEnabled());

    configuration->setAnalyticsCollectionEnabled(false);
    settle();
    EXPECT_FALSE(ZDMAnalytics::analyticsEnabled());
    EXPECT_FALSE(engine()->isEnabled());
    EXPECT_EQ(ZDMPersistedConfig::sharedInstance()->measurementEnabledState(), 0) << "not persisted";

    NotificationCenter::defaultCenter().post(
        "VUZArezivodoConfigurationSetEnabledNotification", configuration.get(),
        Value(Dictionary{{"VUZArezivodoConfigurationSetEnabledNotification", "YES"}}));
    ZDMUserDefaults other("unrelated");
    NotificationCenter::defaultCenter().post(
        "VUZArezivodoConfigurationSetEnabledNotification", &other,
        Value(Dictionary{{"VUZArezivodoConfigurationSetEnabledNotification", true}}));
    settle();
    EXPECT_EQ(countOf(25000), 1);
    EXPECT_FALSE(ZDMAnalytics::analyticsEnabled()) << "only the configuration's own notifications count";
}

// Level-2 messages are never printed; the monitor's sample (the last report) shows them.
TEST_F(Facade, ListenersHearEveryAnnouncedEventOnTheSerialQueueUntilRemoved) {
    EXPECT_EQ(ZDMAnalytics::addLogEventListener(nullptr), std::nullopt);
    EXPECT_EQ(lastSampledMessage(), "E:Attempted addition of nil log event listener.");
    ZDMAnalytics::removeLogEventListener(std::nullopt);
    EXPECT_EQ(lastSampledMessage(), "E:Attempted removal of nil log event.");
    start();
    settle();
    int unknown = 0;
    ZDMAnalytics::removeLogEventListener(ZDMLogEventListenerToken{&unknown});
    settle();
    EXPECT_EQ(lastSampledMessage(), "E:Attempted removal of nil log event listener.")
        << "removed before any listener was added";

    std::vector<std::string> heard;
    std::atomic<bool> offSerialQueue{false};
    const auto token = ZDMAnalytics::addLogEventListener([&](const std::shared_ptr<ZDMEvent>& event) {
        if (!ZDMAnalytics::isCurrentQueueSerialQueue()) offSerialQueue = true;
        heard.push_back(event->name());
    });
    ASSERT_TRUE(token.has_value());
    ZDMAnalytics::removeLogEventListener(ZDMLogEventListenerToken{&unknown});
    settle();
    EXPECT_EQ(lastSampledMessage(), "E:Attempted removal of log event listener with invalid token.");
    for (const char* name : {"one", "two"})
        ZDMAnalytics::notifyEventListeners(ZDMEvent::initWithOrigin("app", true, name, clock_->now(), 0, {}));
    settle();
    EXPECT_EQ(heard, (std::vector<std::string>{"one", "two"}));
    EXPECT_FALSE(offSerialQueue);

    ZDMAnalytics::removeLogEventListener(token);
    ZDMAnalytics::notifyEventListeners(ZDMEvent::initWithOrigin("app", true, "three", clock_->now(), 0, {}));
    settle();
    EXPECT_EQ(heard.size(), 2u);
}

TEST_F(Facade, TheInterceptorTakesOverTheAppsEventsAndListenersHearWhatTheEngineHandled) {
    start();
    settle();
    std::vector<std::string> heard, intercepted;
    const auto token = ZDMAnalytics::addLogEventListener(
        [&](const std::shared_ptr<ZDMEvent>& event) { heard.push_back(event->name()); });
    ZDMAnalytics::logEventWithName("cycled", std::nullopt);
    ZDMAnalytics::setLogEventInterceptor([&](const std::string& origin, const std::string& name,
                                             const Dictionary&,
                                             double) { intercepted.push_back(origin + ":" + name); });
    ZDMAnalytics::logEventWithName("resized", std::nullopt);
    settle();
    EXPECT_EQ(heard, std::vector<std::string>{"cycled"});
    EXPECT_EQ(intercepted, std::vector<std::string>{"app:resized"});
    EXPECT_EQ(storedNames(), std::vector<std::string>{"cycled"});

    // On the serial queue the change is in force at once, before anything queued after it.
    ZDMAnalytics::queue()->sync([] {
        ZDMAnalytics::setLogEventInterceptor(nullptr);
        ZDMAnalytics::logEventOnSerialQueueWithOrigin("app", true, "switched", std::nullopt, 0, false, false,
                                                      {});
    });
    settle();
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"cycled", "switched"}));
    EXPECT_EQ(intercepted.size(), 1u);
    ZDMAnalytics::removeLogEventListener(token);
}

TEST_F(Facade, DefaultEventParametersReachTheEngineOnlyWhileAnalyticsIsEnabled) {
    start();
    settle();
    ZDMAnalytics::setAnalyticsEnabled(false);
    settle();
    ZDMAnalytics::setDefaultEventParameters(Dictionary{{"team", "red"}});
    settle();
    EXPECT_EQ(countOf(23211), 0) << "the engine was not even asked";
    ZDMAnalytics::setAnalyticsEnabled(true);
    ZDMAnalytics::logEventWithName("cycled", std::nullopt);
    ZDMAnalytics::setDefaultEventParameters(Dictionary{{"team", "blue"}});
    ZDMAnalytics::logEventWithName("resized", std::nullopt);
    settle();
    std::vector<std::string> teams;
    for (const auto& event : storedEvents()) {
        if (event->name().starts_with("_")) continue;
        const auto team = event->parameters()["team"].objectAs<ZDMValue>();
        teams.push_back(event->name() + "=" + (team ? team->stringValue().value_or("") : ""));
    }
    EXPECT_EQ(teams, (std::vector<std::string>{"cycled=", "resized=blue"}));
}

TEST_F(Facade, AnAdEventIDTextBecomesAnIntegerWhenItIsANumber) {
    start();
    settle();
    ZDMAnalytics::sharedInstance()->logInternalEventWithOriginNameParameters("am", "_ab", {{"_aeid", "12x"}});
    EXPECT_EQ(lastSampledMessage(), "E:AdEvent ID string is not a number");
    ZDMAnalytics::sharedInstance()->logInternalEventWithOriginNameParameters("am", "_ab", {{"_aeid", "123"}});
    settle();
    std::vector<Value> ids;
    for (const auto& event : storedEvents())
        if (event->name() == "_ab") ids.push_back(event->parameters()["_aeid"]);
    ASSERT_EQ(ids.size(), 2u);
    const auto text = ids[0].objectAs<ZDMValue>();
    EXPECT_EQ(text ? text->stringValue().value_or("") : ids[0].stringOr(""), "12x");
    const auto number = ids[1].objectAs<ZDMValue>();
    ASSERT_NE(number, nullptr);
    EXPECT_TRUE(number->isInt64()) << "stored as an integer";
    EXPECT_EQ(number->int64Value(), 123);
}

TEST_F(Facade, OnlyAnOpenedURLReachesTheOpenURLListenerOnTheSerialQueue) {
    std::vector<std::string> urls;
    bool offSerialQueue = false;
    ZDMAnalytics::setOpenURLListener([&](const std::string& url) {
        offSerialQueue |= !ZDMAnalytics::isCurrentQueueSerialQueue();
        urls.push_back(url);
    });
    ZDMAnalytics::handleOpenURL("quorvane://spaces?utm_source=news");
    ZDMAnalytics::handleUserActivity(Value("https://quorvane.example/spaces"));
    ZDMAnalytics::queue()->sync([] {});
    EXPECT_EQ(urls, std::vector<std::string>{"quorvane://spaces?utm_source=news"})
        << "links are not held until the start";
    EXPECT_FALSE(offSerialQueue);

    bool finished = false;
    ZDMAnalytics::handleEventsForBackgroundURLSession("session", [&] { finished = true; });
    EXPECT_TRUE(finished) << "no background session runs here, so there is nothing to wait for";
}

TEST_F(Facade, TheOpenURLListenerHearsOfALinkOnlyAfterTheEngineHasIt) {
    start();
    settle();
    const auto running = engine();
    ASSERT_TRUE(running);
    size_t campaignsSeenByListener = 0;
    ZDMAnalytics::setOpenURLListener([&](const std::string&) {
        // Whatever the engine was handed before the listener runs is done once its queue drains.
        drain(*running);
        campaignsSeenByListener =
            RawFile(databasePath()).rows("SELECT rowid FROM raw_events WHERE name = '_cmp'").size();
    });
    ZDMAnalytics::handleOpenURL("quorvane://spaces?utm_source=news&utm_medium=mail");
    ZDMAnalytics::queue()->sync([] {});
    EXPECT_EQ(campaignsSeenByListener, 1u);
}

TEST_F(Facade, PersistedConsentIsLoadedWithItsSourceCapped) {
    struct Case {
        std::optional<int64_t> source;
        bool thirdParty;
        bool app;
        int64_t expectedSource;
    };
    const Case cases[] = {
        {std::nullopt, true, true, ZDMConsentSettingsUtil::kSourceNone},
        {35, false, true, 35},
        {50, false, true, 40},
        {35, true, true, 20},
        {5, true, false, 5},
    };
    const Dictionary denied{{"analytics_storage", "denied"}};
    for (const auto& c : cases) {
        ZDMConsentSettingsUtil::resetForTesting();
        auto suite = facadeSuite();
        for (const char* key : {ZDMAnalytics::kConsentSourceKey, ZDMAnalytics::kConsentSettings3PKey,
                                ZDMAnalytics::kConsentSettingsKey})
            suite.removeObjectForKey(key);
        if (c.source) suite.setInteger(*c.source, ZDMAnalytics::kConsentSourceKey);
        if (c.thirdParty) suite.setObject(Value(denied), ZDMAnalytics::kConsentSettings3PKey);
        if (c.app) suite.setObject(Value(denied), ZDMAnalytics::kConsentSettingsKey);
        ZDMAnalytics::loadPersistedConsentSettings();
        EXPECT_EQ(ZDMConsentSettingsUtil::consentSource(), c.expectedSource) << c.source.value_or(-1);
        EXPECT_EQ(ZDMConsentSettingsUtil::isAnalyticsStorageDenied(), c.source.has_value());
    }
}

TEST_F(Facade, TheStartLoadsConsentAndKeepsTheOptionsConsentForTheEngine) {
    facadeSuite().setInteger(30, ZDMAnalytics::kConsentSourceKey);
    facadeSuite().setObject(Value(Dictionary{{"ad_storage", "denied"}}), ZDMAnalytics::kConsentSettingsKey);
    start({{"measurement_engine_log_tag", "tag"}, {"analytics_storage", "granted"}, {"other", 1}});
    EXPECT_EQ(ZDMAnalytics::consentSettings1PStart(), (Dictionary{{"analytics_storage", "granted"}}));
    settle();
    EXPECT_TRUE(ZDMConsentSettingsUtil::isAdStorageDenied());
}

}  // namespace
