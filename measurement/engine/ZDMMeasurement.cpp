#include "measurement/engine/ZDMMeasurement.h"

// The foundation's classes log before any engine exists, so the monitor itself is kept there.
std::shared_ptr<ZDMMonitor> ZDMMeasurement::monitor() {
    return ZDMMonitor::sharedMonitor();
}
