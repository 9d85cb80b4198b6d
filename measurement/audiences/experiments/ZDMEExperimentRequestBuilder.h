#pragma once
// Builds the fetch request from the app's facts and the properties of every registered SDK.
// Properties are added from the manager's queue and read on the worker queue, so the map is safe
// for concurrent use.
#include <memory>

#include "measurement/audiences/experiments/ZDMEConcurrentMap.h"
#include "measurement/audiences/experiments/ZDMESDKProperty.h"
#include "measurement/wire/ZDMPBExperimentMessages.h"

class ZDMEExperimentRequestBuilder {
  public:
    static std::shared_ptr<ZDMEExperimentRequestBuilder> sharedInstance();

    // Replaces an earlier property of the same name; a missing one is refused (880000).
    void addSDKProperty(const std::shared_ptr<ZDMESDKProperty>& property);
    // Platform "macos", the first preferred language lower-cased (left out without one), the
    // bundle identifier, whether the app came from the App Store, the experiment library's version.
    std::shared_ptr<ZDMPBAppProperty> appPropertyProto() const;
    // One client property per SDK that has a diversion key.
    std::shared_ptr<ZDMPBExperimentRequest> request() const;

  private:
    ZDMEConcurrentMap<std::string, std::shared_ptr<ZDMESDKProperty>> clientPropertyBySDKName_;
};
