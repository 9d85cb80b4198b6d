#pragma once
// The parameters of the purchase event of one purchased transaction, and the purchase's
// classification (consumable, subscription, free trial, introductory offer, renewal, not backed by
// the app's records). Prices are micro-units of the product's currency, computed exactly.
// Pure functions of their inputs; they log to the measurement monitor at level 8 (codes 40003 to
// 40028), so they may run on any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measurement/audiences/purchases/ZDMInAppPurchaseItem.h"
#include "platform/foundation/DecimalNumber.h"
#include "platform/foundation/Value.h"
#include "platform/storekit/SKPaymentTransaction.h"
#include "platform/storekit/SKProduct.h"

// Parameter name to ZDMValue; nullopt when no event is to be logged (no product or transaction,
// or no price, value, currency or product identifier). `records` are all of the app's records in
// purchase-date order.
std::optional<Dictionary> ZDMInAppPurchaseParameters(const SKProduct* product,
                                                     const SKPaymentTransaction* transaction,
                                                     const std::vector<ZDMInAppPurchaseItem>& records);
// quantity x price x 1000000, truncated; nullopt when it does not fit 64 bits.
std::optional<int64_t> ZDMInAppPurchaseValue(const DecimalNumber& price, int64_t quantity);
// The 64-bit identifier of a purchase chain; -1 when the original transaction or product ID is empty.
int64_t ZDMInAppPurchaseChainIdentifier(const std::string& originalTransactionID,
                                        std::optional<int64_t> webOrderLineItemID,
                                        const std::string& productID);
// Seconds since the reference date of an RFC 3339 UTC text; nullopt for any other text.
std::optional<Date> ZDMInAppPurchaseDateFromString(std::string_view text);
