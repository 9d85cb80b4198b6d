#pragma once
// Turns purchased transactions of the payment queue into internal purchase events ("_iap",
// "_iapx", "_assr", "_assc", origin "auto"). The entry may be called on any thread; the products
// are fetched once for the identifiers not cached, and reporting runs on the global queue. Each
// report works on the purchase records it took itself, so reports may run side by side.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/audiences/purchases/ZDMInAppPurchaseItem.h"
#include "platform/storekit/SKPaymentTransaction.h"

class SKPaymentQueue;

class ZDMInAppPurchaseTransactionReporter
    : public std::enable_shared_from_this<ZDMInAppPurchaseTransactionReporter> {
  public:
    using Transactions = std::vector<std::shared_ptr<const SKPaymentTransaction>>;
    // The app's purchase records in purchase-date order; may be called on any thread.
    using PurchaseRecordProvider = std::function<std::vector<ZDMInAppPurchaseItem>()>;

    static std::shared_ptr<ZDMInAppPurchaseTransactionReporter> sharedInstance();

    // Where the host's purchase records come from; without one every purchase counts as not backed
    // by records.
    void setPurchaseRecordProvider(PurchaseRecordProvider provider);

    // The transactions the engine has not reported before (see transactionFingerprint).
    void paymentQueue(SKPaymentQueue* queue, const Transactions& updatedFilteredTransactions);
    // Builds and logs one event per transaction whose product is cached and whose parameters are complete.
    void reportTransactionsFromArray(const Transactions& transactions);
    // The MD5 text of a purchased transaction's identifier, by which the engine drops repeats;
    // nullopt for anything else (logged, codes 21014-21017, unless only the state disqualifies it).
    static std::optional<std::string> transactionFingerprint(const SKPaymentTransaction* transaction);

  private:
    std::vector<ZDMInAppPurchaseItem> currentPurchaseRecords() const;

    mutable std::mutex mutex_;
    PurchaseRecordProvider purchaseRecordProvider_;
};

// Lets the engine tell a purchase from a repeat by the reporter's fingerprint; the facade's start
// calls it with the other installs of the layers above the engine.
void ZDMInstallPurchaseFingerprintForEngine();
// Has the analytics facade hand the payment queue's purchases, once the engine has dropped the
// repeats, to the shared reporter.
void ZDMInstallPurchaseReporterForFacade();
