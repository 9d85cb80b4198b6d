#include "measurement/audiences/purchases/ZDMInAppPurchaseTransactionReporter.h"

#include <set>

#include "measurement/audiences/purchases/ZDMInAppPurchaseParameters.h"
#include "measurement/audiences/purchases/ZDMInAppPurchaseProductCache.h"
#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMAEU.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMStringAdditions.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<ZDMInAppPurchaseTransactionReporter> sharedReporter;

bool takeFlag(Dictionary& parameters, const char* key) {
    const Value* entry = parameters.find(key);
    auto value = entry ? entry->objectAs<ZDMValue>() : nullptr;
    if (!value || !value->isInt64() || value->int64Value() != 1) return false;
    parameters.erase(key);
    return true;
}

// The flags that name the event leave the parameters.
std::string eventNameTakingFlags(Dictionary& parameters) {
    std::string name = "_iap";
    if (takeFlag(parameters, "invalid")) {
        name = "_iapx";
        if (ZDMAEU::isASRS()) parameters.set("sandbox", Value(Value::ObjectPtr(ZDMValue::initWithInt64(1))));
    }
    if (takeFlag(parameters, "sub_renew")) name = "_assr";
    if (takeFlag(parameters, "sub_convert")) name = "_assc";
    return name;
}

Value errorCodeOf(const SKPaymentTransaction& transaction) {
    return transaction.error() ? Value(transaction.error()->code) : Value();
}
}  // namespace

std::shared_ptr<ZDMInAppPurchaseTransactionReporter> ZDMInAppPurchaseTransactionReporter::sharedInstance() {
    return sharedReporter.get();
}

void ZDMInAppPurchaseTransactionReporter::setPurchaseRecordProvider(PurchaseRecordProvider provider) {
    std::lock_guard lock(mutex_);
    purchaseRecordProvider_ = std::move(provider);
}

std::vector<ZDMInAppPurchaseItem> ZDMInAppPurchaseTransactionReporter::currentPurchaseRecords() const {
    PurchaseRecordProvider provider;
    {
        std::lock_guard lock(mutex_);
        provider = purchaseRecordProvider_;
    }
    return provider ? provider() : std::vector<ZDMInAppPurchaseItem>();
}

void ZDMInAppPurchaseTransactionReporter::paymentQueue(SKPaymentQueue*,
                                                       const Transactions& updatedFilteredTransactions) {
    auto cache = ZDMInAppPurchaseProductCache::sharedInstance();
    Transactions kept;
    std::set<std::string> uncached;
    for (const auto& transaction : updatedFilteredTransactions) {
        if (!transaction || transaction->transactionState() != SKPaymentTransactionState::purchased) continue;
        const std::string& identifier = transaction->payment().productIdentifier;
        if (identifier.empty()) continue;
        kept.push_back(transaction);
        if (!cache->cachedProductForProductIdentifier(identifier)) uncached.insert(identifier);
    }
    if (kept.empty()) return;
    std::weak_ptr<ZDMInAppPurchaseTransactionReporter> weakSelf = weak_from_this();
    if (uncached.empty()) {
        DispatchQueue::global()->async([weakSelf, kept] {
            if (auto self = weakSelf.lock()) self->reportTransactionsFromArray(kept);
        });
        return;
    }
    cache->requestProductsWithProductIdentifiers(
        std::move(uncached), DispatchQueue::global(), [weakSelf, kept](auto products, auto, auto error) {
            if (error && (!products || products->empty())) {
                ZDMMeasurement::monitor()->logWithLevel(1, 21027, "Cannot request product information. Error",
                                                        ErrorObject::value(*error));
                return;
            }
            if (auto self = weakSelf.lock()) self->reportTransactionsFromArray(kept);
        });
}

void ZDMInAppPurchaseTransactionReporter::reportTransactionsFromArray(const Transactions& transactions) {
    // A local of this report only: reports run concurrently on the global queue, and one shared
    // field would let one batch clear or replace the records another is classifying against.
    const std::vector<ZDMInAppPurchaseItem> records = currentPurchaseRecords();
    auto cache = ZDMInAppPurchaseProductCache::sharedInstance();
    for (const auto& transaction : transactions) {
        if (!transaction) continue;
        auto product = cache->cachedProductForProductIdentifier(transaction->payment().productIdentifier);
        auto parameters = ZDMInAppPurchaseParameters(product.get(), transaction.get(), records);
        if (!parameters || parameters->empty()) continue;
        const std::string name = eventNameTakingFlags(*parameters);
        ZDMAnalytics::logInternalEventWithOrigin("auto", name, *parameters);
    }
}

std::optional<std::string> ZDMInAppPurchaseTransactionReporter::transactionFingerprint(
    const SKPaymentTransaction* transaction) {
    auto monitor = ZDMMeasurement::monitor();
    if (!transaction) {
        monitor->logWithLevel(2, 21014, "Transaction is nil");
        return std::nullopt;
    }
    if (transaction->transactionState() != SKPaymentTransactionState::purchased) return std::nullopt;
    const auto& identifier = transaction->transactionIdentifier();
    if (!identifier) {
        monitor->logWithLevel(2, 21015, "Transaction identifier is nil. Code", errorCodeOf(*transaction));
        return std::nullopt;
    }
    if (identifier->empty()) {
        monitor->logWithLevel(2, 21016, "Transaction identifier is empty. Code", errorCodeOf(*transaction));
        return std::nullopt;
    }
    if (identifier->find_first_not_of("0-") == std::string::npos) {
        monitor->logWithLevel(2, 21017, "Transaction identifier is only zeroes. Code",
                              errorCodeOf(*transaction));
        return std::nullopt;
    }
    return zdm_MD5String(*identifier);
}

void ZDMInstallPurchaseFingerprintForEngine() {
    ZDMMeasurement::setPurchaseFingerprint([](const SKPaymentTransaction& transaction) {
        return ZDMInAppPurchaseTransactionReporter::transactionFingerprint(&transaction);
    });
}

void ZDMInstallPurchaseReporterForFacade() {
    ZDMAnalytics::setPurchaseReporter(
        [](SKPaymentQueue* queue, const ZDMAnalytics::Transactions& transactions) {
            ZDMInAppPurchaseTransactionReporter::sharedInstance()->paymentQueue(queue, transactions);
        });
}
