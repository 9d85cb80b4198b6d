#pragma once
// A payment transaction as the store reports it; an empty identifier leaves the identifier unset.
#include <memory>
#include <string>

#include "platform/storekit/SKPaymentTransaction.h"

inline std::shared_ptr<const SKPaymentTransaction> transaction(
    const std::string& product, const std::string& identifier,
    SKPaymentTransactionState state = SKPaymentTransactionState::purchased) {
    auto made = std::make_shared<SKPaymentTransaction>();
    made->setPayment({product, 1});
    if (!identifier.empty()) made->setTransactionIdentifier(identifier);
    made->setTransactionState(state);
    return made;
}
