#pragma once
// Shortcut actions and the monitors that perform them.
//
// An action binds one shortcut (set directly, or followed through a key path of another object) to
// a handler or to a target and selector. A monitor files enabled actions per shortcut and key event
// kind and keeps that table current as actions are enabled, disabled or change their shortcut; its
// subclasses hear through four hooks when a shortcut enters or leaves the table. The global monitor
// turns every shortcut of its table into a system-wide hot key.
//
// Actions and monitors lock themselves with recursive locks and post their change notices by hand;
// monitors observe their actions' "enabled" and "shortcut".
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSObject.h"
#include "platform/carbon/CarbonEvents.h"
#include "platform/foundation/KeyValueObserving.h"
#include "platform/windowserver/CGEventTap.h"
#include "shortcut_recorder/KRShortcut.h"

// The key event kinds the monitors keep their tables by: the values of the key-down and key-up
// event types.
using KRKeyEventKind = unsigned long;
inline constexpr KRKeyEventKind KRKeyEventKindDown = 10;
inline constexpr KRKeyEventKind KRKeyEventKindUp = 11;

// The kind of a keyboard event: key down and key up as they are; a flags change is key down when
// the modifier key it names is now held, key up when released. Any other type raises an
// internal-inconsistency Exception.
KRKeyEventKind KR_keyEventTypeForEventType(unsigned long eventType, uint16_t keyCode,
                                           NSEventModifierFlags modifierFlags);
KRKeyEventKind KR_keyEventType(const NSEvent& event);

class KRShortcutAction;

// A target that handles shortcut actions itself instead of answering their selector.
class KRShortcutActionTarget {
  public:
    virtual ~KRShortcutActionTarget() = default;
    virtual bool performShortcutAction(KRShortcutAction& action) = 0;
};

class KRShortcutAction : public NSObject,
                         public NSKeyValueObserving,
                         public NSKeyValueObserver,
                         public NSValidatedUserInterfaceItem {
  public:
    using ActionHandler = std::function<bool(KRShortcutAction& action)>;

    // Enabled, tag 0, nothing else set.
    static std::shared_ptr<KRShortcutAction> create();
    static std::shared_ptr<KRShortcutAction> shortcutActionWithShortcut(std::shared_ptr<KRShortcut> shortcut,
                                                                        std::shared_ptr<NSObject> target,
                                                                        std::string action, int64_t tag);
    static std::shared_ptr<KRShortcutAction> shortcutActionWithShortcut(std::shared_ptr<KRShortcut> shortcut,
                                                                        ActionHandler actionHandler);
    static std::shared_ptr<KRShortcutAction> shortcutActionWithKeyPath(
        const std::string& keyPath, const std::shared_ptr<NSKeyValueObserving>& object,
        std::shared_ptr<NSObject> target, std::string action, int64_t tag);
    static std::shared_ptr<KRShortcutAction> shortcutActionWithKeyPath(
        const std::string& keyPath, const std::shared_ptr<NSKeyValueObserving>& object,
        ActionHandler actionHandler);

    ~KRShortcutAction() override;

    std::shared_ptr<KRShortcut> shortcut() const;
    // Always ends a key-path binding, also when the shortcut is equal to the current one.
    void setShortcut(std::shared_ptr<KRShortcut> shortcut);

    // The target held, or the shared application when none is.
    std::shared_ptr<NSObject> target() const;
    // Held weakly; a target clears the handler.
    void setTarget(const std::shared_ptr<NSObject>& target);
    ActionHandler actionHandler() const;
    // A handler clears the target.
    void setActionHandler(ActionHandler actionHandler);

    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    std::string action() const override;
    void setAction(std::string action);
    int64_t tag() const override;
    void setTag(int64_t tag);
    std::optional<std::string> identifier() const;
    void setIdentifier(std::optional<std::string> identifier);

    std::shared_ptr<NSKeyValueObserving> observedObject() const;
    std::string observedKeyPath() const;
    // Follows `keyPath` of `object`: its current value becomes the shortcut at once, and every later
    // one too. A null object ends the binding.
    void setObservedObject(const std::shared_ptr<NSKeyValueObserving>& object, const std::string& keyPath);

    // Runs the handler, or sends the action to `target` (else to the action's own target); false
    // with a debug line when the action is disabled or nobody takes it.
    bool performActionOnTarget(NSObject* target);

    AnyObject valueForKeyPath(std::string_view keyPath) const override;
    bool automaticallyNotifiesObserversForKey(std::string_view key) const override;
    void observeValueForKeyPath(const std::string& keyPath, NSKeyValueObserving& object,
                                const NSKeyValueChange& change, void* context) override;

  protected:
    KRShortcutAction() = default;

  private:
    void invalidateObserving();
    static std::shared_ptr<KRShortcut> shortcutFromObservedValue(const AnyObject& value);

    mutable std::recursive_mutex lock_;
    std::shared_ptr<KRShortcut> shortcut_;
    ActionHandler actionHandler_;
    std::weak_ptr<NSObject> target_;
    std::atomic<bool> enabled_ = true;
    std::optional<std::string> identifier_;
    std::atomic<int64_t> tag_ = 0;
    std::weak_ptr<NSKeyValueObserving> observedObject_;
    std::string observedKeyPath_;
    std::string action_;
};

class KRShortcutMonitor : public NSKeyValueObserving, public NSKeyValueObserver {
  public:
    KRShortcutMonitor() = default;
    ~KRShortcutMonitor() override;

    // The distinct actions added, and the distinct shortcuts filed.
    std::vector<std::shared_ptr<KRShortcutAction>> actions() const;
    std::vector<std::shared_ptr<KRShortcut>> shortcuts() const;

    std::vector<std::shared_ptr<KRShortcutAction>> actionsForKeyEvent(KRKeyEventKind kind) const;
    // In filing order: monitors try them from the last to the first. Empty for an unknown shortcut.
    std::vector<std::shared_ptr<KRShortcutAction>> enabledActionsForShortcut(const KRShortcut& shortcut,
                                                                             KRKeyEventKind kind) const;

    // An action may be added for each kind once; adding it again for a kind it was added for makes
    // it the first tried. Adding an action already added for both kinds is a programming error.
    void addAction(const std::shared_ptr<KRShortcutAction>& action, KRKeyEventKind kind);
    // A key-down action for the parsed key equivalent, sent to the shared application; null when it
    // does not parse.
    std::shared_ptr<KRShortcutAction> addAction(const std::string& selector, const std::string& keyEquivalent,
                                                int64_t tag);
    void removeAction(const std::shared_ptr<KRShortcutAction>& action, KRKeyEventKind kind);
    void removeAction(const std::shared_ptr<KRShortcutAction>& action);
    void removeAllActions();

    std::string debugDescription() const;

    AnyObject valueForKeyPath(std::string_view keyPath) const override;
    bool automaticallyNotifiesObserversForKey(std::string_view key) const override;
    void observeValueForKeyPath(const std::string& keyPath, NSKeyValueObserving& object,
                                const NSKeyValueChange& change, void* context) override;

  protected:
    // Called with the monitor's lock held when a shortcut enters the table (its first filing) or
    // leaves it (its last unfiling); they may call back into the monitor.
    virtual void willAddShortcut(const std::shared_ptr<KRShortcut>&) {}
    virtual void didAddShortcut(const std::shared_ptr<KRShortcut>&) {}
    virtual void willRemoveShortcut(const std::shared_ptr<KRShortcut>&) {}
    virtual void didRemoveShortcut(const std::shared_ptr<KRShortcut>&) {}

    // The monitor's lock, which subclasses share.
    std::recursive_mutex& lock() const { return lock_; }
    // Stops observing every action; a subclass whose destructor needs the table calls it first.
    void stopObservingActions();

  private:
    using ActionList = std::vector<std::shared_ptr<KRShortcutAction>>;
    using ShortcutTable = std::vector<std::pair<std::shared_ptr<KRShortcut>, ActionList>>;

    static ShortcutTable::iterator findShortcut(ShortcutTable& table, const KRShortcut& shortcut);
    ShortcutTable& table(KRKeyEventKind kind);
    const ShortcutTable& table(KRKeyEventKind kind) const;
    std::vector<KRShortcutAction*>& kindActions(KRKeyEventKind kind);
    const std::vector<KRShortcutAction*>& kindActions(KRKeyEventKind kind) const;
    static void checkKind(KRKeyEventKind kind);
    size_t actionCount(const KRShortcutAction* action) const;
    size_t shortcutCount(const KRShortcut& shortcut) const;
    bool isEnabledInMonitor(const KRShortcutAction* action) const;
    std::shared_ptr<KRShortcutAction> owned(const KRShortcutAction* action) const;

    std::shared_ptr<KRShortcut> shortcutForEnabledAction(const KRShortcutAction& action,
                                                         const std::shared_ptr<KRShortcut>& hint);
    void enabledActionDidChangeShortcut(const std::shared_ptr<KRShortcutAction>& action,
                                        const std::shared_ptr<KRShortcut>& from,
                                        const std::shared_ptr<KRShortcut>& to);
    void addEnabledAction(const std::shared_ptr<KRShortcutAction>& action,
                          const std::shared_ptr<KRShortcut>& shortcut, KRKeyEventKind kind);
    void removeEnabledAction(const KRShortcutAction& action, const std::shared_ptr<KRShortcut>& shortcut,
                             KRKeyEventKind kind);
    void actionDidChangeEnabled(const std::shared_ptr<KRShortcutAction>& action, bool enabled);

    mutable std::recursive_mutex lock_;
    // The counted set of actions, in the order of their first addition.
    std::vector<std::pair<std::shared_ptr<KRShortcutAction>, size_t>> actions_;
    std::vector<KRShortcutAction*> enabledActions_;
    std::vector<KRShortcutAction*> keyUpActions_;
    std::vector<KRShortcutAction*> keyDownActions_;
    ShortcutTable shortcutToEnabledKeyDownActions_;
    ShortcutTable shortcutToEnabledKeyUpActions_;
    // The counted set of filed shortcuts, in the order they entered the table.
    std::vector<std::pair<std::shared_ptr<KRShortcut>, size_t>> shortcuts_;
};

// Every shortcut of its table is a system-wide hot key while the monitor runs; one handler on the
// application's event target performs the actions of pressed and released hot keys. Paused (for as
// long as pauses outnumber resumes) it holds no hot key and ignores hot-key events.
class KRGlobalShortcutMonitor : public KRShortcutMonitor {
  public:
    // The hot keys' signature 'KRSR'.
    static constexpr OSType kSignature = 0x53525352;

    static std::shared_ptr<KRGlobalShortcutMonitor> sharedMonitor();
    KRGlobalShortcutMonitor() = default;
    ~KRGlobalShortcutMonitor() override;

    void pause();
    void resume();
    // noErr when an action was performed, else eventNotHandledErr.
    OSStatus handleEvent(EventRef event);

  protected:
    void didAddShortcut(const std::shared_ptr<KRShortcut>& shortcut) override;
    void willRemoveShortcut(const std::shared_ptr<KRShortcut>& shortcut) override;
    virtual void didAddEventHandler();
    virtual void didRemoveEventHandler();

  private:
    struct Registration {
        std::shared_ptr<KRShortcut> shortcut;
        EventHotKeyRef hotKey;
        uint32_t id;
    };

    void registerHotKeyForShortcutIfNeeded(const std::shared_ptr<KRShortcut>& shortcut);
    void unregisterHotKeyForShortcutIfNeeded(const std::shared_ptr<KRShortcut>& shortcut);
    void installEventHandlerIfNeeded();
    void removeEventHandlerIfNeeded();
    std::vector<Registration>::iterator findRegistration(const KRShortcut& shortcut);

    // Stands for the three tables by id, by shortcut to reference and by shortcut to id.
    std::vector<Registration> registrations_;
    EventHandlerRef carbonEventHandler_ = nullptr;
    int64_t disableCounter_ = 0;
};

// System-wide shortcuts through an event tap on the session: it sees every key down, key up and
// modifier change, so modifier-only shortcuts work too, and an active tap swallows the keys of a
// performed shortcut. Needs the process to be trusted for Accessibility. The tap is enabled while
// the table holds a shortcut (and when the system turned it off).
class KRAXGlobalShortcutMonitor : public KRShortcutMonitor {
  public:
    // Null, with a critical line, when the tap cannot be made. Listen-only unless `options` is 0.
    static std::shared_ptr<KRAXGlobalShortcutMonitor> create(
        CFRunLoopRef runLoop = CFRunLoopGetCurrent(),
        CGEventTapOptions options = kCGEventTapOptionListenOnly);
    // The tap is invalidated and its source leaves the run loop first: no callback reaches a
    // monitor that is going.
    ~KRAXGlobalShortcutMonitor() override;

    // The event to pass on, or null to swallow it (which only an active tap can).
    CGEventRef handleEvent(CGEventRef event);

    CFMachPortRef eventTap() const { return eventTap_; }
    CFRunLoopSourceRef eventTapSource() const { return eventTapSource_; }
    CFRunLoopRef eventTapRunLoop() const { return eventTapRunLoop_; }

  protected:
    KRAXGlobalShortcutMonitor() = default;
    void didAddShortcut(const std::shared_ptr<KRShortcut>& shortcut) override;
    void willRemoveShortcut(const std::shared_ptr<KRShortcut>& shortcut) override;

  private:
    static CGEventRef tapCallback(CGEventTapProxy proxy, CGEventType type, CGEventRef event, void* userInfo);

    bool canActivelyFilterEvents_ = false;
    CFMachPortRef eventTap_ = nullptr;
    CFRunLoopSourceRef eventTapSource_ = nullptr;
    CFRunLoopRef eventTapRunLoop_ = nullptr;
};

// Shortcuts inside the application: the client hands it key events with a target, and the monitor
// performs the matching enabled actions on that target. The factories fill monitors with the
// platform's standard commands, each action carrying the command's selector (and tag).
class KRLocalShortcutMonitor : public KRShortcutMonitor {
  public:
    // The text-editing commands, then the system's and the user's text key bindings.
    static std::shared_ptr<KRLocalShortcutMonitor> standardShortcuts();
    static std::shared_ptr<KRLocalShortcutMonitor> mainMenuShortcuts();
    static std::shared_ptr<KRLocalShortcutMonitor> clipboardShortcuts();
    static std::shared_ptr<KRLocalShortcutMonitor> windowShortcuts();
    static std::shared_ptr<KRLocalShortcutMonitor> documentShortcuts();
    static std::shared_ptr<KRLocalShortcutMonitor> appShortcuts();

    // True when an action was performed; a non-null target replaces each action's own.
    bool handleEvent(const NSEvent& event, NSObject* target);
    // Adds an action per selector of every binding, the user's replacing the system's for the same
    // key; a binding of "" or "noop:" takes the key's key-down actions out, so it does nothing.
    void updateWithCocoaTextKeyBindings();

    // Never fail: an unreadable file is logged and reads as empty.
    static Dictionary parseSystemKeyBindings();
    static Dictionary parseUserKeyBindings();

    struct TableEntry {
        const char* selector;
        const char* keyEquivalent;
        int64_t tag = 0;
    };

  private:
    static std::shared_ptr<KRLocalShortcutMonitor> withTable(const TableEntry* begin, const TableEntry* end);
};
