#pragma once
// System-wide hotkeys of the process. The action of a hotkey runs on the main queue when its keys
// are pressed (only ⌃⌥⇧⌘ count), and the press goes no further. A hotkey belongs to whoever
// registered it first: registering the same keys again fails and leaves the first action in place.
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/masshortcut/MASShortcut.h"

class MASShortcutMonitor {
  public:
    using Action = std::function<void()>;

    static std::shared_ptr<MASShortcutMonitor> sharedMonitor();

    // False, with nothing changed, when the shortcut or action is missing or the keys are taken.
    bool registerShortcut(const std::shared_ptr<MASShortcut>& shortcut, Action action);
    bool isShortcutRegistered(const std::shared_ptr<MASShortcut>& shortcut) const;
    // Nothing happens when no equal shortcut is registered.
    void unregisterShortcut(const std::shared_ptr<MASShortcut>& shortcut);
    void unregisterAllShortcuts();

    // In registration order.
    std::vector<MASShortcut> registeredShortcuts() const;

  private:
    // Queues the action of the hotkey with these keys; false when none has them.
    bool hotKeyPressed(int64_t keyCode, NSEventModifierFlags modifierFlags);

    struct HotKey {
        MASShortcut shortcut;
        std::shared_ptr<Action> action;
    };
    mutable std::mutex mutex_;
    std::vector<HotKey> hotKeys_;
};
