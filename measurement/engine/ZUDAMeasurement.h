#pragma once
// The name under which the analytics interface and the connector reach the engine: the engine's own
// shared instance, nothing of its own.
#include <functional>
#include <memory>
#include <string>

#include "measurement/engine/ZDMMeasurement.h"

class ZUDAMeasurement : public ZDMMeasurement {
  public:
    static std::shared_ptr<ZDMMeasurement> sharedInstance() { return ZDMMeasurement::sharedInstance(); }
    void userAttributeWithName(const std::string& name,
                               std::function<void(std::shared_ptr<ZDMUserAttribute>)> callback) {
        ZDMMeasurement::userAttributeWithName(name, std::move(callback));
    }
};
