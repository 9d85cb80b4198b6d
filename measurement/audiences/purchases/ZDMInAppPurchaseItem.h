#pragma once
// One of the app's purchase records, against which a transaction is classified.
#include <cstdint>
#include <optional>
#include <string>

struct ZDMInAppPurchaseItem {
    static constexpr int64_t kNonConsumable = 0;
    static constexpr int64_t kConsumable = 1;
    static constexpr int64_t kNonRenewingSubscription = 2;
    static constexpr int64_t kAutoRenewableSubscription = 3;

    bool freeTrial = false;
    bool introductoryOffer = false;
    std::string subscriptionExpirationDateIA5String;
    std::string productID;
    std::string originalTransactionID;
    std::string transactionID;
    std::optional<int64_t> webOrderLineItemID;  // subscriptions only
    std::string originalPurchaseDateIA5String;
    // An RFC 3339 UTC time ("2026-12-11T02:22:31Z", fractions allowed); what does not parse
    // matches no transaction date.
    std::string purchaseDateIA5String;
    std::string cancellationDateIA5String;
    int64_t purchaseType = kNonConsumable;

    bool isFreeTrial() const { return freeTrial; }
    bool isIntroductoryOffer() const { return introductoryOffer; }
};
