#include "platform/masshortcut/MASShortcutMonitor.h"

#include <algorithm>

#include "platform/appkit/NSEvent.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {
constexpr NSEventModifierFlags kHotKeyModifiers = NSEventModifierFlagControl | NSEventModifierFlagOption |
                                                  NSEventModifierFlagShift | NSEventModifierFlagCommand;

constinit SharedInstance<MASShortcutMonitor> sharedHotKeys;

// Only ⌃⌥⇧⌘ reach the system's hotkey table, so shortcuts that differ in other flags are one hotkey.
bool sameKeys(const MASShortcut& shortcut, int64_t keyCode, NSEventModifierFlags modifierFlags) {
    return shortcut.keyCode() == keyCode &&
           (shortcut.modifierFlags() & kHotKeyModifiers) == (modifierFlags & kHotKeyModifiers);
}
}  // namespace

std::shared_ptr<MASShortcutMonitor> MASShortcutMonitor::sharedMonitor() {
    // Hotkeys belong to the session: they see every key before any application does. The
    // subscription asks for the monitor of the moment, so one made anew after a reset hears keys too.
    static auto* keyboard = new SimulatedInputSubscription(SimulatedDesktop::shared().subscribeToInput(
        SimulatedDesktop::InputStage::Session, [](const SimulatedInputEvent& input) {
            auto self = sharedHotKeys.existing();
            return self && input.type == static_cast<uint32_t>(NSEventType::KeyDown) &&
                   self->hotKeyPressed(input.keyCode, input.modifierFlags);
        }));
    (void)keyboard;
    return sharedHotKeys.get();
}

bool MASShortcutMonitor::registerShortcut(const std::shared_ptr<MASShortcut>& shortcut, Action action) {
    if (!shortcut || !action) return false;
    std::lock_guard lock(mutex_);
    for (const auto& hotKey : hotKeys_) {
        if (sameKeys(hotKey.shortcut, shortcut->keyCode(), shortcut->modifierFlags())) return false;
    }
    hotKeys_.push_back({*shortcut, std::make_shared<Action>(std::move(action))});
    return true;
}

bool MASShortcutMonitor::isShortcutRegistered(const std::shared_ptr<MASShortcut>& shortcut) const {
    if (!shortcut) return false;
    std::lock_guard lock(mutex_);
    return std::any_of(hotKeys_.begin(), hotKeys_.end(), [&](auto& h) { return h.shortcut == *shortcut; });
}

void MASShortcutMonitor::unregisterShortcut(const std::shared_ptr<MASShortcut>& shortcut) {
    if (!shortcut) return;
    std::lock_guard lock(mutex_);
    std::erase_if(hotKeys_, [&](auto& h) { return h.shortcut == *shortcut; });
}

void MASShortcutMonitor::unregisterAllShortcuts() {
    std::lock_guard lock(mutex_);
    hotKeys_.clear();
}

bool MASShortcutMonitor::hotKeyPressed(int64_t keyCode, NSEventModifierFlags modifierFlags) {
    std::shared_ptr<Action> action;
    {
        std::lock_guard lock(mutex_);
        for (auto& hotKey : hotKeys_) {
            if (sameKeys(hotKey.shortcut, keyCode, modifierFlags)) {
                action = hotKey.action;
                break;
            }
        }
    }
    if (!action) return false;
    DispatchQueue::main()->async([action] { (*action)(); });
    return true;
}

std::vector<MASShortcut> MASShortcutMonitor::registeredShortcuts() const {
    std::lock_guard lock(mutex_);
    std::vector<MASShortcut> out;
    for (auto& hotKey : hotKeys_) out.push_back(hotKey.shortcut);
    return out;
}
