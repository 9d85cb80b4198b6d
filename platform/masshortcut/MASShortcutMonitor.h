#pragma once
// System-wide hotkeys of the process, registered as Carbon hot keys. The action of a hotkey runs on
// the main queue when its keys are pressed (only ⌃⌥⇧⌘ count), and the press goes no further. A
// hotkey belongs to whoever registered it first: registering the same keys again, in this process
// or where another client of the desktop holds them, fails and leaves the first action in place.
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/carbon/CarbonEvents.h"
#include "platform/masshortcut/MASShortcut.h"

class MASShortcutMonitor {
  public:
    using Action = std::function<void()>;

    static std::shared_ptr<MASShortcutMonitor> sharedMonitor();

    MASShortcutMonitor();
    ~MASShortcutMonitor();

    // False, with nothing changed, when the shortcut or action is missing or the keys are taken.
    bool registerShortcut(const std::shared_ptr<MASShortcut>& shortcut, Action action);
    bool isShortcutRegistered(const std::shared_ptr<MASShortcut>& shortcut) const;
    // Nothing happens when no equal shortcut is registered.
    void unregisterShortcut(const std::shared_ptr<MASShortcut>& shortcut);
    void unregisterAllShortcuts();

    // In registration order.
    std::vector<MASShortcut> registeredShortcuts() const;

  private:
    static OSStatus hotKeyPressed(EventHandlerCallRef, EventRef event, void*);

    struct HotKey {
        MASShortcut shortcut;
        std::shared_ptr<Action> action;
        uint32_t id;
        EventHotKeyRef ref;
    };
    mutable std::mutex mutex_;
    std::vector<HotKey> hotKeys_;
    uint32_t nextId_ = 1;
    EventHandlerRef handler_ = nullptr;
};
