#include <gtest/gtest.h>

#include <atomic>

#include "measurement/audiences/purchases/ZDMInAppPurchaseProductCache.h"
#include "measurement/audiences/purchases/tests/PurchaseFixture.h"
#include "measurement/foundation/ZDMErrors.h"

namespace {

struct Answer {
    std::optional<ZDMProductsRequest::Products> products;
    std::optional<std::set<std::string>> invalid;
    std::optional<Error> error;
    std::string queueLabel;
};

class ProductCache : public PurchaseFixture {
  protected:
    // Fetches through the cache and waits for the handler on the caller's queue.
    Answer fetch(std::set<std::string> identifiers) {
        auto answer = std::make_shared<std::optional<Answer>>();
        auto mutex = std::make_shared<std::mutex>();
        cache_->requestProductsWithProductIdentifiers(
            std::move(identifiers), callerQueue_, [answer, mutex](auto products, auto invalid, auto error) {
                std::lock_guard lock(*mutex);
                *answer = Answer{products, invalid, error, DispatchQueue::currentLabel()};
            });
        EXPECT_TRUE(eventually([&] {
            std::lock_guard lock(*mutex);
            return answer->has_value();
        }));
        std::lock_guard lock(*mutex);
        return answer->value_or(Answer{});
    }
    bool cached(const std::string& identifier) {
        return cache_->cachedProductForProductIdentifier(identifier) != nullptr;
    }

    std::shared_ptr<ZDMInAppPurchaseProductCache> cache_ = ZDMInAppPurchaseProductCache::sharedInstance();
    std::shared_ptr<DispatchQueue> callerQueue_ = DispatchQueue::serial("caller");
};

TEST_F(ProductCache, KeepsReturnedProductsAndNeverInvalidIdentifiers) {
    SKSimulatedStore::addProduct(product("a"));
    EXPECT_FALSE(cached("a"));
    EXPECT_FALSE(cached("late"));

    const Answer first = fetch({"a", "late"});
    ASSERT_TRUE(first.products && first.invalid);
    EXPECT_EQ(first.products->size(), 1u);
    EXPECT_EQ(*first.invalid, std::set<std::string>{"late"});
    EXPECT_FALSE(first.error);
    EXPECT_EQ(first.queueLabel, "caller");
    EXPECT_TRUE(cached("a"));
    EXPECT_FALSE(cached("late"));

    // Listed as invalid once, then sold after all: it moves to the products.
    SKSimulatedStore::addProduct(product("late"));
    fetch({"late"});
    EXPECT_TRUE(cached("late"));
    EXPECT_EQ(cache_->cachedProductForProductIdentifier("late")->productIdentifier(), "late");
}

TEST_F(ProductCache, ARefillPastAHundredEntriesKeepsOnlyItsOwnResponse) {
    std::set<std::string> many;
    for (int i = 0; i < 99; ++i) {
        SKSimulatedStore::addProduct(product("p" + std::to_string(i)));
        many.insert("p" + std::to_string(i));
    }
    fetch(many);
    EXPECT_TRUE(cached("p0") && cached("p98"));
    SKSimulatedStore::addProduct(product("new"));
    fetch({"new"});  // 100 entries: still within the bound
    EXPECT_TRUE(cached("p0"));

    fetch({"bogus"});  // 101
    EXPECT_FALSE(cached("p0"));
    EXPECT_FALSE(cached("new"));
    // The cache now holds "bogus" alone: one more product stays well within the bound.
    SKSimulatedStore::addProduct(product("later"));
    fetch({"later"});
    EXPECT_TRUE(cached("later"));
    EXPECT_EQ(SKSimulatedStore::startedRequests().size(), 4u);
}

TEST_F(ProductCache, NoQueueOrNoHandlerStartsNothing) {
    std::atomic<int> calls = 0;
    const ZDMProductsRequest::CompletionHandler handler = [&](auto, auto, auto) { ++calls; };
    cache_->requestProductsWithProductIdentifiers({"a"}, nullptr, handler);
    cache_->requestProductsWithProductIdentifiers({"a"}, callerQueue_, nullptr);
    ZDMProductsRequest::requestProductsWithProductIdentifiers({"a"}, nullptr, handler);
    ZDMProductsRequest::requestProductsWithProductIdentifiers({"a"}, callerQueue_, nullptr);
    auto request = ZDMProductsRequest::initWithProductIdentifiers({"a"});
    request->requestWithQueue(callerQueue_, nullptr);
    request->requestWithQueue(nullptr, handler);
    EXPECT_TRUE(SKSimulatedStore::startedRequests().empty());
    EXPECT_EQ(calls, 0);
}

TEST_F(ProductCache, AFailingRequestAnswersOnceWithTheError) {
    SKSimulatedStore::setRequestError(Error("SKErrorDomain", 2, "offline"));
    const Answer failed = fetch({"a"});
    EXPECT_FALSE(failed.products);
    EXPECT_FALSE(failed.invalid);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->code, 2);

    // A request the store cannot make fails the same way with our own error.
    SKSimulatedStore::setRequestCreationFails(true);
    const Answer refused = fetch({"a"});
    EXPECT_FALSE(refused.products || refused.invalid);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code, 1);
    EXPECT_EQ(refused.error->userInfo[kNSLocalizedDescriptionKey], Value("Invalid product identifiers."));
    EXPECT_EQ(refused.queueLabel, "caller");
}

TEST_F(ProductCache, ARequestReportsAtMostOnce) {
    std::atomic<int> calls = 0;
    auto request = ZDMProductsRequest::initWithProductIdentifiers({"a"});
    request->requestWithQueue(callerQueue_, [&](auto, auto, auto) { ++calls; });
    ASSERT_TRUE(eventually([&] { return calls == 1; }));
    // A late answer from the store, as a second delivery would be.
    auto store = SKProductsRequest::initWithProductIdentifiers({"a"});
    request->productsRequest(*store, SKProductsResponse{});
    request->requestDidFailWithError(*store, Error("SKErrorDomain", 2));
    callerQueue_->sync([] {});
    EXPECT_EQ(calls, 1);
}

}  // namespace
