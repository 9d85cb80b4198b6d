#pragma once
// Asks the store for the products of a set of identifiers. `start` returns at once; the answer
// (a response or an error, exactly one of them) reaches the delegate later on a thread of the
// store's own, never on the caller's. The delegate is held weakly: a request whose delegate has
// gone answers no one.
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/storekit/SKProduct.h"

class SKProductsRequest;

struct SKProductsResponse {
    std::vector<std::shared_ptr<const SKProduct>> products;
    std::vector<std::string> invalidProductIdentifiers;
};

class SKProductsRequestDelegate {
  public:
    virtual ~SKProductsRequestDelegate() = default;
    virtual void productsRequest(SKProductsRequest& request, const SKProductsResponse& response) = 0;
    virtual void requestDidFailWithError(SKProductsRequest& request, const Error& error) = 0;
};

class SKProductsRequest : public std::enable_shared_from_this<SKProductsRequest> {
  public:
    // nullptr when the store cannot make the request.
    static std::shared_ptr<SKProductsRequest> initWithProductIdentifiers(std::set<std::string> identifiers);

    const std::set<std::string>& productIdentifiers() const { return identifiers_; }
    void setDelegate(std::weak_ptr<SKProductsRequestDelegate> delegate);
    // Answers once; a second start does nothing.
    void start();

  private:
    explicit SKProductsRequest(std::set<std::string> identifiers) : identifiers_(std::move(identifiers)) {}

    const std::set<std::string> identifiers_;
    std::mutex mutex_;
    std::weak_ptr<SKProductsRequestDelegate> delegate_;
    bool started_ = false;
};
