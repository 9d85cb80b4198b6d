#include <gtest/gtest.h>

#include <thread>

#include "measurement/audiences/purchases/ZDMInAppPurchaseProductCache.h"
#include "measurement/audiences/purchases/ZDMInAppPurchaseTransactionReporter.h"
#include "measurement/audiences/purchases/tests/PurchaseFixture.h"
#include "measurement/engine/ZDMAnalytics.h"
#include "platform/foundation/Bundle.h"

namespace {

using Item = ZDMInAppPurchaseItem;
using State = SKPaymentTransactionState;
using Reporter = ZDMInAppPurchaseTransactionReporter;

class PurchaseReporting : public PurchaseFixture {
  protected:
    void report(const Reporter::Transactions& transactions) {
        reporter_->paymentQueue(nullptr, transactions);
    }
    void provideRecords(std::vector<Item> records) {
        reporter_->setPurchaseRecordProvider([records] { return records; });
    }
    // Fetches the products into the cache, as an earlier batch would have.
    void cacheProducts(std::set<std::string> identifiers) {
        std::atomic<bool> done = false;
        ZDMInAppPurchaseProductCache::sharedInstance()->requestProductsWithProductIdentifiers(
            std::move(identifiers), DispatchQueue::global(), [&](auto, auto, auto) { done = true; });
        ASSERT_TRUE(eventually([&] { return done.load(); }));
    }
    static void useSandboxStore() {
        auto bundle = std::make_shared<Bundle>(Dictionary{});
        bundle->setAppStoreReceiptURL("file:///Applications/App.app/Contents/_MASReceipt/sandboxReceipt");
        Bundle::setMainBundle(bundle);
    }

    std::shared_ptr<Reporter> reporter_ = Reporter::sharedInstance();
};

TEST_F(PurchaseReporting, OnlyPurchasedTransactionsWithAProductAreReported) {
    SKSimulatedStore::addProduct(product("a"));
    report({transaction("a", "t1", State::failed), transaction("a", "t2", State::restored),
            transaction("a", "t3", State::purchasing), transaction("a", "t4", State::deferred),
            transaction("", "t5"), nullptr});
    EXPECT_TRUE(SKSimulatedStore::startedRequests().empty());
    EXPECT_TRUE(events().empty());
    EXPECT_TRUE(purchaseCodes().empty());
}

TEST_F(PurchaseReporting, UncachedProductsAreFetchedInOneRequestThenEachPurchaseIsLogged) {
    SKSimulatedStore::addProduct(product("a"));
    SKSimulatedStore::addProduct(product("b"));
    report({transaction("a", "t1"), transaction("b", "t2"), transaction("a", "t3", State::failed)});
    ASSERT_TRUE(eventuallyEvents(2));
    EXPECT_EQ(SKSimulatedStore::startedRequests(), (std::vector<std::set<std::string>>{{"a", "b"}}));
    std::set<std::string> products;
    for (const auto& event : events()) {
        EXPECT_EQ(event.origin, "auto");
        // No records on this host: not backed, and the flag that said so is gone.
        EXPECT_EQ(event.name, "_iapx");
        EXPECT_FALSE(event.parameters.contains("invalid"));
        EXPECT_FALSE(event.parameters.contains("sandbox"));
        products.insert(*event.parameters.at("product_id").asString());
    }
    EXPECT_EQ(products, (std::set<std::string>{"a", "b"}));

    // Known now: reported without asking the store again.
    report({transaction("a", "t4")});
    ASSERT_TRUE(eventuallyEvents(3));
    EXPECT_EQ(SKSimulatedStore::startedRequests().size(), 1u);
}

TEST_F(PurchaseReporting, AFailedProductRequestLogsAndReportsNothing) {
    SKSimulatedStore::setRequestError(Error("SKErrorDomain", 2, "offline"));
    report({transaction("a", "t1")});
    ASSERT_TRUE(eventually([&] { return purchaseCodes() == std::vector<int64_t>{21027}; }));
    EXPECT_TRUE(events().empty());
}

TEST_F(PurchaseReporting, EventNamesFollowTheClassification) {
    struct Row {
        std::string name;
        std::vector<Item> records;
        int transactionDay;
        bool sandbox;
        std::string event;
        Plain flags;  // expected values of the flag parameters; a missing value must be absent
    };
    Item trial = record("a", Item::kAutoRenewableSubscription, "t1", "t1", 1);
    trial.freeTrial = true;
    const Item paid = record("a", Item::kAutoRenewableSubscription, "t1", "t1", 1);
    const Item renewal = record("a", Item::kAutoRenewableSubscription, "t1", "t2", 2);
    const Row rows[] = {
        {"backed consumable", {record("a", Item::kConsumable, "t1", "t1")}, 1, false, "_iap", {}},
        {"not backed", {}, 1, false, "_iapx", {}},
        {"not backed, sandbox", {}, 1, true, "_iapx", {{"sandbox", Value(1)}}},
        {"renewal after a trial", {trial, renewal}, 2, false, "_assc", {}},
        {"ordinary renewal", {paid, renewal}, 2, false, "_assr", {}},
        {"free trial", {trial}, 1, false, "_iap", {{"free_trial", Value(1)}, {"subscription", Value(1)}}},
    };
    SKSimulatedStore::addProduct(product("a"));
    cacheProducts({"a"});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.sandbox) useSandboxStore();
        provideRecords(row.records);
        const size_t before = events().size();
        auto t = transaction("a", "t9");
        t->setTransactionDate(dateOfDay(row.transactionDay));
        report({t});
        ASSERT_TRUE(eventuallyEvents(before + 1));
        const LoggedEvent event = events().back();
        Bundle::resetMainBundle();
        EXPECT_EQ(event.name, row.event);
        for (const char* flag :
             {"invalid", "sandbox", "sub_renew", "sub_convert", "free_trial", "subscription"}) {
            auto expected = row.flags.find(flag);
            auto found = event.parameters.find(flag);
            EXPECT_EQ(found == event.parameters.end() ? Value() : found->second,
                      expected == row.flags.end() ? Value() : expected->second)
                << flag;
        }
    }
}

// Each report keeps the records it took: one batch finishing never clears those of another.
TEST_F(PurchaseReporting, ConcurrentBatchesClassifyAgainstTheirOwnRecords) {
    constexpr int kRounds = 200;
    SKSimulatedStore::addProduct(product("a"));
    SKSimulatedStore::addProduct(product("b"));
    cacheProducts({"a", "b"});
    provideRecords({record("a", Item::kConsumable, "t1", "t1")});
    std::thread other([&] {
        for (int i = 0; i < kRounds; ++i) report({transaction("b", "tb" + std::to_string(i))});
    });
    for (int i = 0; i < kRounds; ++i) report({transaction("a", "ta" + std::to_string(i))});
    other.join();
    ASSERT_TRUE(eventuallyEvents(2 * kRounds));
    int a = 0, b = 0;
    for (const auto& event : events()) {
        const std::string product = *event.parameters.at("product_id").asString();
        EXPECT_EQ(event.name, product == "a" ? "_iap" : "_iapx") << product;
        (product == "a" ? a : b)++;
    }
    EXPECT_EQ(a, kRounds);
    EXPECT_EQ(b, kRounds);
}

TEST_F(PurchaseReporting, FingerprintsOnlyPurchasedTransactionsWithARealIdentifier) {
    struct Row {
        std::string name;
        std::shared_ptr<SKPaymentTransaction> transaction;
        std::optional<std::string> fingerprint;
        std::string sampled;  // the monitor's last report, with the transaction's error code as context
    };
    const auto failing = [](std::optional<std::string> identifier) {
        auto t = transaction("a", std::move(identifier));
        t->setError(Error("SKErrorDomain", 7));
        return t;
    };
    const Row rows[] = {
        {"no transaction", nullptr, std::nullopt, "E:Transaction is nil|"},
        {"not purchased", transaction("a", "1000000123", State::restored), std::nullopt, ""},
        {"no identifier", failing(std::nullopt), std::nullopt, "E:Transaction identifier is nil. Code|7"},
        {"empty identifier", failing(""), std::nullopt, "E:Transaction identifier is empty. Code|7"},
        {"zeros and hyphens", failing("000-0"), std::nullopt,
         "E:Transaction identifier is only zeroes. Code|7"},
        {"real identifier", transaction("a", "1000000123"), "afccd9bcc0e95ca4e2f2f0a95a2f0087", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        monitor_->clearMonitoringData();
        EXPECT_EQ(Reporter::transactionFingerprint(row.transaction.get()), row.fingerprint);
        std::string sampled = lastSampledMessage();
        if (!sampled.empty()) sampled += "|" + (*storedSample().asArray())[0].stringOr("");
        EXPECT_EQ(sampled, row.sampled);
    }
}

TEST_F(PurchaseReporting, TheFacadeHandsItsFilteredPurchasesToTheSharedReporter) {
    ZDMInstallPurchaseReporterForFacade();
    const auto reporter = ZDMAnalytics::purchaseReporter();
    ZDMAnalytics::setPurchaseReporter(nullptr);
    ASSERT_TRUE(reporter);
    SKSimulatedStore::addProduct(product("a"));
    reporter(nullptr, {transaction("a", "t1")});
    ASSERT_TRUE(eventuallyEvents(1));
    EXPECT_EQ(*events()[0].parameters.at("product_id").asString(), "a");
}

}  // namespace
