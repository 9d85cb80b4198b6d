#pragma once
// The name under which the analytics interface and the connector reach the screen-view reporter:
// the reporter's own shared instance, nothing of its own.
#include <memory>

#include "measurement/engine/ZDMScreenViewReporter.h"

class ZUDAScreenViewReporter : public ZDMScreenViewReporter {
  public:
    static std::shared_ptr<ZDMScreenViewReporter> sharedInstance() {
        return ZDMScreenViewReporter::sharedInstance();
    }
};
