#pragma once
// A product of the store as a products request returns it. Values are set once by the store (or a
// test) before the product is shared, then only read.
#include <optional>
#include <string>

#include "platform/foundation/DecimalNumber.h"

enum class SKProductDiscountPaymentMode : int64_t {
    payAsYouGo = 0,
    payUpFront = 1,
    freeTrial = 2,
};

// The introductory offer of a subscription product.
struct SKProductDiscount {
    std::optional<DecimalNumber> price;
    SKProductDiscountPaymentMode paymentMode = SKProductDiscountPaymentMode::payAsYouGo;
};

class SKProduct {
  public:
    const std::string& productIdentifier() const { return productIdentifier_; }
    void setProductIdentifier(std::string identifier) { productIdentifier_ = std::move(identifier); }
    // Exact, as the store lists it; absent for a product the store gave no price.
    const std::optional<DecimalNumber>& price() const { return price_; }
    void setPrice(std::optional<DecimalNumber> price) { price_ = std::move(price); }
    // The price locale's currency code ("USD").
    const std::optional<std::string>& priceLocaleCurrencyCode() const { return currencyCode_; }
    void setPriceLocaleCurrencyCode(std::optional<std::string> code) { currencyCode_ = std::move(code); }
    const std::optional<std::string>& localizedTitle() const { return localizedTitle_; }
    void setLocalizedTitle(std::optional<std::string> title) { localizedTitle_ = std::move(title); }
    const std::optional<SKProductDiscount>& introductoryPrice() const { return introductoryPrice_; }
    void setIntroductoryPrice(std::optional<SKProductDiscount> discount) {
        introductoryPrice_ = std::move(discount);
    }

  private:
    std::string productIdentifier_;
    std::optional<DecimalNumber> price_;
    std::optional<std::string> currencyCode_;
    std::optional<std::string> localizedTitle_;
    std::optional<SKProductDiscount> introductoryPrice_;
};
