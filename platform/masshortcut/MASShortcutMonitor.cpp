#include "platform/masshortcut/MASShortcutMonitor.h"

#include <algorithm>

#include "platform/foundation/SharedInstance.h"

namespace {
constexpr NSEventModifierFlags kHotKeyModifiers = NSEventModifierFlagControl | NSEventModifierFlagOption |
                                                  NSEventModifierFlagShift | NSEventModifierFlagCommand;
constexpr OSType kSignature = 0x4D415348;  // 'MASH'

constinit SharedInstance<MASShortcutMonitor> sharedHotKeys;

// Only ⌃⌥⇧⌘ reach the system's hotkey table, so shortcuts that differ in other flags are one hotkey.
bool sameKeys(const MASShortcut& a, const MASShortcut& b) {
    return a.keyCode() == b.keyCode() &&
           (a.modifierFlags() & kHotKeyModifiers) == (b.modifierFlags() & kHotKeyModifiers);
}
}  // namespace

std::shared_ptr<MASShortcutMonitor> MASShortcutMonitor::sharedMonitor() {
    return sharedHotKeys.get();
}

MASShortcutMonitor::MASShortcutMonitor() {
    const EventTypeSpec pressed{kEventClassKeyboard, kEventHotKeyPressed};
    InstallEventHandler(GetApplicationEventTarget(), &MASShortcutMonitor::hotKeyPressed, 1, &pressed, nullptr,
                        &handler_);
}

MASShortcutMonitor::~MASShortcutMonitor() {
    unregisterAllShortcuts();
    if (handler_) RemoveEventHandler(handler_);
}

bool MASShortcutMonitor::registerShortcut(const std::shared_ptr<MASShortcut>& shortcut, Action action) {
    if (!shortcut || !action) return false;
    std::lock_guard lock(mutex_);
    for (const auto& hotKey : hotKeys_) {
        if (sameKeys(hotKey.shortcut, *shortcut)) return false;
    }
    const uint32_t id = nextId_++;
    EventHotKeyRef ref = nullptr;
    if (RegisterEventHotKey(static_cast<uint32_t>(shortcut->keyCode()),
                            carbonModifiersFromCocoaFlags(shortcut->modifierFlags()), {kSignature, id},
                            GetApplicationEventTarget(), 0, &ref) != noErr)
        return false;
    hotKeys_.push_back({*shortcut, std::make_shared<Action>(std::move(action)), id, ref});
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
    std::erase_if(hotKeys_, [&](auto& h) {
        if (!(h.shortcut == *shortcut)) return false;
        UnregisterEventHotKey(h.ref);
        return true;
    });
}

void MASShortcutMonitor::unregisterAllShortcuts() {
    std::lock_guard lock(mutex_);
    for (const auto& hotKey : hotKeys_) UnregisterEventHotKey(hotKey.ref);
    hotKeys_.clear();
}

// Carbon hands the press over on the main run loop; the action runs there, outside the lock.
OSStatus MASShortcutMonitor::hotKeyPressed(EventHandlerCallRef, EventRef event, void*) {
    EventHotKeyID id{};
    if (GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof id, nullptr,
                          &id) != noErr ||
        id.signature != kSignature)
        return eventNotHandledErr;
    auto self = sharedHotKeys.existing();
    if (!self) return eventNotHandledErr;
    std::shared_ptr<Action> action;
    {
        std::lock_guard lock(self->mutex_);
        for (const auto& hotKey : self->hotKeys_)
            if (hotKey.id == id.id) action = hotKey.action;
    }
    if (!action) return eventNotHandledErr;
    (*action)();
    return noErr;
}

std::vector<MASShortcut> MASShortcutMonitor::registeredShortcuts() const {
    std::lock_guard lock(mutex_);
    std::vector<MASShortcut> out;
    for (auto& hotKey : hotKeys_) out.push_back(hotKey.shortcut);
    return out;
}
