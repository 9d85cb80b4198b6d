#include <gtest/gtest.h>

#include "platform/foundation/SharedInstance.h"
#include "platform/storekit/SKPaymentQueue.h"

namespace {

class NullObserver : public SKPaymentTransactionObserver {
  public:
    void paymentQueue(SKPaymentQueue&, const Transactions&) override {}
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

}  // namespace
