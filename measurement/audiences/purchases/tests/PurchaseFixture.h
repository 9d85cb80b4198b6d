#pragma once
// Products, transactions and purchase records of a small store, a monitor that records every
// console line (level 8 included), and the internal events the library logs.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/audiences/purchases/ZDMInAppPurchaseItem.h"
#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "platform/storekit/SKPaymentTransaction.h"
#include "platform/storekit/SKProduct.h"
#include "platform/storekit/SKProductsRequest_simulated.h"
#include "testing/Eventually.h"

// A parameter dictionary in a form that compares and prints: integers and texts as plain Values.
using Plain = std::map<std::string, Value>;

inline Plain plain(const Dictionary& parameters) {
    Plain out;
    for (const auto& [key, value] : parameters) {
        auto typed = value.objectAs<ZDMValue>();
        out[key] = !typed              ? Value("<not a ZDMValue>")
                   : typed->isString() ? Value(*typed->stringValue())
                                       : Value(typed->int64Value());
    }
    return out;
}

struct LoggedEvent {
    std::string origin;
    std::string name;
    Plain parameters;
};

// 2026-01-01T00:00:00Z and the days after it.
inline std::string day(int n) {
    return "2026-01-0" + std::to_string(n) + "T00:00:00Z";
}
inline Date dateOfDay(int n) {
    return Date::fromUnix(1767225600.0 + (n - 1) * 86400.0);
}

class PurchaseFixture : public SharedMonitorFixture {
  protected:
    PurchaseFixture() {
        ZIZSetLoggerLevel(kZIZLoggerLevelDebug);
        monitor_->setVerboseLoggingEnabled(true);
    }

    static std::shared_ptr<SKProduct> product(const std::string& identifier,
                                              std::optional<std::string> price = "0.99") {
        auto product = std::make_shared<SKProduct>();
        product->setProductIdentifier(identifier);
        if (price) product->setPrice(DecimalNumber::fromString(*price));
        product->setPriceLocaleCurrencyCode("USD");
        product->setLocalizedTitle("Pro");
        return product;
    }
    static std::shared_ptr<SKPaymentTransaction> transaction(
        const std::string& productID, std::optional<std::string> identifier = "t1",
        SKPaymentTransactionState state = SKPaymentTransactionState::purchased) {
        auto transaction = std::make_shared<SKPaymentTransaction>();
        transaction->setTransactionIdentifier(std::move(identifier));
        transaction->setTransactionState(state);
        transaction->setPayment({productID, 1});
        transaction->setTransactionDate(dateOfDay(1));
        return transaction;
    }
    static ZDMInAppPurchaseItem record(const std::string& productID, int64_t type,
                                       const std::string& original, const std::string& identifier,
                                       int dayNumber = 1) {
        ZDMInAppPurchaseItem item;
        item.productID = productID;
        item.purchaseType = type;
        item.originalTransactionID = original;
        item.transactionID = identifier;
        item.purchaseDateIA5String = day(dayNumber);
        if (type == ZDMInAppPurchaseItem::kAutoRenewableSubscription)
            item.webOrderLineItemID = 500 + dayNumber;
        return item;
    }

    std::vector<LoggedEvent> events() {
        std::lock_guard lock(eventsMutex_);
        return events_;
    }
    bool eventuallyEvents(size_t count) {
        return eventually([&] { return events().size() >= count; });
    }
    // Level-8 purchase codes (40000s) and reporting codes (21000s) logged so far, in order.
    std::vector<int64_t> purchaseCodes() {
        std::vector<int64_t> codes;
        for (int64_t code : loggedCodes())
            if ((code >= 40000 && code < 41000) || (code >= 21000 && code < 22000)) codes.push_back(code);
        return codes;
    }

  private:
    std::mutex eventsMutex_;
    std::vector<LoggedEvent> events_;
    Cancellable observation_ = ZDMAnalytics::addInternalEventObserver(
        [this](const std::string& origin, const std::string& name, const Dictionary& parameters) {
            std::lock_guard lock(eventsMutex_);
            events_.push_back({origin, name, plain(parameters)});
        });
};
