#include "platform/windowserver/SimulatedDesktop.h"
#include "platform/windowserver/WindowServerBackend.h"

namespace {
class SimulatedWindowServer final : public WindowServerBackend {
  public:
    std::vector<WindowServerWindow> windows() override {
        auto& desktop = SimulatedDesktop::shared();
        std::vector<WindowServerWindow> out;
        for (const auto& w : desktop.windowsFrontToBack())
            out.push_back({w.number, w.ownerPid, desktop.applicationName(w.ownerPid).value_or(""), w.layer,
                           w.bounds, !w.minimized});
        return out;
    }

    std::vector<WindowServerDisplay> displays() override {
        std::vector<WindowServerDisplay> out;
        for (const auto& s : SimulatedDesktop::shared().screens()) out.push_back({s.displayID, s.bounds});
        return out;
    }
};
}  // namespace

WindowServerBackend& simulatedWindowServer() {
    static SimulatedWindowServer backend;
    return backend;
}
