#include "measurement/audiences/purchases/ZDMInAppPurchaseParameters.h"

#include <chrono>

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMDataMD5.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/foundation/ProcessInfo.h"

namespace {
constexpr int64_t kLogLevel = 8;
constexpr int64_t kMicros = 1000000;

void log(int64_t code, const std::string& message, Value::Array contexts = {}) {
    ZDMMeasurement::monitor()->logWithContexts(kLogLevel, code, message, contexts);
}

void setInt(Dictionary& parameters, const char* key, int64_t value) {
    parameters.set(key, Value(Value::ObjectPtr(ZDMValue::initWithInt64(value))));
}
void setText(Dictionary& parameters, const char* key, const std::string& value) {
    parameters.set(key, Value(Value::ObjectPtr(ZDMValue::initWithString(Value(value)))));
}
std::optional<int64_t> intOf(const Dictionary& parameters, const char* key) {
    auto value = parameters[key].objectAs<ZDMValue>();
    if (!value || !value->isInt64()) return std::nullopt;
    return value->int64Value();
}
bool isSet(const Dictionary& parameters, const char* key) {
    return intOf(parameters, key) == 1;
}

std::string identifierOf(const SKPaymentTransaction* transaction) {
    return transaction ? transaction->transactionIdentifier().value_or("") : "";
}
// A restore or repurchase: the store names an earlier first transaction than this one.
bool repeatsAnEarlierPurchase(const SKPaymentTransaction& transaction) {
    const std::string identifier = identifierOf(&transaction);
    const std::string original = identifierOf(transaction.originalTransaction().get());
    return !identifier.empty() && !original.empty() && identifier != original;
}

using Records = std::vector<const ZDMInAppPurchaseItem*>;

void setChainIdentifier(Dictionary& parameters, const ZDMInAppPurchaseItem* record, bool withLineItem) {
    setInt(parameters, "_did",
           record ? ZDMInAppPurchaseChainIdentifier(record->originalTransactionID,
                                                    withLineItem ? record->webOrderLineItemID : std::nullopt,
                                                    record->productID)
                  : -1);
}

// A renewal follows an earlier record of the chain; it converts a trial when that one was free.
void classifyRenewal(Dictionary& parameters, const Records& productRecords,
                     const ZDMInAppPurchaseItem* record) {
    // Without a record there is no chain to follow, so nothing is called a renewal.
    if (!record || productRecords.empty() || record->originalTransactionID == record->transactionID) return;
    const ZDMInAppPurchaseItem* previous = nullptr;
    for (size_t i = 1; i < productRecords.size(); ++i)
        if (productRecords[i] == record) previous = productRecords[i - 1];
    setInt(parameters, previous && previous->isFreeTrial() ? "sub_convert" : "sub_renew", 1);
}

void markInvalidSubscription(Dictionary& parameters) {
    setInt(parameters, "invalid", 1);
    setInt(parameters, "subscription", 1);
}

void classifySubscription(Dictionary& parameters, const SKPaymentTransaction& transaction,
                          const Records& productRecords, const ZDMInAppPurchaseItem* match) {
    if (match && match->originalTransactionID == match->transactionID) setInt(parameters, "subscription", 1);
    setChainIdentifier(parameters, match, true);
    const bool freeTrial = match && match->isFreeTrial();
    const bool introductory = match && match->isIntroductoryOffer();
    if (freeTrial) {
        setInt(parameters, "free_trial", 1);
        if (repeatsAnEarlierPurchase(transaction)) {
            log(40011, "Repurchase of free-trial auto-renewable subscription will be reported as invalid");
            setInt(parameters, "invalid", 1);
            return;
        }
        log(40009, "Transaction of free-trial auto-renewable subscription will be reported");
    } else if (introductory) {
        setInt(parameters, "price_is_discounted", 1);
        classifyRenewal(parameters, productRecords, match);
        log(40018, "Transaction of introductory offer will be reported");
    }
    if (freeTrial || introductory) {
        log(40010, "Transaction of auto-renewable subscription renewal will be reported");
    } else {
        log(40008, "Transaction of auto-renewable subscription will be reported");
        classifyRenewal(parameters, productRecords, match);
    }
}

// The purchase has records: tell one-off purchases from subscriptions and find this transaction's
// record by its date.
void classifyBacked(Dictionary& parameters, const SKPaymentTransaction& transaction,
                    const Records& productRecords) {
    const ZDMInAppPurchaseItem& last = *productRecords.back();
    const bool subscriptionLike = last.purchaseType == ZDMInAppPurchaseItem::kAutoRenewableSubscription ||
                                  last.webOrderLineItemID ||
                                  last.purchaseType == ZDMInAppPurchaseItem::kNonRenewingSubscription;
    if (productRecords.size() == 1 && !subscriptionLike) {
        if (last.transactionID != last.originalTransactionID) {
            log(40007,
                "Transaction with mismatched transaction ID and original transaction ID will be reported as "
                "consumable");
            return;
        }
        if (last.purchaseType == ZDMInAppPurchaseItem::kConsumable)
            log(40021, "Transaction of consumable item will be reported");
        else if (last.purchaseType == ZDMInAppPurchaseItem::kNonConsumable)
            log(40022, "Transaction of non-consumable item will be reported");
        setChainIdentifier(parameters, &last, false);
        return;
    }
    Records matches;
    const auto date = transaction.transactionDate();
    for (const auto* record : productRecords)
        if (date && ZDMInAppPurchaseDateFromString(record->purchaseDateIA5String) == date)
            matches.push_back(record);
    const std::string& productID = last.productID;
    if (subscriptionLike && matches.empty()) {
        log(40023,
            "Subscription transaction without a purchase record of its date will be reported as invalid",
            {Value(productID)});
        markInvalidSubscription(parameters);
        return;
    }
    if (matches.size() > 1) {
        log(40024, "Subscription transaction with duplicate transaction date will be reported as invalid",
            {Value(productID), Value(static_cast<int64_t>(matches.size()))});
        markInvalidSubscription(parameters);
        return;
    }
    const ZDMInAppPurchaseItem* match = matches.empty() ? nullptr : matches.front();
    if (last.purchaseType == ZDMInAppPurchaseItem::kNonRenewingSubscription) {
        setInt(parameters, "subscription", 1);
        setChainIdentifier(parameters, match, false);
        log(40025, "Transaction of non-renewing subscription will be reported");
        return;
    }
    classifySubscription(parameters, transaction, productRecords, match);
}

// A period given away: the list price is kept aside and nothing is charged.
void applyFreeOffer(Dictionary& parameters) {
    if (auto price = intOf(parameters, "price")) setInt(parameters, "original_price", *price);
    setInt(parameters, "price_is_discounted", 1);
    setInt(parameters, "price", 0);
    setInt(parameters, "value", 0);
}

void applyDiscount(Dictionary& parameters, const SKProduct& product, int64_t quantity) {
    if (isSet(parameters, "free_trial")) return applyFreeOffer(parameters);
    if (!isSet(parameters, "price_is_discounted") || !product.introductoryPrice()) return;
    const SKProductDiscount& discount = *product.introductoryPrice();
    if (ProcessInfo::isOperatingSystemAtLeastVersion({10, 13, 2}) &&
        discount.paymentMode == SKProductDiscountPaymentMode::freeTrial)
        return applyFreeOffer(parameters);
    if (!discount.price) return;
    if (auto price = intOf(parameters, "price")) setInt(parameters, "original_price", *price);
    parameters.erase("price");
    if (auto micros = discount.price->int64ByMultiplyingBy(kMicros)) setInt(parameters, "price", *micros);
    if (quantity == 0) return;
    parameters.erase("value");
    if (auto value = ZDMInAppPurchaseValue(*discount.price, quantity)) setInt(parameters, "value", *value);
}

void setBaseParameters(Dictionary& parameters, const SKProduct& product, int64_t quantity) {
    setText(parameters, "product_id", product.productIdentifier());
    if (product.price()) {
        if (auto micros = product.price()->int64ByMultiplyingBy(kMicros))
            setInt(parameters, "price", *micros);
        if (quantity != 0) {
            if (auto value = ZDMInAppPurchaseValue(*product.price(), quantity))
                setInt(parameters, "value", *value);
            setInt(parameters, "quantity", quantity);
        }
    }
    if (product.priceLocaleCurrencyCode())
        setText(parameters, "currency", *product.priceLocaleCurrencyCode());
    if (product.localizedTitle()) setText(parameters, "product_name", *product.localizedTitle());
}

std::optional<int> digits(std::string_view text, size_t at, size_t count) {
    if (at + count > text.size()) return std::nullopt;
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}
}  // namespace

std::optional<Dictionary> ZDMInAppPurchaseParameters(const SKProduct* product,
                                                     const SKPaymentTransaction* transaction,
                                                     const std::vector<ZDMInAppPurchaseItem>& records) {
    if (!product) {
        log(40026, "IAP Transaction cannot be created from nil product");
        return std::nullopt;
    }
    const std::string& productID = product->productIdentifier();
    if (productID.empty()) {
        log(40027, "IAP Transaction cannot be created from empty or nil product ID");
        return std::nullopt;
    }
    if (!transaction) {
        log(40028, "IAP Transaction cannot be created from nil transaction");
        return std::nullopt;
    }
    Dictionary parameters;
    const int64_t quantity = transaction->payment().quantity;
    setBaseParameters(parameters, *product, quantity);
    if (identifierOf(transaction).empty()) log(40003, "Transaction ID cannot be nil or empty.");

    Records productRecords;
    for (const auto& record : records)
        if (record.productID == productID) productRecords.push_back(&record);
    if (productRecords.empty()) {
        log(40020, "Transaction without a purchase record will be reported as invalid", {Value(productID)});
        setInt(parameters, "invalid", 1);
    } else if (productRecords.back()->purchaseType == ZDMInAppPurchaseItem::kNonConsumable &&
               repeatsAnEarlierPurchase(*transaction)) {
        log(40005, "Restore/repurchase of non-consumable item will be reported as invalid");
        setInt(parameters, "invalid", 1);
    } else {
        classifyBacked(parameters, *transaction, productRecords);
    }

    if (isSet(parameters, "free_trial") || isSet(parameters, "price_is_discounted"))
        applyDiscount(parameters, *product, quantity);
    for (const char* required : {"price", "value", "currency", "product_id"})
        if (!parameters.contains(required)) return std::nullopt;
    return parameters;
}

std::optional<int64_t> ZDMInAppPurchaseValue(const DecimalNumber& price, int64_t quantity) {
    int64_t factor = 0;
    if (__builtin_mul_overflow(quantity, kMicros, &factor)) return std::nullopt;
    return price.int64ByMultiplyingBy(factor);
}

int64_t ZDMInAppPurchaseChainIdentifier(const std::string& originalTransactionID,
                                        std::optional<int64_t> webOrderLineItemID,
                                        const std::string& productID) {
    if (originalTransactionID.empty() || productID.empty()) return -1;
    std::string text = originalTransactionID;
    if (webOrderLineItemID) text += std::to_string(*webOrderLineItemID);
    text += productID;
    return zdm_64LSBMD5(Data(text.begin(), text.end()));
}

std::optional<Date> ZDMInAppPurchaseDateFromString(std::string_view text) {
    // "YYYY-MM-DDTHH:MM:SS", an optional fraction, then "Z".
    const auto year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const auto hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' || text[7] != '-' ||
        (text[10] != 'T' && text[10] != 't') || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    size_t at = 19;
    double fraction = 0, scale = 0.1;
    if (at < text.size() && text[at] == '.') {
        const size_t first = ++at;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10)
            fraction += (text[at] - '0') * scale;
        if (at == first) return std::nullopt;
    }
    if (at + 1 != text.size() || (text[at] != 'Z' && text[at] != 'z')) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(*year), std::chrono::month(unsigned(*month)),
                                           std::chrono::day(unsigned(*day))};
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
    const auto days = std::chrono::sys_days(date).time_since_epoch().count();
    return Date::fromUnix(double(days) * 86400 + *hour * 3600 + *minute * 60 + *second + fraction);
}
