#include "platform/zudedaro/ZUDInstallations.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/UUID.h"
#include "platform/foundation/UserDefaults.h"

namespace {
constinit SharedInstance<ZUDInstallations> sharedInstallations;
}

std::shared_ptr<ZUDInstallations> ZUDInstallations::installations() {
    return sharedInstallations.get();
}

void ZUDInstallations::installationIDWithCompletion(Completion completion) {
    if (!completion) return;
    DispatchQueue::global()->async([self = shared_from_this(), completion = std::move(completion)] {
        std::optional<Error> failure;
        {
            std::lock_guard lock(self->mutex_);
            failure = self->failure_;
        }
        if (failure)
            completion(std::nullopt, failure);
        else
            completion(self->storedOrNewIdentifier(), std::nullopt);
    });
}

void ZUDInstallations::setFailureForTesting(std::optional<Error> error) {
    std::lock_guard lock(mutex_);
    failure_ = std::move(error);
}

void ZUDInstallations::setInstallationIDForTesting(const std::string& identifier) {
    {
        std::lock_guard lock(mutex_);
        UserDefaults::standardUserDefaults()->setObject(Value(identifier), kDefaultsKey);
    }
    NotificationCenter::defaultCenter().post(ZUDInstallationIDDidChangeNotification, this);
}

// Under the lock, so that two first requests cannot each make and store an identifier.
std::string ZUDInstallations::storedOrNewIdentifier() {
    std::lock_guard lock(mutex_);
    auto defaults = UserDefaults::standardUserDefaults();
    if (auto stored = defaults->stringForKey(kDefaultsKey); stored && !stored->empty()) return *stored;
    const std::string made = UUID().uuidString();
    defaults->setObject(Value(made), kDefaultsKey);
    return made;
}
