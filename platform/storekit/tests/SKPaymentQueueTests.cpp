#include <gtest/gtest.h>

#include "platform/foundation/SharedInstance.h"
#include "platform/storekit/SKPaymentQueue.h"

namespace {

class NullObserver : public SKPaymentTransactionObserver {
  public:
    void paymentQueue(SKPaymentQueue&, const Transactions&) override {}
};

class RecordingObserver : public SKPaymentTransactionObserver {
  public:
    void paymentQueue(SKPaymentQueue& queue, const Transactions& transactions) override {
        queues.push_back(&queue);
        for (const auto& transaction : transactions)
            products.push_back(transaction->payment().productIdentifier);
    }
    std::vector<SKPaymentQueue*> queues;
    std::vector<std::string> products;
};

TEST(SKPaymentQueue, TheDefaultQueueIsOnePerProcess) {
    resetAllForTesting();
    EXPECT_EQ(SKPaymentQueue::defaultQueue(), SKPaymentQueue::defaultQueue());
}

TEST(SKPaymentQueue, ObserversAreKeptOnceWeaklyAndRemovedByAddress) {
    SKPaymentQueue queue;
    auto first = std::make_shared<NullObserver>();
    auto second = std::make_shared<NullObserver>();
    queue.addTransactionObserver(first);
    queue.addTransactionObserver(second);
    queue.addTransactionObserver(first);
    queue.addTransactionObserver(nullptr);
    EXPECT_EQ(queue.transactionObservers(),
              (std::vector<std::shared_ptr<SKPaymentTransactionObserver>>{first, second}));

    queue.removeTransactionObserver(first.get());
    EXPECT_EQ(queue.transactionObservers(),
              (std::vector<std::shared_ptr<SKPaymentTransactionObserver>>{second}));

    second.reset();
    EXPECT_TRUE(queue.transactionObservers().empty()) << "the queue does not keep an observer alive";
}

TEST(SKPaymentQueue, DeliveredTransactionsReachEveryLiveObserverInOrder) {
    resetAllForTesting();
    const auto queue = SKPaymentQueue::defaultQueue();
    auto first = std::make_shared<RecordingObserver>();
    auto second = std::make_shared<RecordingObserver>();
    auto gone = std::make_shared<RecordingObserver>();
    queue->addTransactionObserver(first);
    queue->addTransactionObserver(gone);
    queue->addTransactionObserver(second);
    gone.reset();

    auto purchase = [](const std::string& product) {
        auto transaction = std::make_shared<SKPaymentTransaction>();
        transaction->setPayment({product, 1});
        return std::shared_ptr<const SKPaymentTransaction>(transaction);
    };
    queue->deliverTransactionsForTesting({purchase("p1"), purchase("p2")});
    for (const auto* observer : {first.get(), second.get()}) {
        EXPECT_EQ(observer->products, (std::vector<std::string>{"p1", "p2"}));
        EXPECT_EQ(observer->queues, (std::vector<SKPaymentQueue*>{queue.get()}));
    }
    EXPECT_EQ(queue->weak_from_this().lock(), queue) << "observers can keep the queue they were told of";
}

}  // namespace
