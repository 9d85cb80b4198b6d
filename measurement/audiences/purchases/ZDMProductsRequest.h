#pragma once
// One products request of the store with its completion handler on a chosen queue. The handler
// runs at most once, with either (products by identifier, invalid identifiers, no error) or
// (nothing, nothing, the error); the request keeps itself alive until then.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Error.h"
#include "platform/storekit/SKProductsRequest.h"

class ZDMProductsRequest : public SKProductsRequestDelegate,
                           public std::enable_shared_from_this<ZDMProductsRequest> {
  public:
    using Products = std::map<std::string, std::shared_ptr<const SKProduct>>;
    using CompletionHandler = std::function<void(std::optional<Products>,
                                                 std::optional<std::set<std::string>>, std::optional<Error>)>;

    // Nothing without both queue and handler. When the store cannot make the request the handler
    // gets error code 1 "Invalid product identifiers.".
    static void requestProductsWithProductIdentifiers(std::set<std::string> identifiers,
                                                      std::shared_ptr<DispatchQueue> queue,
                                                      CompletionHandler handler);
    // nullptr when the store cannot make the request.
    static std::shared_ptr<ZDMProductsRequest> initWithProductIdentifiers(std::set<std::string> identifiers);
    // Nothing without both; otherwise starts the store's request.
    void requestWithQueue(std::shared_ptr<DispatchQueue> queue, CompletionHandler handler);

    void productsRequest(SKProductsRequest& request, const SKProductsResponse& response) override;
    void requestDidFailWithError(SKProductsRequest& request, const Error& error) override;

  private:
    explicit ZDMProductsRequest(std::shared_ptr<SKProductsRequest> request)
        : productsRequest_(std::move(request)) {}
    // Hands the pending handler and queue out and forgets them with the store's request, so that a
    // second answer finds nothing to call.
    std::pair<CompletionHandler, std::shared_ptr<DispatchQueue>> clearInstance();

    std::mutex mutex_;
    std::shared_ptr<SKProductsRequest> productsRequest_;
    CompletionHandler completionHandler_;
    std::shared_ptr<DispatchQueue> queue_;
};
