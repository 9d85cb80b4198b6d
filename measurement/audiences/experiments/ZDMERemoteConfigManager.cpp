#include "measurement/audiences/experiments/ZDMERemoteConfigManager.h"

#include <mutex>

#include "measurement/audiences/experiments/ZDMEManager.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMRemoteConfig.h"

namespace {

// The configuration's face towards the experiment area. It holds the configuration weakly: the
// configuration owns the client that owns this observer, and the manager calls it from its own
// queues, where a configuration being released must simply be skipped.
class RemoteConfigObserver : public ZDMEExperimentObserverDelegate, public ZDMESDKPropertyProviderDelegate {
  public:
    void setRemoteConfig(std::weak_ptr<ZDMRemoteConfig> remoteConfig) {
        std::lock_guard lock(mutex_);
        remoteConfig_ = std::move(remoteConfig);
    }

    bool takesNewSnapshots() const override { return true; }
    void clientDidReceiveNewSnapshot(const std::shared_ptr<ZDMEClient>&) override {
        if (auto remoteConfig = this->remoteConfig()) remoteConfig->clientDidReceiveNewSnapshot();
    }
    bool takesFetchErrors() const override { return true; }
    void clientDidReceiveFetchError(const std::shared_ptr<ZDMEClient>&, const Error& error) override {
        if (auto remoteConfig = this->remoteConfig()) remoteConfig->clientDidReceiveFetchError(error);
    }
    // Experiments are fetched for the library only while it measures.
    std::optional<bool> shouldFetchExperimentsForClient(const std::shared_ptr<ZDMEClient>&) override {
        if (!ZDMMeasurement::hasSharedInstance()) return false;
        const auto measurement = ZDMMeasurement::sharedInstance();
        return measurement && measurement->isEnabled();
    }
    // The configuration adds no properties of its own to the request.
    std::optional<std::map<std::string, std::string>> dynamicCustomPropertiesForSDKProperty(
        const ZDMESDKProperty&) override {
        return std::nullopt;
    }

  private:
    std::shared_ptr<ZDMRemoteConfig> remoteConfig() const {
        std::lock_guard lock(mutex_);
        return remoteConfig_.lock();
    }

    mutable std::mutex mutex_;
    std::weak_ptr<ZDMRemoteConfig> remoteConfig_;
};

class RemoteConfigClient : public ZDMRemoteConfigExperimentClient {
  public:
    RemoteConfigClient(std::shared_ptr<ZDMEClient> client, std::shared_ptr<RemoteConfigObserver> observer)
        : client_(std::move(client)), observer_(std::move(observer)) {}

    // The client holds its delegate weakly; this object keeps the observer alive for it.
    void setDelegate(std::weak_ptr<ZDMRemoteConfig> delegate) override {
        observer_->setRemoteConfig(std::move(delegate));
        client_->setDelegate(observer_);
    }
    bool activateLatestSnapshot(Error* error) override { return client_->activateLatestSnapshot(error); }
    Value objectForKeyedSubscript(const std::string& flagName) const override {
        return (*client_)[Value(flagName)];
    }

  private:
    const std::shared_ptr<ZDMEClient> client_;
    const std::shared_ptr<RemoteConfigObserver> observer_;
};

}  // namespace

ZDMERemoteConfigManager::ZDMERemoteConfigManager(std::shared_ptr<ZDMEManager> manager)
    : manager_(std::move(manager)) {}

std::shared_ptr<ZDMRemoteConfigExperimentClient> ZDMERemoteConfigManager::registerSDKProperty(
    const std::string& name, int64_t version, const Dictionary& defaultFlags) {
    if (!manager_) return nullptr;
    auto observer = std::make_shared<RemoteConfigObserver>();
    auto property = ZDMESDKProperty::initWithName(name);
    property->setVersion(version);
    property->setDelegate(observer);
    auto client = manager_->registerSDKProperty(property, defaultFlags);
    if (!client) return nullptr;
    return std::make_shared<RemoteConfigClient>(std::move(client), std::move(observer));
}

void ZDMERemoteConfigManager::reset() {
    if (manager_) manager_->reset();
}

std::vector<int64_t> ZDMERemoteConfigManager::experimentIDs() {
    return manager_ ? manager_->experimentIDs() : std::vector<int64_t>{};
}
