#pragma once
// The handle an SDK gets from registration. Every call resolves the SDK by its property's name and
// goes to the manager that made the client, held weakly: once the manager is gone every call is a
// no-op answering nothing, NO or 0.
#include <memory>
#include <string>
#include <vector>

#include "measurement/audiences/experiments/ZDMEExperiment.h"
#include "measurement/audiences/experiments/ZDMEExperimentObserverDelegate.h"
#include "measurement/audiences/experiments/ZDMESDKProperty.h"
#include "platform/foundation/Value.h"

class ZDMEManager;

class ZDMEClient : public std::enable_shared_from_this<ZDMEClient> {
  public:
    // nullptr (830000) without a property.
    static std::shared_ptr<ZDMEClient> initWithSDKProperty(std::shared_ptr<ZDMESDKProperty> property,
                                                           std::vector<ZDMEFlag> defaultFlags,
                                                           std::weak_ptr<ZDMEManager> manager);

    const std::shared_ptr<ZDMESDKProperty>& SDKProperty() const { return SDKProperty_; }
    std::string SDKName() const { return SDKProperty_->name(); }
    std::vector<ZDMEFlag> defaultFlags() const { return defaultFlags_; }
    std::shared_ptr<ZDMEExperimentObserverDelegate> delegate() const;
    void setDelegate(std::weak_ptr<ZDMEExperimentObserverDelegate> delegate);

    // The flag's value (a number or a string) for this SDK; null for an empty name (830002).
    Value valueForFlag(const std::string& flagName) const;
    // Subscripting by flag name; a key that is not a string gives null (830003).
    Value operator[](const Value& key) const;
    bool activateLatestSnapshot(Error* error = nullptr) const;
    bool hasStaleSnapshot() const;
    void resetToDefaults() const;

    ZDMEClient(std::shared_ptr<ZDMESDKProperty> property, std::vector<ZDMEFlag> defaultFlags,
               std::weak_ptr<ZDMEManager> manager);

  private:
    const std::shared_ptr<ZDMESDKProperty> SDKProperty_;
    const std::vector<ZDMEFlag> defaultFlags_;
    const std::weak_ptr<ZDMEManager> manager_;
    mutable std::mutex mutex_;
    std::weak_ptr<ZDMEExperimentObserverDelegate> delegate_;
};
