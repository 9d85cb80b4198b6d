#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "measurement/engine/ZDMEngineAudience.h"
#include "measurement/engine/ZDMSessionReporter.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMIdentifiers.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMInstalledRemoteConfig.h"
#include "measurement/foundation/ZDMMeasurementService.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Runtime.h"

namespace {

namespace fs = std::filesystem;
using Consent = ZDMConsentSettingsUtil;

class EngineStart : public EngineFixture {
  protected:
    ~EngineStart() override { Runtime::unregisterClass("VUZArezivodo"); }

    static void writeFile(const std::string& path, const std::string& content) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }
    // An sqlite database at `path` holding one table of the test's own.
    static void writeOldDatabase(const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        RawFile file(path);
        file.exec("CREATE TABLE old_marker (x INTEGER); INSERT INTO old_marker VALUES (1);");
    }
    static bool hasOldMarker(const std::string& path) {
        RawFile file(path);
        return !file.rows("SELECT name FROM sqlite_master WHERE name = 'old_marker'").empty();
    }
};

TEST_F(EngineStart, OnlyTheFirstInitialisationCountsAndEarlyCallsWarnWhileTheInterfaceIsPresent) {
    EXPECT_EQ(ZDMMeasurement::sharedInstance(), nullptr);
    EXPECT_TRUE(utilityLines().empty()) << "no analytics interface, no warning";

    Runtime::registerClass("VUZArezivodo");
    EXPECT_EQ(ZDMMeasurement::sharedInstance(), nullptr);
    EXPECT_EQ(ZDMMeasurement::sharedInstance(), nullptr);
    const auto lines = utilityLines();
    ASSERT_EQ(lines.size(), 2u) << "one warning per call";
    for (const auto& line : lines) {
        EXPECT_NE(line.find("<DidAdirezarido>[I-ACS023147]"), std::string::npos) << line;
        EXPECT_NE(line.find("Please, configure Zudedaro by calling [ZUDApp configure]"), std::string::npos);
    }

    ZDMMeasurement::initializeSharedInstanceWithAppID("", true, false, {});
    ZDMMeasurement::initializeSharedInstanceWithAppID("1:123456:ios:abcdef", true, false, {});
    EXPECT_FALSE(ZDMMeasurement::hasSharedInstance());
    EXPECT_EQ(ZDMMeasurement::sharedInstance(), nullptr);
    EXPECT_EQ(utilityLines().size(), 2u) << "no warning once initialisation was attempted";
}

TEST_F(EngineStart, TheSharedInstanceIsMadeOnceWithItsOwnWorkerQueue) {
    ZDMMeasurement::initializeSharedInstanceWithAppID("1:123456:ios:abcdef", false, false, {"purchase"});
    ASSERT_TRUE(ZDMMeasurement::hasSharedInstance());
    const auto engine = ZDMMeasurement::sharedInstance();
    ZDMMeasurement::initializeSharedInstanceWithAppID("1:999:ios:other", true, false, {});
    EXPECT_EQ(ZDMMeasurement::sharedInstance(), engine);
    EXPECT_EQ(engine->appID(), "1:123456:ios:abcdef");
    EXPECT_EQ(engine->safelistedEvents(), std::vector<std::string>{"purchase"});
    EXPECT_EQ(engine->alarm()->name(), "Measurement timer");
    EXPECT_TRUE(loggedInOrder({23007, 23008, 23009, 23207}));
    ASSERT_NE(engine->network(), nullptr);
    EXPECT_EQ(engine->network()->reachabilityHost(), ZDMMeasurementService::current().host);
    EXPECT_EQ(engine->network()->isDebugModeEnabled(), ZDMMeasurement::monitor()->isDebugModeEnabled());
    drain(*engine);
    EXPECT_FALSE(engine->isEnabled());
}

TEST_F(EngineStart, TheNetworkClientLogsThroughTheEngine) {
    const auto engine = ZDMMeasurement::initWithAppID("1:123456:ios:abcdef", false, false, {}, nullptr);
    ASSERT_NE(engine, nullptr);
    drain(*engine);
    ASSERT_NE(engine->network(), nullptr);
    std::promise<void> answered;
    engine->network()->getURL("not a url", std::nullopt, engine->scheduler()->workerQueue(), false,
                              [&](auto, auto, auto) { answered.set_value(); });
    answered.get_future().wait();
    flush(*monitor_);
    const auto lines = logger_->lines();
    const auto line =
        std::find_if(lines.begin(), lines.end(), [](const LoggedLine& x) { return x.code == 901001; });
    ASSERT_NE(line, lines.end());
    EXPECT_EQ(line->level, 1) << "the client's errors are the monitor's level 1";
}

TEST_F(EngineStart, AnEmptyAppIDMakesNoEngine) {
    EXPECT_EQ(ZDMMeasurement::initWithAppID("", true, false, {}, nullptr), nullptr);
    EXPECT_EQ(countOf(23170), 1);
}

TEST_F(EngineStart, NoEngineIsMadeWithoutAPersistedConfigurationOrAScheduler) {
    auto scheduler = ZDMScheduler::initWithWorkerQueueLabel(ZDMScheduler::kWorkerQueueLabel);
    EXPECT_EQ(ZDMMeasurement::initWithDatabaseName(ZDMMeasurement::kDatabaseName, nullptr, nullptr, scheduler,
                                                   nullptr, "1:123456:ios:abcdef", true, false, {}, nullptr),
              nullptr);
    EXPECT_EQ(ZDMMeasurement::initWithDatabaseName(ZDMMeasurement::kDatabaseName,
                                                   ZDMPersistedConfig::sharedInstance(), nullptr, nullptr,
                                                   nullptr, "1:123456:ios:abcdef", true, false, {}, nullptr),
              nullptr);
}

TEST_F(EngineStart, EnablingFollowsDeactivationThenThePersistedStateThenTheAppsSwitch) {
    struct Case {
        bool deactivated;
        int64_t persistedState;
        bool collectionEnabled;
        bool enabled;
    } cases[] = {
        {true, 1, true, false},  {true, 0, true, false}, {false, 1, false, true},
        {false, 2, true, false}, {false, 0, true, true}, {false, 0, false, false},
    };
    for (const Case& c : cases) {
        ZDMPersistedConfig::sharedInstance()->setMeasurementEnabledState(c.persistedState);
        const auto engine = makeEngine("1:123456:ios:abcdef", c.collectionEnabled, c.deactivated);
        drain(*engine);
        const std::string row = std::to_string(c.deactivated) + "/" + std::to_string(c.persistedState) + "/" +
                                std::to_string(c.collectionEnabled);
        EXPECT_EQ(engine->shouldEnableMeasurement(), c.enabled) << row;
        EXPECT_EQ(engine->wasEnabledDuringInitialization(), c.enabled) << row;
        EXPECT_EQ(engine->isEnabled(), c.enabled) << row;
    }
}

TEST_F(EngineStart, ADeactivatedEngineRefusesEveryEnable) {
    const auto engine = makeEngine("1:123456:ios:abcdef", true, true);
    drain(*engine);
    engine->setEnabled(true);
    drain(*engine);
    EXPECT_EQ(countOf(23206), 1);
    EXPECT_FALSE(engine->isEnabled());
    EXPECT_FALSE(engine->didInitializeComponents());
    EXPECT_EQ(engine->database(), nullptr);
    EXPECT_FALSE(fs::exists(databasePath()));
}

TEST_F(EngineStart, EnablingCreatesTheDatabaseAndEveryComponent) {
    const auto engine = makeEngine("1:123456:ios:abcdef");
    drain(*engine);
    EXPECT_TRUE(engine->isEnabled());
    EXPECT_TRUE(engine->didInitializeComponents());
    EXPECT_TRUE(databasePath().starts_with(home_.path().string())) << databasePath();
    EXPECT_TRUE(databasePath().ends_with("/Zizoda/Measurement/zizoda-measurement.sql")) << databasePath();
    EXPECT_TRUE(fs::is_regular_file(databasePath()));
    EXPECT_TRUE(loggedInOrder({23016, 23012}));
    EXPECT_NE(engine->identity(), nullptr);
    EXPECT_NE(engine->database(), nullptr);
    EXPECT_NE(engine->audience(), nullptr);
    ASSERT_NE(engine->sessionReporter(), nullptr);
    EXPECT_TRUE(engine->sessionReporter()->isReportingEnabled());
    ASSERT_NE(engine->remoteConfigInstance(), nullptr);
    EXPECT_EQ(ZDMMeasurement::remoteConfig(), engine->remoteConfigInstance());
    EXPECT_EQ(ZDMAnalytics::deferredAnalyticsCollection(), std::nullopt)
        << "the enable's 0 is used up by the first open";

    engine->setEnabled(false);
    drain(*engine);
    EXPECT_FALSE(engine->isEnabled());
    EXPECT_FALSE(engine->sessionReporter()->isReportingEnabled());
    EXPECT_EQ(countOf(23013), 1);
    const auto database = engine->database();
    engine->setEnabled(true);
    drain(*engine);
    EXPECT_EQ(engine->database(), database) << "components are made once";
    EXPECT_EQ(countOf(23016), 1);
}

TEST_F(EngineStart, AFileInPlaceOfTheDirectoryFailsTheStartUntilItIsRemoved) {
    const fs::path directory = fs::path(databasePath()).parent_path();
    writeFile(directory.string(), "not a directory");
    const auto engine = makeEngine("1:123456:ios:abcdef");
    drain(*engine);
    EXPECT_TRUE(loggedInOrder({23011, 23013}));
    EXPECT_FALSE(engine->isEnabled());
    EXPECT_FALSE(engine->didInitializeComponents());
    EXPECT_EQ(engine->database(), nullptr);

    fs::remove(directory);
    engine->setEnabled(true);
    drain(*engine);
    EXPECT_TRUE(engine->isEnabled());
    EXPECT_TRUE(engine->didInitializeComponents());
    EXPECT_NE(engine->database(), nullptr);
    EXPECT_NE(engine->remoteConfigInstance(), nullptr);
    EXPECT_NE(engine->audience(), nullptr);
    EXPECT_NE(engine->sessionReporter(), nullptr);
    EXPECT_TRUE(fs::is_regular_file(databasePath()));
    EXPECT_EQ(countOf(23012), 1);
}

// The first attempt refuses a database whose table lacks its columns and deletes the file; the
// start goes on only because a second attempt is made.
TEST_F(EngineStart, ASecondDatabaseAttemptFollowsAFailedFirst) {
    RawFile(databasePath()).exec("CREATE TABLE raw_events (x INTEGER)");
    const auto engine = makeEngine("1:123456:ios:abcdef");
    drain(*engine);
    EXPECT_EQ(countOf(12002), 1) << "the first attempt failed";
    EXPECT_EQ(countOf(23011), 0);
    EXPECT_TRUE(engine->isEnabled());
    ASSERT_NE(engine->database(), nullptr);
    RawFile file(databasePath());
    EXPECT_FALSE(file.rows("SELECT name FROM pragma_table_info('raw_events') WHERE name = 'x'").size());
}

TEST_F(EngineStart, WipeRuleFollowsTheAppIDsAndUnfinishedWipes) {
    using Text = std::optional<std::string>;
    struct Case {
        int64_t retries;
        Text appID, current, currentAd, persisted, persistedAd;
        bool wipe;
    } cases[] = {
        {0, "A", "A", {}, "A", {}, false},   // 2: equal IDs
        {0, "B", "B", {}, "A", {}, true},    // 2: measurement ID changed
        {0, "B", "B", {}, {}, "X", true},    // 3: ad ID only before, measurement ID only now
        {0, "B", "B", "Y", {}, "X", true},   // 4: the ad ID changed too
        {0, "B", "B", "X", {}, "X", false},  // 4: the same ad ID
        {0, "A", {}, "X", "A", {}, true},    // 5: measurement ID lost, ad ID new
        {0, "B", {}, {}, {}, "A", true},     // 6: the app ID differs from the old ad ID
        {0, "A", {}, {}, {}, "A", false},    // 6: the same
        {0, "", "", "", "", "", false},      // 7: nothing known
        {3, "A", "A", {}, "A", {}, true},    // an unfinished wipe is retried
        {10, "A", "A", {}, "A", {}, false},  // ten tries: the IDs decide
        {10, "B", "B", {}, "A", {}, true},
    };
    const auto engine = makeEngine("A", false);
    for (const Case& c : cases) {
        ZDMAnalytics::setResetRetryCount(c.retries);
        EXPECT_EQ(
            engine->shouldWipeDataWithAppID(c.appID, c.current, c.currentAd, c.persisted, c.persistedAd),
            c.wipe)
            << c.retries << " " << c.appID.value_or("-") << " " << c.current.value_or("-") << " "
            << c.currentAd.value_or("-") << " " << c.persisted.value_or("-") << " "
            << c.persistedAd.value_or("-");
    }
}

TEST_F(EngineStart, AChangedAppIDWipesTheOldDatabaseAndItsJournals) {
    const auto persisted = ZDMPersistedConfig::sharedInstance();
    persisted->setAppIDFromZOR(std::string("A"));
    ZDMIdentity::sharedInstance()->setAppIDFromZOR("B");
    ZDMIdentifiers::sharedInstance()->setOrigin("za");
    writeOldDatabase(databasePath());
    writeFile(databasePath() + "-journal", "stale journal");
    writeFile(databasePath() + "-wal", "stale write-ahead log");
    ZDMAnalytics::setResetRetryCount(0);

    const auto engine = makeEngine("B");
    drain(*engine);
    ASSERT_TRUE(engine->didInitializeComponents());
    EXPECT_FALSE(hasOldMarker(databasePath()));
    EXPECT_FALSE(fs::exists(databasePath() + "-journal"));
    EXPECT_FALSE(fs::exists(databasePath() + "-wal"));
    EXPECT_EQ(persisted->appIDFromZOR(), "B");
    EXPECT_EQ(engine->previousZORAppID(), "A");
    EXPECT_FALSE(facadeSuite().objectForKey(ZDMAnalytics::kResetRetryCountKey));
    EXPECT_TRUE(loggedInOrder({23171, 23016}));
}

TEST_F(EngineStart, ConsentWithdrawnBeforeTheStartWipesAndGivesANewAppInstanceID) {
    const auto persisted = ZDMPersistedConfig::sharedInstance();
    persisted->setAppInstanceID(std::string("OLDAPPINSTANCEID"));
    Consent::setConsentSettings(Dictionary{{"ad_storage", "denied"}, {"analytics_storage", "granted"}});
    Consent::setConsentSource(Consent::kSourceApp);
    facadeSuite().setObject(Value(true), ZDMAnalytics::kDeferredConsentResetKey);

    const auto engine = makeEngine("1:123456:ios:abcdef");
    drain(*engine);
    ASSERT_TRUE(engine->didInitializeComponents());
    EXPECT_EQ(countOf(23171), 1) << "wiped";
    const auto appInstanceID = engine->identity()->appInstanceID();
    ASSERT_TRUE(appInstanceID);
    EXPECT_FALSE(appInstanceID->empty());
    EXPECT_NE(*appInstanceID, "OLDAPPINSTANCEID");
    EXPECT_FALSE(facadeSuite().objectForKey(ZDMAnalytics::kDeferredConsentResetKey));
}

TEST_F(EngineStart, InfoPlistConsentDefaultsApplyWhenNothingStrongerIsSet) {
    Bundle::setMainBundle(
        std::make_shared<Bundle>(Dictionary{{"ZIZODA_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", false}}));
    const auto engine = makeEngine("1:123456:ios:abcdef", false);
    onWorkerQueue(*engine, [&] { engine->setProspectiveConsentSettings(); });
    const Dictionary denied{{"ad_storage", "denied"}};
    EXPECT_EQ(Consent::consentSettings(), denied);
    EXPECT_EQ(Consent::consentSource(), 20);
    EXPECT_EQ(ZDMAnalytics::consentSettings3P(), denied);
    EXPECT_EQ(ZDMAnalytics::persistedConsentSource(), 20);
    EXPECT_FALSE(ZDMAnalytics::consentSettings1P());
}

TEST_F(EngineStart, ConsentFromTheStartOptionsLastsOneStart) {
    const Dictionary granted{{"analytics_storage", "granted"}};
    facadeSuite().setObject(Value(granted), ZDMAnalytics::kConsentSettingsOnStartKey);
    const auto engine = makeEngine("1:123456:ios:abcdef");
    drain(*engine);
    EXPECT_EQ(Consent::consentSettings(), granted);
    EXPECT_EQ(Consent::consentSource(), 40);
    EXPECT_EQ(ZDMAnalytics::consentSettings1P(), granted);
    EXPECT_FALSE(facadeSuite().objectForKey(ZDMAnalytics::kConsentSettingsOnStartKey));
}

TEST_F(EngineStart, WithTheInterfacePresentRunTimeConsentIsClearedAtTheStart) {
    Runtime::registerClass("VUZArezivodo");
    ZDMAnalytics::persistConsentSettings(Dictionary{{"ad_storage", "denied"}}, 30);
    ZDMAnalytics::persistConsentSettings(Dictionary{{"ad_storage", "granted"}}, 10);
    facadeSuite().setObject(Value(Dictionary{{"ad_storage", "denied"}}),
                            ZDMAnalytics::kConsentSettingsOnStartKey);
    Consent::setConsentSettings(Dictionary{{"ad_storage", "denied"}});
    Consent::setConsentSource(30);
    const auto engine = makeEngine("1:123456:ios:abcdef", false);
    onWorkerQueue(*engine, [&] { engine->setProspectiveConsentSettings(); });
    for (const char* key : {ZDMAnalytics::kConsentSourceKey, ZDMAnalytics::kConsentSettings3PKey,
                            ZDMAnalytics::kConsentSettingsKey, ZDMAnalytics::kConsentSettingsOnStartKey})
        EXPECT_FALSE(facadeSuite().objectForKey(key)) << key;
    EXPECT_EQ(Consent::consentSettings(), std::nullopt);
    EXPECT_EQ(Consent::consentSource(), 100);
}

TEST_F(EngineStart, AWipeOfAnOpenDatabaseEmptiesItAndStartsANewSession) {
    const auto engine = makeEngine("1:123456:ios:abcdef");
    drain(*engine);
    RawFile(databasePath()).exec("CREATE TABLE old_marker (x INTEGER)");
    const auto reporter = engine->sessionReporter();
    bool wiped = false;
    onWorkerQueue(*engine, [&] { wiped = engine->wipeoutAnalyticsDataAndResetComponents(); });
    EXPECT_TRUE(wiped);
    EXPECT_FALSE(hasOldMarker(databasePath()));
    ASSERT_NE(engine->sessionReporter(), nullptr);
    EXPECT_NE(engine->sessionReporter(), reporter);
    EXPECT_TRUE(engine->sessionReporter()->isReportingEnabled());
    EXPECT_EQ(engine->PSMStartCount(), 0);
    EXPECT_EQ(engine->PSMRetryCount(), 0);
}

TEST_F(EngineStart, FeatureRolloutsAreClearedWithoutTheConfigurationLibrary) {
    for (bool present : {false, true}) {
        if (present) Runtime::registerClass("DUVEdudovOvuvuz");
        ZDMPersistedConfig::sharedInstance()->setZudedaroFeatureRollouts(std::string("rollouts"));
        const auto engine = makeEngine("1:123456:ios:abcdef");
        drain(*engine);
        EXPECT_EQ(ZDMPersistedConfig::sharedInstance()->zudedaroFeatureRollouts().has_value(), present);
        Runtime::unregisterClass("DUVEdudovOvuvuz");
    }
}

TEST_F(EngineStart, SmallOperationsAnswerAsTheirTablesSay) {
    struct Rounding {
        int64_t millis, rounded;
    } roundings[] = {{0, 3600000}, {1, 3600000}, {7199999, 7200000}, {7200000, 10800000}};
    for (const Rounding& r : roundings)
        EXPECT_EQ(ZDMMeasurement::timestampMillisRoundedUpToNextHour(r.millis), r.rounded) << r.millis;

    struct Level {
        int network;
        int64_t monitor;
    } levels[] = {{3, 1}, {4, 4}, {5, 3}, {6, 6}, {7, 7}, {0, 3}, {2, 3}, {8, 3}};
    const auto engine = makeEngine("1:123456:ios:abcdef", false);
    drain(*engine);
    for (const Level& l : levels) {
        EXPECT_EQ(ZDMMeasurement::monitorLevelForNetworkLevel(l.network), l.monitor) << l.network;
        engine->ZEDUdovade_logWithLevel(static_cast<ZEDUdovadeLoggerLevel>(l.network), 901000 + l.network,
                                        "network line", Value("context"));
    }
    flush(*monitor_);
    for (const Level& l : levels) {
        const auto lines = logger_->lines();
        const auto line = std::find_if(lines.begin(), lines.end(),
                                       [&](const LoggedLine& x) { return x.code == 901000 + l.network; });
        if (l.monitor > 6 || l.monitor == 2 || l.monitor == 5) continue;  // below the console's level
        ASSERT_NE(line, lines.end()) << l.network;
        EXPECT_EQ(line->level, l.monitor) << l.network;
    }
}

TEST_F(EngineStart, FileAttributesAreReadOrTheFailureLogged) {
    const auto engine = makeEngine("1:123456:ios:abcdef", false);
    const std::string file = (home_.path() / "facts.bin").string();
    writeFile(file, "12345");
    const auto attributes = engine->fileAttributesForPath(file);
    ASSERT_TRUE(attributes);
    EXPECT_EQ((*attributes)["NSFileSize"], Value(int64_t{5}));
    EXPECT_EQ(engine->fileAttributesForPath(""), std::nullopt);
    EXPECT_EQ(lastSampledMessage(), "");
    EXPECT_EQ(engine->fileAttributesForPath((home_.path() / "missing").string()), std::nullopt);
    EXPECT_EQ(lastSampledMessage(), "W:Unable to read attributes of path. Path, error");
}

TEST_F(EngineStart, TheSessionTimeoutReachesTheReporterThroughTheWorkerQueue) {
    const auto engine = makeEngine("1:123456:ios:abcdef");
    drain(*engine);
    engine->setSessionTimeoutInterval(600);
    drain(*engine);
    EXPECT_EQ(engine->sessionReporter()->timeoutSessionInterval(), 600);
    engine->reachabilityDidChange();
    drain(*engine);
}

TEST_F(EngineStart, TheLeastAudienceEvaluatorAcceptsEverythingAndReportsNothing) {
    EXPECT_EQ(ZDMEngineAudience::initWithDatabase(nullptr), nullptr);
    const auto engine = makeEngine("1:123456:ios:abcdef");
    drain(*engine);
    const auto audience = engine->audience();
    ASSERT_NE(audience, nullptr);
    EXPECT_TRUE(audience->updateAudiences({}));
    std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>> results(1);
    EXPECT_TRUE(audience->resultsForBundling(&results));
    EXPECT_TRUE(results.empty());
    EXPECT_TRUE(audience->clearEvaluationResultsForSessionScopedFilters());
}

TEST_F(EngineStart, TheEngineMakesTheAudienceEvaluatorTheLayerAboveInstalled) {
    struct Installed : ZDMEngineAudience {
        std::shared_ptr<ZDMDatabase> database;
    };
    ZDMEngineAudience::setFactory([](std::shared_ptr<ZDMDatabase> database) {
        auto made = std::make_shared<Installed>();
        made->database = std::move(database);
        return made;
    });
    const auto engine = makeEngine("1:123456:ios:abcdef");
    drain(*engine);
    ZDMEngineAudience::setFactory(nullptr);
    const auto installed = std::dynamic_pointer_cast<Installed>(engine->audience());
    ASSERT_NE(installed, nullptr);
    EXPECT_EQ(installed->database, engine->database());
}

}  // namespace
