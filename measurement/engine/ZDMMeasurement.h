#pragma once
// The measurement engine. For now only the way every measurement class reaches the monitor.
#include <memory>

#include "measurement/foundation/ZDMMonitor.h"

class ZDMMeasurement {
  public:
    // The process-wide monitor, made once on first use with the library's version number.
    static std::shared_ptr<ZDMMonitor> monitor();
};
