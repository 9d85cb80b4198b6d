#pragma once
// The user's workspace settings that drawing code follows. The simulated system starts with every
// accessibility display option off; tests turn them on.
#include <atomic>
#include <memory>

class NSWorkspace {
  public:
    static std::shared_ptr<NSWorkspace> sharedWorkspace();

    bool accessibilityDisplayShouldIncreaseContrast() const { return increaseContrast_; }
    void setAccessibilityDisplayShouldIncreaseContrast(bool on) { increaseContrast_ = on; }

  private:
    std::atomic<bool> increaseContrast_{false};
};
