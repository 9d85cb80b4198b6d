#pragma once
// A payment transaction as the payment queue reports it. Filled in by the store (or a test) before
// it is shared, then only read.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"

enum class SKPaymentTransactionState : int64_t {
    purchasing = 0,
    purchased = 1,
    failed = 2,
    restored = 3,
    deferred = 4,
};

struct SKPayment {
    std::string productIdentifier;
    int64_t quantity = 1;
};

class SKPaymentTransaction {
  public:
    // Absent and empty are told apart: the store leaves the identifier unset on some failures.
    const std::optional<std::string>& transactionIdentifier() const { return transactionIdentifier_; }
    void setTransactionIdentifier(std::optional<std::string> identifier) {
        transactionIdentifier_ = std::move(identifier);
    }
    SKPaymentTransactionState transactionState() const { return state_; }
    void setTransactionState(SKPaymentTransactionState state) { state_ = state; }
    const std::optional<Date>& transactionDate() const { return transactionDate_; }
    void setTransactionDate(std::optional<Date> date) { transactionDate_ = date; }
    const SKPayment& payment() const { return payment_; }
    void setPayment(SKPayment payment) { payment_ = std::move(payment); }
    // The first transaction of a restored or renewed purchase; none for a first purchase.
    const std::shared_ptr<const SKPaymentTransaction>& originalTransaction() const { return original_; }
    void setOriginalTransaction(std::shared_ptr<const SKPaymentTransaction> original) {
        original_ = std::move(original);
    }
    const std::optional<Error>& error() const { return error_; }
    void setError(std::optional<Error> error) { error_ = std::move(error); }

  private:
    std::optional<std::string> transactionIdentifier_;
    SKPaymentTransactionState state_ = SKPaymentTransactionState::purchasing;
    std::optional<Date> transactionDate_;
    SKPayment payment_;
    std::shared_ptr<const SKPaymentTransaction> original_;
    std::optional<Error> error_;
};
