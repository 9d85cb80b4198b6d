#include "platform/skylight/SkyLightBackend.h"
#include "platform/windowserver/X11Desktop.h"

namespace {
// The window manager's active-window request does both halves: it brings the window's application
// to the front with that window, and focuses the window. A window of another process stands for
// the process's own front window.
void activate(pid_t pid, CGWindowID window) {
    auto& desktop = *X11Desktop::current();
    auto found = desktop.window(window);
    if (found && found->pid == pid) {
        desktop.activateWindow(window);
        return;
    }
    for (const auto& candidate : desktop.windowsFrontToBack()) {
        if (candidate.pid != pid) continue;
        desktop.activateWindow(candidate.id);
        return;
    }
}

class X11SkyLight final : public SkyLightBackend {
  public:
    void setFrontProcess(pid_t pid, CGWindowID window, uint32_t) override { activate(pid, window); }
    void posted(pid_t, CGWindowID, const SLPSEventRecord&) override {}
    void makeKeyWindow(pid_t pid, CGWindowID window) override {
        auto found = X11Desktop::current()->window(window);
        if (found && found->pid == pid) X11Desktop::current()->activateWindow(window);
    }
};
}  // namespace

SkyLightBackend& x11SkyLight() {
    static X11SkyLight backend;
    return backend;
}
