// The facade's consent, reset and identity over a real engine on the manual clock, and the payment
// queue's purchases on their way to purchase reporting.
#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "measurement/engine/VUZArezivodo.h"
#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMAnalyticsState.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/engine/tests/FacadeFixture.h"
#include "measurement/engine/tests/PaymentTransactions.h"
#include "measurement/foundation/ZDMIdentity.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMRemoteConfig.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/storekit/SKPaymentQueue.h"

namespace {
using Consent = std::map<std::string, std::string>;

struct SessionAnswer {
    int64_t sessionID = -1;
    std::string error;
    std::string queue;
};

Consent consentOf(const std::optional<Dictionary>& settings) {
    Consent out;
    for (const auto& [name, value] : settings.value_or(Dictionary{})) out[name] = value.stringOr("?");
    return out;
}

}  // namespace

class FacadeConsent : public FacadeFixture {
  protected:
    ~FacadeConsent() override {
        ZDMAnalyticsSetAppInstanceIDMakerForTesting(nullptr);
        ZDMAnalytics::setPurchaseReporter(nullptr);
        ZDMMeasurement::setPurchaseFingerprint(nullptr);
    }
    static std::shared_ptr<ZDMMeasurement> engine() { return ZDMMeasurement::sharedInstance(); }
    void setProperty(const std::string& name, std::shared_ptr<const ZDMValue> value) {
        onWorkerQueue(*engine(), [&] {
            EXPECT_TRUE(engine()->setUserPropertyInDatabaseOnWorkerQueue(
                ZDMUserAttribute::initWithOrigin("auto", name, std::move(value), clock_->now())));
        });
    }
    // Some of everything the engine keeps: a raw event, a user property and a queued bundle.
    void storeSomeData() {
        ZDMAnalytics::logEventWithName("my_event", Dictionary{});
        ZDMAnalytics::setUserPropertyString(std::optional<std::string>("red"), "color");
        settle();
        // A bundle waiting for its upload; what it holds does not matter to a reset.
        onWorkerQueue(*engine(), [&] {
            RawFile(databasePath()).exec("INSERT INTO queue (data, bundle_end_timestamp) VALUES (x'00', 1)");
        });
        ASSERT_EQ(queuedBundles(), 1);
        ASSERT_EQ(eventNames(), (std::multiset<std::string>{"my_event"}));
        ASSERT_TRUE(storedProperties().contains("color"));
    }
    int64_t queuedBundles() {
        settle();
        return std::stoll(RawFile(databasePath()).rows("SELECT COUNT(*) FROM queue").at(0));
    }
    std::multiset<std::string> eventNames() {
        std::multiset<std::string> names;
        for (const auto& event : storedEvents()) names.insert(event->name());
        return names;
    }
    std::set<std::string> propertyNames() {
        std::set<std::string> names;
        for (const auto& [name, property] : storedProperties()) names.insert(name);
        return names;
    }
    static SessionAnswer sessionID() {
        std::promise<SessionAnswer> answer;
        ZDMAnalytics::sessionIDWithCompletion([&](int64_t id, std::optional<Error> error) {
            answer.set_value({id, error ? std::to_string(error->code) + " " + error->description : "",
                              DispatchQueue::currentLabel()});
        });
        return answer.get_future().get();
    }
};

TEST_F(FacadeConsent, OnlyGrantedAndDeniedAreTakenAndNothingLeftChangesNothing) {
    ZDMAnalytics::setConsent(Dictionary{{"ad_storage", Value("maybe")}});
    EXPECT_TRUE(loggedInOrder({25042, 25041}));
    EXPECT_FALSE(ZDMConsentSettingsUtil::consentSettings());
    EXPECT_EQ(ZDMConsentSettingsUtil::consentSource(), ZDMConsentSettingsUtil::kSourceNone);
    EXPECT_FALSE(ZDMAnalytics::consentSettings1P());

    ZDMAnalytics::setConsent(Dictionary{{"ad_storage", Value(1)}, {"analytics_storage", Value("granted")}});
    EXPECT_EQ(countOf(25042), 2);
    EXPECT_EQ(consentOf(ZDMAnalytics::consentSettings1P()), (Consent{{"analytics_storage", "granted"}}));
    EXPECT_EQ(ZDMAnalytics::persistedConsentSource(), ZDMConsentSettingsUtil::kSourceApp);
}

TEST_F(FacadeConsent, TheInterfacesConsentOutranksTheAppsAndBothMergeTheOtherWayRound) {
    // The interface's settings first: the app's are of lower priority.
    VUZArezivodo::setConsent(Dictionary{{"ad_storage", Value("granted")}});
    EXPECT_EQ(consentOf(ZDMAnalytics::consentSettings3P()), (Consent{{"ad_storage", "granted"}}));
    EXPECT_EQ(ZDMAnalytics::persistedConsentSource(), 10);
    ZDMAnalytics::setConsent(Dictionary{{"analytics_storage", Value("granted")}});
    EXPECT_EQ(countOf(25043), 1);
    EXPECT_EQ(consentOf(ZDMConsentSettingsUtil::consentSettings()), (Consent{{"ad_storage", "granted"}}));
    EXPECT_FALSE(ZDMAnalytics::consentSettings1P());

    // The other order, in a new process with nothing kept: both are taken.
    ZDMAnalytics::clearConsent();
    ZDMAnalytics::setConsent(Dictionary{{"analytics_storage", Value("granted")}});
    VUZArezivodo::setConsent(Dictionary{{"ad_storage", Value("granted")}});
    EXPECT_EQ(countOf(25043), 1);
    EXPECT_EQ(consentOf(ZDMAnalytics::consentSettings3P()),
              (Consent{{"ad_storage", "granted"}, {"analytics_storage", "granted"}}));
    EXPECT_EQ(ZDMAnalytics::persistedConsentSource(), 10);
}

TEST_F(FacadeConsent, ThePersistedSourceIsCappedByWhereTheSettingsWereKept) {
    struct Case {
        const char* name;
        bool thirdPartyStored;
        int64_t source;
    };
    for (const auto& c : {Case{"only the app's", false, 35}, Case{"the interface's too", true, 20}}) {
        SCOPED_TRACE(c.name);
        ZDMAnalytics::clearConsent();
        ZDMAnalytics::persistConsentSettings(Dictionary{{"ad_storage", Value("granted")}}, 35);
        if (c.thirdPartyStored)
            ZDMAnalytics::persistConsentSettings(Dictionary{{"ad_storage", Value("denied")}}, 10);
        facadeSuite().setInteger(35, ZDMAnalytics::kConsentSourceKey);
        ZDMConsentSettingsUtil::resetForTesting();
        // Nothing in force yet: the settings of the last launch are loaded first.
        ZDMAnalytics::setConsent(Dictionary{{"ad_storage", Value("maybe")}});
        EXPECT_EQ(ZDMConsentSettingsUtil::consentSource(), c.source);
        EXPECT_EQ(consentOf(ZDMConsentSettingsUtil::consentSettings()),
                  (Consent{{"ad_storage", c.thirdPartyStored ? "denied" : "granted"}}));
    }
}

TEST_F(FacadeConsent, AWithdrawalBeforeTheEngineIsUpDefersTheReset) {
    ZDMAnalytics::setAppInstanceIDAfterReset("earlier");
    ZDMAnalytics::setConsent(Dictionary{{"analytics_storage", Value("granted")}});
    EXPECT_FALSE(ZDMAnalytics::deferredResetOnDeniedConsent());
    ZDMAnalytics::setConsent(Dictionary{{"analytics_storage", Value("denied")}});
    EXPECT_TRUE(ZDMAnalytics::deferredResetOnDeniedConsent());
    EXPECT_FALSE(ZDMAnalytics::appInstanceIDAfterReset());
    EXPECT_EQ(ZDMAnalytics::resetRetryCount(), 0) << "no reset was started";
}

TEST_F(FacadeConsent, AWithdrawalOnARunningEngineResetsAtOnce) {
    startFacade();
    ZDMAnalytics::setConsent(Dictionary{{"analytics_storage", Value("granted")}});
    storeSomeData();
    ZDMAnalytics::setConsent(Dictionary{{"analytics_storage", Value("denied")}});
    EXPECT_FALSE(ZDMAnalytics::deferredResetOnDeniedConsent());
    EXPECT_EQ(queuedBundles(), 0);
    EXPECT_FALSE(eventNames().contains("my_event"));
    EXPECT_FALSE(propertyNames().contains("color"));
    // Storage denied: the engine took no ID and said so.
    EXPECT_TRUE(loggedInOrder({23218, 23168}));
    EXPECT_EQ(countOf(25037), 0);
    EXPECT_FALSE(ZDMAnalytics::appInstanceIDAfterReset());
    EXPECT_FALSE(ZDMAnalytics::appInstanceID());
}

TEST_F(FacadeConsent, AResetStartsTheUserOverWithANewID) {
    startFacade();
    storeSomeData();
    const auto before = ZDMAnalytics::appInstanceID();
    ASSERT_TRUE(before && !before->empty());

    // Asked for no ID while storage is granted, the engine refuses and keeps everything.
    EXPECT_FALSE(engine()->resetAnalyticsDataWithAppInstanceID(""));
    EXPECT_EQ(countOf(23167), 1);
    EXPECT_EQ(queuedBundles(), 1);
    EXPECT_TRUE(propertyNames().contains("color"));

    clock_->advance(100);
    ZDMAnalytics::resetAnalyticsData();
    settle();
    EXPECT_EQ(ZDMAnalytics::loadTimestamp(), clock_->now());
    const auto after = ZDMAnalytics::appInstanceID();
    ASSERT_TRUE(after && !after->empty());
    EXPECT_NE(after, before);
    EXPECT_EQ(ZDMIdentity::sharedInstance()->appInstanceID(), after);
    EXPECT_EQ(queuedBundles(), 0);
    EXPECT_EQ(eventNames(), (std::multiset<std::string>{"_f", "_s", "_e"}));
    EXPECT_EQ(propertyNames(), (std::set<std::string>{"_fi", "_fot", "_sid", "_sno"}));
    EXPECT_FALSE(facadeSuite().objectForKey(ZDMAnalytics::kResetRetryCountKey));
    EXPECT_FALSE(facadeSuite().objectForKey(ZDMAnalytics::kAppInstanceIDAfterResetKey));
    EXPECT_EQ(countOf(25037), 0);
}

TEST_F(FacadeConsent, WithNoIDToBeMadeOnlyTheBookkeepingChanges) {
    startFacade();
    storeSomeData();
    const auto before = ZDMAnalytics::appInstanceID();
    ZDMAnalyticsSetAppInstanceIDMakerForTesting([] { return std::string(); });
    clock_->advance(50);
    ZDMAnalytics::resetAnalyticsData();
    settle();
    EXPECT_EQ(countOf(25039), 1);
    EXPECT_EQ(ZDMAnalytics::loadTimestamp(), clock_->now());
    EXPECT_EQ(ZDMAnalytics::resetRetryCount(), 1);
    EXPECT_TRUE(ZDMAnalytics::needFirstOpenAfterReset());
    EXPECT_FALSE(ZDMAnalytics::appInstanceIDAfterReset());
    EXPECT_EQ(ZDMAnalytics::appInstanceID(), before);
    EXPECT_EQ(countOf(23168), 0);
    EXPECT_EQ(queuedBundles(), 1);
    EXPECT_TRUE(propertyNames().contains("color"));
}

TEST_F(FacadeConsent, WithAnalyticsStorageDeniedThereIsNoIDAndTheResetHandsTheEngineNone) {
    ZDMAnalytics::setConsent(Dictionary{{"analytics_storage", Value("denied")}});
    EXPECT_FALSE(ZDMAnalytics::appInstanceID()) << "also before the start";
    startFacade();
    EXPECT_FALSE(ZDMAnalytics::appInstanceID());
    ZDMAnalytics::resetAnalyticsData();
    settle();
    EXPECT_EQ(countOf(23218), 1);
    EXPECT_EQ(countOf(23168), 1);
    EXPECT_EQ(countOf(25037), 0);
    EXPECT_FALSE(ZDMAnalytics::appInstanceIDAfterReset());
    EXPECT_FALSE(facadeSuite().objectForKey(ZDMAnalytics::kResetRetryCountKey));
}

TEST_F(FacadeConsent, TheSessionIDComesOnTheDefaultGlobalQueueOrSaysWhyNot) {
    const std::string global = DispatchQueue::global()->label();
    ZDMAnalytics::sessionIDWithCompletion(nullptr);
    EXPECT_EQ(countOf(25050), 1);

    auto answer = sessionID();
    EXPECT_EQ(answer.sessionID, 0);
    EXPECT_EQ(answer.error, "13 Analytics uninitialized");
    EXPECT_EQ(answer.queue, global);

    startFacade();
    onWorkerQueue(*engine(),
                  [&] { engine()->persistedConfig()->setLastSessionActivityClockTime(clock_->now()); });
    setProperty("_sid", ZDMValue::initWithInt64(1700000000));
    answer = sessionID();
    EXPECT_EQ(answer.sessionID, 1700000000);
    EXPECT_EQ(answer.error, "");
    EXPECT_EQ(answer.queue, global);

    engine()->remoteConfigInstance()->cacheValue(Value("0"), "measurement.api.session_id");
    EXPECT_EQ(sessionID().error, "13 Session ID API disabled");
    engine()->remoteConfigInstance()->cacheValue(Value("1"), "measurement.api.session_id");

    clock_->advance(1801);
    EXPECT_EQ(sessionID().error, "13 Session expired");

    ZDMAnalytics::setAnalyticsEnabled(false);
    settle();
    answer = sessionID();
    EXPECT_EQ(answer.error, "13 Analytics disabled");
    EXPECT_EQ(answer.queue, global);
}

TEST_F(FacadeConsent, PurchasesFromThePaymentQueueReachTheReporterOnceEach) {
    std::mutex mutex;
    std::vector<std::string> reported;
    std::vector<SKPaymentQueue*> queues;
    ZDMAnalytics::setPurchaseReporter(
        [&](SKPaymentQueue* queue, const ZDMAnalytics::Transactions& transactions) {
            std::lock_guard lock(mutex);
            queues.push_back(queue);
            for (const auto& t : transactions) reported.push_back(t->payment().productIdentifier);
        });
    auto reportedSoFar = [&] {
        std::lock_guard lock(mutex);
        return reported;
    };
    ZDMMeasurement::setPurchaseFingerprint([](const SKPaymentTransaction& t) -> std::optional<std::string> {
        if (!t.transactionIdentifier()) return std::nullopt;
        return "fp-" + *t.transactionIdentifier();
    });
    startFacade();
    RawFile(databasePath())
        .exec(
            "CREATE TRIGGER refuse BEFORE INSERT ON purchase_transactions WHEN NEW.fingerprint = 'fp-t2' "
            "BEGIN SELECT RAISE(ABORT, 'no'); END");
    const auto paymentQueue = SKPaymentQueue::defaultQueue();

    paymentQueue->deliverTransactionsForTesting({transaction("R", "t0", SKPaymentTransactionState::restored),
                                                 transaction("P1", "t1"), transaction("P1", "t1"),
                                                 transaction("P2", "t2")});
    ASSERT_TRUE(eventually([&] { return reportedSoFar().size() == 2; }));
    EXPECT_EQ(reportedSoFar(), (std::vector<std::string>{"P1", "P2"}));
    EXPECT_EQ(countOf(23141), 1);
    EXPECT_EQ(countOf(23140), 1);

    paymentQueue->deliverTransactionsForTesting({transaction("P3", "")});
    ASSERT_TRUE(eventually([&] { return reportedSoFar().size() == 3; }));
    EXPECT_EQ(reportedSoFar().back(), "P3");
    EXPECT_EQ(
        lastSampledMessage(),
        "E:Purchase has nil or empty fingerprint. Purchase will not be checked for duplicates. Product ID");
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(queues, (std::vector<SKPaymentQueue*>{paymentQueue.get(), paymentQueue.get()}));
    }

    ZDMAnalytics::setAnalyticsEnabled(false);
    settle();
    paymentQueue->deliverTransactionsForTesting({transaction("P4", "t4")});
    // Enabling is not held on the operation queue: the purchases' operation has to run first.
    settle();
    ZDMAnalytics::setAnalyticsEnabled(true);
    settle();
    paymentQueue->deliverTransactionsForTesting({transaction("P5", "t5")});
    ASSERT_TRUE(eventually([&] { return reportedSoFar().size() == 4; }));
    EXPECT_EQ(reportedSoFar().back(), "P5") << "nothing reaches the reporter while analytics is disabled";
}
