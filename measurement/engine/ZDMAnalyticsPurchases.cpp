// The payment queue's transactions, filtered by the engine, go to purchase reporting, which lives
// in a layer above and installs itself here.
#include <mutex>
#include <utility>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMAnalyticsState.h"
#include "measurement/engine/ZDMMeasurement.h"

namespace {
struct ReporterState {
    std::mutex mutex;
    ZDMAnalytics::PurchaseReporter reporter;
};
ReporterState& reporterState() {
    static auto* state = new ReporterState;
    return *state;
}
}  // namespace

ZDMAnalytics::PurchaseReporter ZDMAnalytics::purchaseReporter() {
    std::lock_guard lock(reporterState().mutex);
    return reporterState().reporter;
}

void ZDMAnalytics::setPurchaseReporter(PurchaseReporter reporter) {
    std::lock_guard lock(reporterState().mutex);
    reporterState().reporter = std::move(reporter);
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
