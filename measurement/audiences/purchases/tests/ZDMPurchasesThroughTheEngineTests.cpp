// Purchases as the app's payment queue delivers them, through the started facade and the engine's
// de-duplication to the reporter, and from there into the engine's raw events.
#include "measurement/audiences/purchases/ZDMInAppPurchaseTransactionReporter.h"
#include "measurement/engine/tests/FacadeFixture.h"
#include "measurement/engine/tests/PaymentTransactions.h"
#include "platform/storekit/SKPaymentQueue.h"
#include "platform/storekit/SKProductsRequest_simulated.h"

namespace {

std::shared_ptr<SKProduct> product(const std::string& identifier) {
    auto made = std::make_shared<SKProduct>();
    made->setProductIdentifier(identifier);
    made->setPrice(DecimalNumber::fromString("0.99"));
    made->setPriceLocaleCurrencyCode("USD");
    made->setLocalizedTitle("Pro");
    return made;
}

class PurchasesThroughTheEngine : public FacadeFixture {
  protected:
    PurchasesThroughTheEngine() {
        ZDMInstallPurchaseFingerprintForEngine();
        ZDMInstallPurchaseReporterForFacade();
    }
    ~PurchasesThroughTheEngine() override {
        ZDMAnalytics::setPurchaseReporter(nullptr);
        ZDMMeasurement::setPurchaseFingerprint(nullptr);
    }
    // The stored events the reporter logged, as name and origin.
    std::vector<std::pair<std::string, std::string>> storedPurchases() {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& event : storedEvents())
            if (event->name().starts_with("_iap")) out.emplace_back(event->name(), event->origin());
        return out;
    }
};

TEST_F(PurchasesThroughTheEngine, PurchasedTransactionsAreStoredOnceEachAsAutoEvents) {
    startFacade();
    SKSimulatedStore::addProduct(product("a"));
    SKSimulatedStore::addProduct(product("b"));
    const auto queue = SKPaymentQueue::defaultQueue();
    queue->deliverTransactionsForTesting({transaction("a", "t1"), transaction("b", "t2"),
                                          transaction("a", "t3", SKPaymentTransactionState::failed)});
    ASSERT_TRUE(eventually([&] { return storedPurchases().size() == 2; }));
    // No purchase records on this host: each purchase is reported as not backed by one.
    EXPECT_EQ(storedPurchases(),
              (std::vector<std::pair<std::string, std::string>>{{"_iapx", "auto"}, {"_iapx", "auto"}}));
    EXPECT_EQ(SKSimulatedStore::startedRequests(), (std::vector<std::set<std::string>>{{"a", "b"}}));

    // The same purchase delivered again is dropped by the engine before the reporter sees it.
    queue->deliverTransactionsForTesting({transaction("a", "t1")});
    settle();
    EXPECT_EQ(storedPurchases().size(), 2u);
}

}  // namespace
