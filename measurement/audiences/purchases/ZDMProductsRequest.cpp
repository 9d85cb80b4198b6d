#include "measurement/audiences/purchases/ZDMProductsRequest.h"

#include "measurement/foundation/ZDMErrors.h"

void ZDMProductsRequest::requestProductsWithProductIdentifiers(std::set<std::string> identifiers,
                                                               std::shared_ptr<DispatchQueue> queue,
                                                               CompletionHandler handler) {
    if (!queue || !handler) return;
    auto request = initWithProductIdentifiers(std::move(identifiers));
    if (!request) {
        queue->async([handler] {
            handler(std::nullopt, std::nullopt, zdm_errorWithCode(1, "Invalid product identifiers."));
        });
        return;
    }
    // The handler holds the request until it has run: nothing else keeps a request alive.
    request->requestWithQueue(queue, [request, handler](auto products, auto invalid, auto error) {
        handler(std::move(products), std::move(invalid), std::move(error));
    });
}

std::shared_ptr<ZDMProductsRequest> ZDMProductsRequest::initWithProductIdentifiers(
    std::set<std::string> identifiers) {
    auto request = SKProductsRequest::initWithProductIdentifiers(std::move(identifiers));
    if (!request) return nullptr;
    return std::shared_ptr<ZDMProductsRequest>(new ZDMProductsRequest(std::move(request)));
}

void ZDMProductsRequest::requestWithQueue(std::shared_ptr<DispatchQueue> queue, CompletionHandler handler) {
    if (!queue || !handler) return;
    std::shared_ptr<SKProductsRequest> request;
    {
        std::lock_guard lock(mutex_);
        if (!productsRequest_) return;
        completionHandler_ = std::move(handler);
        queue_ = std::move(queue);
        request = productsRequest_;
    }
    request->setDelegate(weak_from_this());
    request->start();
}

void ZDMProductsRequest::productsRequest(SKProductsRequest&, const SKProductsResponse& response) {
    auto [handler, queue] = clearInstance();
    if (!handler || !queue) return;
    Products products;
    for (const auto& product : response.products)
        if (product && !product->productIdentifier().empty())
            products[product->productIdentifier()] = product;
    std::set<std::string> invalid(response.invalidProductIdentifiers.begin(),
                                  response.invalidProductIdentifiers.end());
    queue->async([handler, products = std::move(products), invalid = std::move(invalid)] {
        handler(products, invalid, std::nullopt);
    });
}

void ZDMProductsRequest::requestDidFailWithError(SKProductsRequest&, const Error& error) {
    auto [handler, queue] = clearInstance();
    if (!handler || !queue) return;
    queue->async([handler, error] { handler(std::nullopt, std::nullopt, error); });
}

std::pair<ZDMProductsRequest::CompletionHandler, std::shared_ptr<DispatchQueue>>
ZDMProductsRequest::clearInstance() {
    std::lock_guard lock(mutex_);
    productsRequest_.reset();
    return {std::exchange(completionHandler_, nullptr), std::exchange(queue_, nullptr)};
}
