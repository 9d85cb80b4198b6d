#include "platform/accessibility/AccessibilityBackend.h"
#include "platform/windowserver/X11Desktop.h"

namespace {
X11Desktop& desktop() {
    return *X11Desktop::current();
}

// An X11 session has no trust to grant: every client may read and move the others' windows through
// the window manager.
class X11Accessibility final : public AccessibilityBackend {
  public:
    bool trusted() override { return true; }
    void promptForTrust() override {}
    bool hasApplication(pid_t pid) override { return desktop().hasApplication(pid); }

    std::optional<AXWindowState> window(CGWindowID number) override {
        auto window = desktop().window(number);
        if (!window) return std::nullopt;
        return AXWindowState{window->pid, window->frame, window->minimized};
    }

    std::vector<CGWindowID> windowsOfApplication(pid_t pid) override {
        std::vector<CGWindowID> out;
        for (const auto& window : desktop().windowsFrontToBack())
            if (window.pid == pid) out.push_back(window.id);
        return out;
    }

    std::optional<pid_t> frontmostApplication() override { return desktop().frontmostApplication(); }
    void setPosition(const AXUIElement& element, CGPoint position) override {
        desktop().moveWindow(element.window, position);
    }
    void setSize(const AXUIElement& element, CGSize size) override {
        desktop().resizeWindow(element.window, size);
    }
    void raise(const AXUIElement& element) override { desktop().raiseWindow(element.window); }
};
}  // namespace

AccessibilityBackend& x11Accessibility() {
    static X11Accessibility backend;
    return backend;
}
