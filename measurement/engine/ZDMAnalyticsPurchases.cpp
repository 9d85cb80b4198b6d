// The payment queue's transactions, filtered by the engine, go to purchase reporting, which lives
// in a layer above and installs itself here.
#include <utility>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMAnalyticsState.h"
#include "measurement/engine/ZDMInstalledHook.h"
#include "measurement/engine/ZDMMeasurement.h"

namespace {
ZDMInstalledHook<ZDMAnalytics::PurchaseReporter>& reporterHook() {
    static auto* hook = new ZDMInstalledHook<ZDMAnalytics::PurchaseReporter>;
    return *hook;
}
}  // namespace

ZDMAnalytics::PurchaseReporter ZDMAnalytics::purchaseReporter() {
    return reporterHook().get();
}

void ZDMAnalytics::setPurchaseReporter(PurchaseReporter reporter) {
    reporterHook().set(std::move(reporter));
}

void ZDMAnalytics::paymentQueue(SKPaymentQueue& queue, const Transactions& updatedTransactions) {
    paymentQueueUpdatedTransactions(queue, updatedTransactions);
}

void ZDMAnalytics::paymentQueueUpdatedTransactions(SKPaymentQueue& queue, const Transactions& transactions) {
    // The queue is kept alive until the reporter has it (a queue not owned by a shared pointer
    // reaches the reporter as none).
    queueOperationWithBlock([queue = queue.weak_from_this().lock(), transactions] {
        if (!ZDMAnalyticsCurrentState()->analyticsEnabled.load()) return;
        if (!ZDMMeasurement::hasSharedInstance()) return;
        ZDMMeasurement::sharedInstance()->filterPurchaseTransactions(
            transactions, [queue](const ZDMMeasurement::PurchaseTransactions& kept) {
                if (const auto reporter = purchaseReporter()) reporter(queue.get(), kept);
            });
    });
}
