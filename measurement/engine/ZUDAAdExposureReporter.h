#pragma once
// The name under which outside code reaches the ad exposure reporter: the reporter's own shared
// instance, nothing of its own.
#include <memory>

#include "measurement/engine/ZDMAdExposureReporter.h"

class ZUDAAdExposureReporter : public ZDMAdExposureReporter {
  public:
    static std::shared_ptr<ZDMAdExposureReporter> sharedInstance() {
        return ZDMAdExposureReporter::sharedInstance();
    }
};
