#pragma once
// The store's payment queue: the process's one default queue and its transaction observers. The
// queue holds its observers weakly (an observer removes itself before it goes); an observer added
// twice is kept once.
#include <memory>
#include <mutex>
#include <vector>

#include "platform/storekit/SKPaymentTransaction.h"

class SKPaymentQueue;

class SKPaymentTransactionObserver {
  public:
    using Transactions = std::vector<std::shared_ptr<const SKPaymentTransaction>>;
    virtual ~SKPaymentTransactionObserver() = default;
    // Transactions whose state changed; on a thread of the store's own.
    virtual void paymentQueue(SKPaymentQueue& queue, const Transactions& updatedTransactions) = 0;
};

class SKPaymentQueue : public std::enable_shared_from_this<SKPaymentQueue> {
  public:
    static std::shared_ptr<SKPaymentQueue> defaultQueue();

    void addTransactionObserver(const std::shared_ptr<SKPaymentTransactionObserver>& observer);
    // Takes the observer's address, so that an observer can remove itself while it is being destroyed.
    void removeTransactionObserver(const SKPaymentTransactionObserver* observer);
    // The observers still alive, in the order they were added.
    std::vector<std::shared_ptr<SKPaymentTransactionObserver>> transactionObservers() const;
    // For tests, as the store would: every live observer is told of the transactions, in the
    // order the observers were added, on the caller's thread.
    void deliverTransactionsForTesting(const SKPaymentTransactionObserver::Transactions& transactions);

  private:
    struct Entry {
        const SKPaymentTransactionObserver* address;
        std::weak_ptr<SKPaymentTransactionObserver> observer;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> observers_;
};
