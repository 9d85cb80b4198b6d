#include "measurement/audiences/purchases/ZDMInAppPurchaseProductCache.h"

#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<ZDMInAppPurchaseProductCache> sharedCache;
}

std::shared_ptr<ZDMInAppPurchaseProductCache> ZDMInAppPurchaseProductCache::sharedInstance() {
    return sharedCache.get();
}

std::shared_ptr<const SKProduct> ZDMInAppPurchaseProductCache::cachedProductForProductIdentifier(
    const std::string& identifier) {
    std::shared_ptr<const SKProduct> product;
    lockQueue_->sync([&] {
        auto found = validProducts_.find(identifier);
        if (found != validProducts_.end()) product = found->second;
    });
    return product;
}

void ZDMInAppPurchaseProductCache::requestProductsWithProductIdentifiers(
    std::set<std::string> identifiers, std::shared_ptr<DispatchQueue> queue,
    ZDMProductsRequest::CompletionHandler handler) {
    if (!queue || !handler) return;
    std::weak_ptr<ZDMInAppPurchaseProductCache> weakSelf = weak_from_this();
    ZDMProductsRequest::requestProductsWithProductIdentifiers(
        std::move(identifiers), lockQueue_,
        [weakSelf, queue, handler](auto products, auto invalid, auto error) {
            auto self = weakSelf.lock();
            if (!self) return;
            self->refill(products.value_or(ZDMProductsRequest::Products()),
                         invalid.value_or(std::set<std::string>()));
            queue->async([handler, products = std::move(products), invalid = std::move(invalid),
                          error = std::move(error)] { handler(products, invalid, error); });
        });
}

void ZDMInAppPurchaseProductCache::refill(const ZDMProductsRequest::Products& products,
                                          const std::set<std::string>& invalid) {
    for (const auto& [identifier, product] : products) validProducts_[identifier] = product;
    for (const auto& identifier : invalid) {
        validProducts_.erase(identifier);
        invalidProductIdentifiers_.insert(identifier);
    }
    for (const auto& entry : products) invalidProductIdentifiers_.erase(entry.first);
    if (validProducts_.size() + invalidProductIdentifiers_.size() > kMaxEntries) {
        validProducts_ = products;
        invalidProductIdentifiers_ = invalid;
    }
}
