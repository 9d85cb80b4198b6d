#include "platform/skylight/SkyLightBackend.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {
SimulatedDesktop& desktop() {
    return SimulatedDesktop::shared();
}

class SimulatedSkyLight final : public SkyLightBackend {
  public:
    void setFrontProcess(pid_t pid, CGWindowID window, uint32_t options) override {
        SimulatedCall call;
        call.function = "SLPSSetFrontProcessWithOptions";
        call.pid = pid;
        call.window = window;
        call.options = options;
        desktop().recordCall(std::move(call));
        desktop().setFrontProcess(pid, window);
    }

    void posted(pid_t pid, CGWindowID window, const SLPSEventRecord& record) override {
        SimulatedCall call;
        call.function = "SLPSPostEventRecordTo";
        call.pid = pid;
        call.window = window;
        call.bytes.assign(record.begin(), record.end());
        desktop().recordCall(std::move(call));
    }

    void makeKeyWindow(pid_t pid, CGWindowID window) override {
        auto found = desktop().window(window);
        if (found && found->ownerPid == pid) desktop().makeKeyWindow(window);
    }
};
}  // namespace

SkyLightBackend& simulatedSkyLight() {
    static SimulatedSkyLight backend;
    return backend;
}
