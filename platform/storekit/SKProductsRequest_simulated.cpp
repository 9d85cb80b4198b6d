#include "platform/storekit/SKProductsRequest_simulated.h"

#include <map>
#include <mutex>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/storekit/SKProductsRequest.h"

namespace {
struct Store {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const SKProduct>> catalogue;
    std::optional<Error> requestError;
    bool creationFails = false;
    std::vector<std::set<std::string>> started;
};

constinit SharedInstance<Store> store;

// What the store answers for these identifiers: an error, or products and invalid identifiers.
struct Answer {
    std::optional<Error> error;
    SKProductsResponse response;
};

Answer answerFor(const std::set<std::string>& identifiers) {
    auto shared = store.get();
    std::lock_guard lock(shared->mutex);
    shared->started.push_back(identifiers);
    if (shared->requestError) return {shared->requestError, {}};
    Answer answer;
    for (const auto& identifier : identifiers) {
        auto found = shared->catalogue.find(identifier);
        if (found != shared->catalogue.end())
            answer.response.products.push_back(found->second);
        else
            answer.response.invalidProductIdentifiers.push_back(identifier);
    }
    return answer;
}
}  // namespace

std::shared_ptr<SKProductsRequest> SKProductsRequest::initWithProductIdentifiers(
    std::set<std::string> identifiers) {
    {
        auto shared = store.get();
        std::lock_guard lock(shared->mutex);
        if (shared->creationFails) return nullptr;
    }
    return std::shared_ptr<SKProductsRequest>(new SKProductsRequest(std::move(identifiers)));
}

void SKProductsRequest::setDelegate(std::weak_ptr<SKProductsRequestDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

void SKProductsRequest::start() {
    {
        std::lock_guard lock(mutex_);
        if (started_) return;
        started_ = true;
    }
    // The request keeps itself alive until it has answered, as the store holds a started request.
    DispatchQueue::global()->async([self = shared_from_this()] {
        const Answer answer = answerFor(self->identifiers_);
        std::shared_ptr<SKProductsRequestDelegate> delegate;
        {
            std::lock_guard lock(self->mutex_);
            delegate = self->delegate_.lock();
        }
        if (!delegate) return;
        if (answer.error)
            delegate->requestDidFailWithError(*self, *answer.error);
        else
            delegate->productsRequest(*self, answer.response);
    });
}

namespace SKSimulatedStore {
void addProduct(std::shared_ptr<const SKProduct> product) {
    auto shared = store.get();
    std::lock_guard lock(shared->mutex);
    shared->catalogue[product->productIdentifier()] = std::move(product);
}

void setRequestError(std::optional<Error> error) {
    auto shared = store.get();
    std::lock_guard lock(shared->mutex);
    shared->requestError = std::move(error);
}

void setRequestCreationFails(bool fails) {
    auto shared = store.get();
    std::lock_guard lock(shared->mutex);
    shared->creationFails = fails;
}

std::vector<std::set<std::string>> startedRequests() {
    auto shared = store.get();
    std::lock_guard lock(shared->mutex);
    return shared->started;
}
}  // namespace SKSimulatedStore
