#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "platform/foundation/SharedInstance.h"
#include "platform/storekit/SKProductsRequest.h"
#include "platform/storekit/SKProductsRequest_simulated.h"
#include "testing/Eventually.h"

namespace {

class RecordingDelegate : public SKProductsRequestDelegate {
  public:
    void productsRequest(SKProductsRequest&, const SKProductsResponse& response) override {
        std::lock_guard lock(mutex);
        responses.push_back(response);
        threads.push_back(std::this_thread::get_id());
    }
    void requestDidFailWithError(SKProductsRequest&, const Error& error) override {
        std::lock_guard lock(mutex);
        errors.push_back(error);
        threads.push_back(std::this_thread::get_id());
    }
    size_t answers() {
        std::lock_guard lock(mutex);
        return threads.size();
    }

    std::mutex mutex;
    std::vector<SKProductsResponse> responses;
    std::vector<Error> errors;
    std::vector<std::thread::id> threads;
};

class ProductsRequest : public ::testing::Test {
  protected:
    ProductsRequest() { resetAllForTesting(); }
    ~ProductsRequest() override { resetAllForTesting(); }

    static std::shared_ptr<const SKProduct> product(const std::string& identifier) {
        auto product = std::make_shared<SKProduct>();
        product->setProductIdentifier(identifier);
        product->setPrice(DecimalNumber::fromString("0.99"));
        return product;
    }
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
};

TEST_F(ProductsRequest, AnswersCatalogueProductsAndInvalidIdentifiersOnceOffTheCallersThread) {
    SKSimulatedStore::addProduct(product("a"));
    auto request = SKProductsRequest::initWithProductIdentifiers({"a", "gone"});
    ASSERT_TRUE(request);
    request->setDelegate(delegate_);
    request->start();
    request->start();
    ASSERT_TRUE(eventually([&] { return delegate_->answers() == 1; }));
    std::lock_guard lock(delegate_->mutex);
    ASSERT_EQ(delegate_->responses.size(), 1u);
    ASSERT_EQ(delegate_->responses[0].products.size(), 1u);
    EXPECT_EQ(delegate_->responses[0].products[0]->productIdentifier(), "a");
    EXPECT_EQ(delegate_->responses[0].invalidProductIdentifiers, std::vector<std::string>{"gone"});
    EXPECT_NE(delegate_->threads[0], std::this_thread::get_id());
    EXPECT_EQ(SKSimulatedStore::startedRequests(), (std::vector<std::set<std::string>>{{"a", "gone"}}));
}

TEST_F(ProductsRequest, ScriptedFailuresReachTheDelegateOrStopTheRequestBeingMade) {
    SKSimulatedStore::setRequestError(Error("SKErrorDomain", 2, "offline"));
    auto request = SKProductsRequest::initWithProductIdentifiers({"a"});
    request->setDelegate(delegate_);
    request->start();
    ASSERT_TRUE(eventually([&] { return delegate_->answers() == 1; }));
    {
        std::lock_guard lock(delegate_->mutex);
        ASSERT_EQ(delegate_->errors.size(), 1u);
        EXPECT_EQ(delegate_->errors[0].code, 2);
        EXPECT_TRUE(delegate_->responses.empty());
    }
    SKSimulatedStore::setRequestCreationFails(true);
    EXPECT_FALSE(SKProductsRequest::initWithProductIdentifiers({"a"}));
}

}  // namespace
