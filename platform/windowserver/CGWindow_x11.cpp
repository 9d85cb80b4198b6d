#include "platform/windowserver/WindowServerBackend.h"
#include "platform/windowserver/X11Desktop.h"

namespace {
class X11WindowServer final : public WindowServerBackend {
  public:
    std::vector<WindowServerWindow> windows() override {
        std::vector<WindowServerWindow> out;
        for (const auto& w : X11Desktop::current()->windowsFrontToBack())
            out.push_back(
                {w.id, w.pid, w.applicationName, w.layer, w.frame, !w.minimized && w.onCurrentWorkspace});
        return out;
    }

    std::vector<WindowServerDisplay> displays() override {
        std::vector<WindowServerDisplay> out;
        for (const auto& s : X11Desktop::current()->screens()) out.push_back({s.id, s.bounds});
        return out;
    }
};
}  // namespace

WindowServerBackend& x11WindowServer() {
    static X11WindowServer backend;
    return backend;
}
