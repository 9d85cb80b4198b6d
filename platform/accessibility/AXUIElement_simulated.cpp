#include "platform/accessibility/AccessibilityBackend.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {
SimulatedDesktop& desktop() {
    return SimulatedDesktop::shared();
}

void record(const AXUIElement& element, std::string function, std::string name, CGFloat first = 0,
            CGFloat second = 0) {
    SimulatedCall call;
    call.function = std::move(function);
    call.pid = element.pid;
    call.window = element.window;
    call.name = std::move(name);
    call.first = first;
    call.second = second;
    desktop().recordCall(std::move(call));
}

class SimulatedAccessibility final : public AccessibilityBackend {
  public:
    bool trusted() override { return desktop().trusted(); }
    void promptForTrust() override { desktop().noteTrustPrompt(); }
    bool hasApplication(pid_t pid) override { return desktop().hasApplication(pid); }

    std::optional<AXWindowState> window(CGWindowID number) override {
        auto window = desktop().window(number);
        if (!window) return std::nullopt;
        return AXWindowState{window->ownerPid, window->bounds, window->minimized};
    }

    std::vector<CGWindowID> windowsOfApplication(pid_t pid) override {
        return desktop().windowsOfApplication(pid);
    }
    std::optional<pid_t> frontmostApplication() override { return desktop().frontmostApplication(); }

    void setPosition(const AXUIElement& element, CGPoint position) override {
        record(element, "AXUIElementSetAttributeValue", kAXPositionAttribute, position.x, position.y);
        desktop().setWindowPosition(element.window, position);
    }

    void setSize(const AXUIElement& element, CGSize size) override {
        record(element, "AXUIElementSetAttributeValue", kAXSizeAttribute, size.width, size.height);
        desktop().setWindowSize(element.window, size);
    }

    void raise(const AXUIElement& element) override {
        record(element, "AXUIElementPerformAction", kAXRaiseAction);
        desktop().raiseWindow(element.window);
    }
};
}  // namespace

AccessibilityBackend& simulatedAccessibility() {
    static SimulatedAccessibility backend;
    return backend;
}
