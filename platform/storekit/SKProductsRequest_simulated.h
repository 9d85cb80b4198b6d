#pragma once
// The simulated store that answers products requests, for tests: a catalogue of products, scripted
// failures, and the record of what was asked. resetAllForTesting() empties it.
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/storekit/SKProduct.h"

namespace SKSimulatedStore {
// Identifiers in the catalogue come back as products, all others as invalid identifiers.
void addProduct(std::shared_ptr<const SKProduct> product);
// Every request from now on fails with this error (none: answer again).
void setRequestError(std::optional<Error> error);
// Requests cannot be made at all from now on (initWithProductIdentifiers answers nullptr).
void setRequestCreationFails(bool fails);
// The identifier sets of the requests started so far, in order.
std::vector<std::set<std::string>> startedRequests();
}  // namespace SKSimulatedStore
