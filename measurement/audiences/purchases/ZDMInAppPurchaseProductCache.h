#pragma once
// The store's products already fetched, by identifier, and the identifiers the store declared
// invalid. Both live on the cache's own serial queue: lookups wait for it, refills run on it.
// At most about 100 entries are kept: a refill that passes them keeps only its own response.
#include <map>
#include <memory>
#include <set>
#include <string>

#include "measurement/audiences/purchases/ZDMProductsRequest.h"
#include "platform/dispatch/DispatchQueue.h"

class ZDMInAppPurchaseProductCache : public std::enable_shared_from_this<ZDMInAppPurchaseProductCache> {
  public:
    static constexpr size_t kMaxEntries = 100;

    static std::shared_ptr<ZDMInAppPurchaseProductCache> sharedInstance();

    // nullptr for an identifier never fetched or declared invalid.
    std::shared_ptr<const SKProduct> cachedProductForProductIdentifier(const std::string& identifier);
    // Nothing without both queue and handler. Fetches, refills the cache, then calls the handler on
    // `queue` with the store's answer as it came. Nothing is called once the cache has gone.
    void requestProductsWithProductIdentifiers(std::set<std::string> identifiers,
                                               std::shared_ptr<DispatchQueue> queue,
                                               ZDMProductsRequest::CompletionHandler handler);

  private:
    void refill(const ZDMProductsRequest::Products& products, const std::set<std::string>& invalid);

    const std::shared_ptr<DispatchQueue> lockQueue_ =
        DispatchQueue::serial("com.zizoda.measurement.ZDMInAppPurchaseProductCache");
    std::set<std::string> invalidProductIdentifiers_;  // on lockQueue_
    ZDMProductsRequest::Products validProducts_;       // on lockQueue_
};
