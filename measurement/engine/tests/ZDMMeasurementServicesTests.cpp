#include <future>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/tests/EngineFixture.h"
#include "measurement/engine/tests/PaymentTransactions.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/storekit/SKPaymentTransaction.h"

namespace {
constexpr const char* kAppID = "1:123456:ios:abcdef";

struct SessionAnswer {
    int64_t sessionID = -1;
    std::string error;
    std::string queue;
};
}  // namespace

class EngineServices : public EngineFixture {
  protected:
    ~EngineServices() override {
        ZDMMeasurement::setPurchaseFingerprint(nullptr);
        Bundle::resetMainBundle();
    }
    std::shared_ptr<ZDMMeasurement> startedEngine() {
        auto engine = makeEngine(kAppID);
        forgetStartUpReports(*engine);
        EXPECT_TRUE(engine->isEnabled());
        return engine;
    }
    void setProperty(ZDMMeasurement& engine, const std::string& name, std::shared_ptr<const ZDMValue> value,
                     double at) {
        onWorkerQueue(engine, [&] {
            EXPECT_TRUE(engine.setUserPropertyInDatabaseOnWorkerQueue(
                ZDMUserAttribute::initWithOrigin("auto", name, std::move(value), at)));
        });
    }
    SessionAnswer sessionID(ZDMMeasurement& engine) {
        std::promise<SessionAnswer> answer;
        engine.sessionIDWithCompletion([&](int64_t id, const std::optional<Error>& error) {
            answer.set_value({id, error ? std::to_string(error->code) + " " + error->description : "",
                              DispatchQueue::currentLabel()});
        });
        return answer.get_future().get();
    }
    static std::vector<std::string> products(const ZDMMeasurement::PurchaseTransactions& transactions) {
        std::vector<std::string> out;
        for (const auto& t : transactions) out.push_back(t->payment().productIdentifier);
        return out;
    }
    ZDMMeasurement::PurchaseTransactions filtered(ZDMMeasurement& engine,
                                                  const ZDMMeasurement::PurchaseTransactions& transactions,
                                                  std::string* queue = nullptr) {
        std::promise<ZDMMeasurement::PurchaseTransactions> kept;
        engine.filterPurchaseTransactions(transactions,
                                          [&](const ZDMMeasurement::PurchaseTransactions& result) {
                                              if (queue) *queue = DispatchQueue::currentLabel();
                                              kept.set_value(result);
                                          });
        return kept.get_future().get();
    }
};

TEST_F(EngineServices, TheSessionIDIsAnsweredOnTheWorkerQueueOrSaysWhyNot) {
    auto engine = startedEngine();
    onWorkerQueue(*engine,
                  [&] { engine->persistedConfig()->setLastSessionActivityClockTime(clock_->now()); });
    EXPECT_EQ(sessionID(*engine).error, "13 Session ID not found");

    setProperty(*engine, "_sid", ZDMValue::initWithInt64(1700000000), clock_->now());
    const auto answer = sessionID(*engine);
    EXPECT_EQ(answer.sessionID, 1700000000);
    EXPECT_EQ(answer.error, "");
    EXPECT_EQ(answer.queue, ZDMScheduler::kWorkerQueueLabel);

    clock_->advance(1801);
    EXPECT_EQ(sessionID(*engine).error, "13 Session expired");

    engine->setEnabled(false);
    drain(*engine);
    EXPECT_EQ(sessionID(*engine).error, "13 Analytics disabled");
}

TEST_F(EngineServices, ASessionIDAskedOfAnEngineThatIsGoneSaysSo) {
    auto scheduler = ZDMScheduler::initWithWorkerQueueLabel(ZDMScheduler::kWorkerQueueLabel);
    auto engine = ZDMMeasurement::initWithDatabaseName(
        ZDMMeasurement::kDatabaseName, ZDMPersistedConfig::sharedInstance(), nullptr, scheduler,
        ZDMAlarm::make(scheduler->workerQueue(), ZDMMeasurement::kAlarmName), kAppID, true, false, {},
        nullptr);
    std::promise<void> release;
    // The worker queue is held until the engine is gone.
    scheduler->scheduleOnWorkerQueueBlockID("test", [gate = release.get_future().share()] { gate.wait(); });
    std::promise<std::string> answer;
    engine->sessionIDWithCompletion([&](int64_t, const std::optional<Error>& error) {
        answer.set_value(error ? error->description : "");
    });
    engine.reset();
    release.set_value();
    EXPECT_EQ(answer.get_future().get(), "Analytics deallocated");
    scheduler->dispatchSyncOnWorkerQueueBlockID("test", [] {});
}

TEST_F(EngineServices, PurchasesAreKeptOnceEachAndOnlyWhenPurchased) {
    auto engine = startedEngine();
    ZDMMeasurement::setPurchaseFingerprint([](const SKPaymentTransaction& t) -> std::optional<std::string> {
        if (!t.transactionIdentifier()) return std::nullopt;
        return "fp-" + *t.transactionIdentifier();
    });
    RawFile(databasePath())
        .exec(
            "CREATE TRIGGER refuse BEFORE INSERT ON purchase_transactions WHEN NEW.fingerprint = 'fp-t2' "
            "BEGIN SELECT RAISE(ABORT, 'no'); END");
    std::string queue;
    const auto kept =
        filtered(*engine,
                 {transaction("R", "t0", SKPaymentTransactionState::restored), transaction("P1", "t1"),
                  transaction("P1", "t1"), transaction("P2", "t2"), transaction("P3", "")},
                 &queue);
    EXPECT_EQ(products(kept), (std::vector<std::string>{"P1", "P2", "P3"}));
    EXPECT_EQ(queue, DispatchQueue::global()->label());
    EXPECT_EQ(countOf(23141), 1);
    EXPECT_EQ(countOf(23140), 1);
    // Kept for the health report only, never printed.
    EXPECT_EQ(lastSampledMessage(),
              "E:Purchase has nil or empty fingerprint. Purchase will not be checked for "
              "duplicates. Product ID");
    // The failed save left nothing behind, so the same purchase is checked again next time.
    RawFile(databasePath()).exec("DROP TRIGGER refuse");
    EXPECT_EQ(products(filtered(*engine, {transaction("P2", "t2"), transaction("P1", "t1")})),
              (std::vector<std::string>{"P2"}));
}

TEST_F(EngineServices, WithoutAFingerprintEveryPurchaseIsKeptUnchecked) {
    auto engine = startedEngine();
    EXPECT_EQ(products(filtered(*engine, {transaction("P1", "t1"), transaction("P1", "t1")})),
              (std::vector<std::string>{"P1", "P1"}));
    EXPECT_EQ(lastSampledMessage(),
              "E:Purchase has nil or empty fingerprint. Purchase will not be checked for "
              "duplicates. Product ID");
}

TEST_F(EngineServices, FirstOpenTimeIsThatOfFotElseTheEarliestProperty) {
    auto engine = startedEngine();
    double answer = -1;
    onWorkerQueue(*engine, [&] { answer = engine->firstOpenTimestamp(); });
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(lastSampledMessage(), "E:Cannot extract first open timestamp. Empty user properties");

    setProperty(*engine, "color", ZDMValue::initWithString(Value("red")), 3000);
    setProperty(*engine, "_lte", ZDMValue::initWithInt64(1), 2000);
    onWorkerQueue(*engine, [&] { answer = engine->firstOpenTimestamp(); });
    EXPECT_EQ(answer, 2000);
    setProperty(*engine, "_fot", ZDMValue::initWithInt64(1), 2500);
    onWorkerQueue(*engine, [&] { answer = engine->firstOpenTimestamp(); });
    EXPECT_EQ(answer, 2500);
}

TEST_F(EngineServices, AdNetworkRegistrationFollowsANumberInTheInfoPlist) {
    auto engine = startedEngine();
    struct Case {
        Value value;
        bool allowed;
    };
    for (const auto& c : std::vector<Case>{{Value(), true},
                                           {Value(false), false},
                                           {Value(0), false},
                                           {Value(1), true},
                                           {Value("NO"), true}}) {
        Dictionary info;
        if (!c.value.isNull()) info = {{"ZIZODA_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED", c.value}};
        Bundle::setMainBundle(std::make_shared<Bundle>(info));
        EXPECT_EQ(engine->shouldAllowAdNetworkRegistration(), c.allowed) << static_cast<int>(c.value.type());
    }
}

TEST_F(EngineServices, AResetWipesTheDataAndTakesTheNewID) {
    auto engine = startedEngine();
    setProperty(*engine, "color", ZDMValue::initWithString(Value("red")), clock_->now());
    ZDMAnalytics::setLoadTimestamp(1234.5);
    ZDMAnalytics::setDeferredAnalyticsCollection(std::nullopt);

    EXPECT_FALSE(engine->resetAnalyticsDataWithAppInstanceID(""));
    EXPECT_EQ(countOf(23167), 1);
    EXPECT_FALSE(ZDMAnalytics::deferredAnalyticsCollection());

    EXPECT_TRUE(engine->resetAnalyticsDataWithAppInstanceID("fresh-id"));
    EXPECT_TRUE(loggedInOrder({23171, 23168}));
    EXPECT_EQ(engine->persistedConfig()->appInstanceID(), "fresh-id");
    EXPECT_EQ(engine->initTimestamp(), 1234.5);
    std::shared_ptr<ZDMUserAttribute> color, firstOpen;
    onWorkerQueue(*engine, [&] {
        color = engine->database()->userAttributeWithName("color");
        firstOpen = engine->database()->userAttributeWithName("_fot");
    });
    EXPECT_EQ(color, nullptr);
    // Enabled, so the new first open is reported at once, dated at the load time; it uses up the
    // stored load time and the deferred-collection mark.
    ASSERT_TRUE(firstOpen);
    EXPECT_EQ(firstOpen->lastSetTimestamp(), 1234.5);
    EXPECT_FALSE(engine->persistedConfig()->loadTimestampValue());
    EXPECT_FALSE(ZDMAnalytics::deferredAnalyticsCollection());

    // Disabled, the first open waits for the next start, and the mark says collection was deferred.
    engine->setEnabled(false);
    drain(*engine);
    ZDMAnalytics::setDeferredAnalyticsCollection(std::nullopt);
    EXPECT_TRUE(engine->resetAnalyticsDataWithAppInstanceID("other-id"));
    EXPECT_EQ(engine->persistedConfig()->loadTimestampValue()->asReal(), 1234.5);
    ASSERT_TRUE(ZDMAnalytics::deferredAnalyticsCollection());
    EXPECT_EQ(ZDMAnalytics::deferredAnalyticsCollection()->asBool(), true);
}

TEST_F(EngineServices, WithAnalyticsStorageDeniedAResetTakesNoID) {
    auto engine = startedEngine();
    ZDMConsentSettingsUtil::setConsentSettings(Dictionary{{"analytics_storage", Value("denied")}});
    ASSERT_TRUE(ZDMConsentSettingsUtil::isAnalyticsStorageDenied());
    EXPECT_TRUE(engine->resetAnalyticsDataWithAppInstanceID(std::nullopt));
    EXPECT_EQ(countOf(23218), 1);
    EXPECT_EQ(countOf(23167), 0);
    EXPECT_EQ(engine->persistedConfig()->appInstanceID(), std::nullopt);
}
