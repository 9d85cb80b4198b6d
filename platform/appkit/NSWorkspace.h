#pragma once
// The user's workspace settings that drawing code follows. The simulated system starts with every
// accessibility display option off; tests turn them on.
#include <atomic>
#include <memory>

#include "platform/foundation/NotificationCenter.h"

// Posted on the workspace's notification center when an accessibility display option changes.
inline constexpr const char* NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification =
    "NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification";

class NSWorkspace {
  public:
    static std::shared_ptr<NSWorkspace> sharedWorkspace();

    bool accessibilityDisplayShouldIncreaseContrast() const { return increaseContrast_; }
    void setAccessibilityDisplayShouldIncreaseContrast(bool on) { increaseContrast_ = on; }
    // The workspace's own center, apart from the application's default one.
    NotificationCenter& notificationCenter() { return center_; }

  private:
    std::atomic<bool> increaseContrast_{false};
    NotificationCenter center_;
};
