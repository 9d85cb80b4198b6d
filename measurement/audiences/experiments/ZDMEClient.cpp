#include "measurement/audiences/experiments/ZDMEClient.h"

#include "measurement/audiences/experiments/ZDMEManager.h"

ZDMEClient::ZDMEClient(std::shared_ptr<ZDMESDKProperty> property, std::vector<ZDMEFlag> defaultFlags,
                       std::weak_ptr<ZDMEManager> manager)
    : SDKProperty_(std::move(property)),
      defaultFlags_(std::move(defaultFlags)),
      manager_(std::move(manager)) {}

std::shared_ptr<ZDMEClient> ZDMEClient::initWithSDKProperty(std::shared_ptr<ZDMESDKProperty> property,
                                                            std::vector<ZDMEFlag> defaultFlags,
                                                            std::weak_ptr<ZDMEManager> manager) {
    if (!property) {
        ZDMEManager::monitor()->logWithLevel(0, 830000, "Cannot initialize the client with nil property");
        return nullptr;
    }
    return std::make_shared<ZDMEClient>(std::move(property), std::move(defaultFlags), std::move(manager));
}

std::shared_ptr<ZDMEExperimentObserverDelegate> ZDMEClient::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void ZDMEClient::setDelegate(std::weak_ptr<ZDMEExperimentObserverDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

Value ZDMEClient::valueForFlag(const std::string& flagName) const {
    if (flagName.empty()) {
        ZDMEManager::monitor()->logWithLevel(0, 830002, "Cannot get value for empty flag name");
        return Value();
    }
    auto manager = manager_.lock();
    return manager ? manager->flagValueForFlagName(Value(flagName), Value(SDKName())) : Value();
}

Value ZDMEClient::operator[](const Value& key) const {
    if (!key.isString()) {
        ZDMEManager::monitor()->logWithLevel(0, 830003, "Cannot get flag value of an invalid flag name", key);
        return Value();
    }
    // An empty name goes on to the manager, which reports it as a lookup without a flag name.
    auto manager = manager_.lock();
    return manager ? manager->flagValueForFlagName(key, Value(SDKName())) : Value();
}

bool ZDMEClient::activateLatestSnapshot(Error* error) const {
    auto manager = manager_.lock();
    return manager && manager->activateSnapshotOfSDK(SDKName(), error);
}

bool ZDMEClient::hasStaleSnapshot() const {
    auto manager = manager_.lock();
    return manager && manager->activatedSnapshotStatusOfSDKName(SDKName()) == 1;
}

void ZDMEClient::resetToDefaults() const {
    if (auto manager = manager_.lock()) manager->resetToDefaultsOfSDKName(SDKName());
}
