#pragma once
// Accessibility's two backends, the simulated desktop and an X11 display: the applications, their
// windows and what can be done to them. AXUIElement.cpp answers the attributes and actions from
// the one in use.
#include <sys/types.h>

#include <optional>
#include <vector>

#include "platform/accessibility/AXUIElement.h"

struct AXWindowState {
    pid_t owner = 0;
    CGRect frame;
    bool minimized = false;
};

class AccessibilityBackend {
  public:
    virtual ~AccessibilityBackend() = default;
    virtual bool trusted() = 0;
    // The system prompt that asks the user for trust.
    virtual void promptForTrust() = 0;
    virtual bool hasApplication(pid_t pid) = 0;
    virtual std::optional<AXWindowState> window(CGWindowID number) = 0;
    // Front to back.
    virtual std::vector<CGWindowID> windowsOfApplication(pid_t pid) = 0;
    virtual std::optional<pid_t> frontmostApplication() = 0;
    // `element` is a window of its application; what is read next shows the change.
    virtual void setPosition(const AXUIElement& element, CGPoint position) = 0;
    virtual void setSize(const AXUIElement& element, CGSize size) = 0;
    virtual void raise(const AXUIElement& element) = 0;

    // The X11 display's while the process is connected to one, else the simulated desktop's.
    static AccessibilityBackend& current();
};

AccessibilityBackend& simulatedAccessibility();
AccessibilityBackend& x11Accessibility();
