#include "platform/carbon/ProcessesBackend.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {
class SimulatedProcesses final : public ProcessesBackend {
  public:
    bool hasApplication(pid_t pid) override { return SimulatedDesktop::shared().hasApplication(pid); }
};
}  // namespace

ProcessesBackend& simulatedProcesses() {
    static SimulatedProcesses backend;
    return backend;
}
