#include "platform/storekit/SKPaymentQueue.h"

#include <algorithm>

#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<SKPaymentQueue> defaultPaymentQueue;
}  // namespace

std::shared_ptr<SKPaymentQueue> SKPaymentQueue::defaultQueue() {
    return defaultPaymentQueue.get();
}

void SKPaymentQueue::addTransactionObserver(const std::shared_ptr<SKPaymentTransactionObserver>& observer) {
    if (!observer) return;
    std::lock_guard lock(mutex_);
    const bool known = std::ranges::any_of(observers_, [&](const Entry& entry) {
        return entry.address == observer.get() && !entry.observer.expired();
    });
    if (!known) observers_.push_back({observer.get(), observer});
}

void SKPaymentQueue::removeTransactionObserver(const SKPaymentTransactionObserver* observer) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [&](const Entry& entry) { return entry.address == observer; });
}

std::vector<std::shared_ptr<SKPaymentTransactionObserver>> SKPaymentQueue::transactionObservers() const {
    std::vector<std::shared_ptr<SKPaymentTransactionObserver>> alive;
    std::lock_guard lock(mutex_);
    for (const auto& entry : observers_)
        if (auto observer = entry.observer.lock()) alive.push_back(std::move(observer));
    return alive;
}

void SKPaymentQueue::deliverTransactionsForTesting(
    const SKPaymentTransactionObserver::Transactions& transactions) {
    // Outside the lock: an observer may add or remove observers while it is told.
    for (const auto& observer : transactionObservers()) observer->paymentQueue(*this, transactions);
}
