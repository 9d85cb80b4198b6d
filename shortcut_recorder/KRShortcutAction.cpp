#include "shortcut_recorder/KRShortcutAction.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/appkit/AppKitBundle.h"
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSController.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/NSAssertionHandler.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/SystemTrace.h"
#include "platform/foundation/TextPropertyList.h"

namespace {

// Private contexts: notices registered with another context belong to someone else.
int actionObservingContext;
int monitorObservingContext;

constexpr NSKeyValueObservingOptions kMonitorObservingOptions =
    NSKeyValueObservingOptionInitial | NSKeyValueObservingOptionOld | NSKeyValueObservingOptionNew;

template <class... Args>
std::string format(const char* pattern, Args... args) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, pattern, args...);
    return buffer;
}

bool sameShortcut(const std::shared_ptr<KRShortcut>& a, const std::shared_ptr<KRShortcut>& b) {
    return a == b || (a && b && a->isEqual(b.get()));
}

// A notice's value as a shortcut: NSNull and absence are none.
std::shared_ptr<KRShortcut> shortcutIn(const std::optional<AnyObject>& value) {
    return value ? value->object<KRShortcut>() : nullptr;
}

bool boolIn(const std::optional<AnyObject>& value) {
    return value && value->value() && value->value()->boolOr(false);
}

template <class T>
bool contains(const std::vector<T*>& set, const T* item) {
    return std::find(set.begin(), set.end(), item) != set.end();
}

template <class T>
void erase(std::vector<T*>& set, const T* item) {
    std::erase(set, item);
}

}  // namespace

KRKeyEventKind KR_keyEventTypeForEventType(unsigned long eventType, uint16_t keyCode,
                                           NSEventModifierFlags modifierFlags) {
    if (eventType == KRKeyEventKindDown || eventType == KRKeyEventKindUp) return eventType;
    if (eventType != static_cast<unsigned long>(NSEventType::FlagsChanged))
        throw Exception(NSInternalInconsistencyException, format("Expected a key event, got %lu", eventType));
    NSEventModifierFlags flag = 0;
    switch (keyCode) {
        case 54:
        case 55:
            flag = NSEventModifierFlagCommand;
            break;
        case 58:
        case 61:
            flag = NSEventModifierFlagOption;
            break;
        case 56:
        case 60:
            flag = NSEventModifierFlagShift;
            break;
        case 59:
        case 62:
            flag = NSEventModifierFlagControl;
            break;
        default:
            traceLog(TraceLevel::Error,
                     format("#Error Unexpected key code %hu for the FlagsChanged event", keyCode));
            return KRKeyEventKindDown;
    }
    return (modifierFlags & flag) ? KRKeyEventKindDown : KRKeyEventKindUp;
}

KRKeyEventKind KR_keyEventType(const NSEvent& event) {
    return KR_keyEventTypeForEventType(static_cast<unsigned long>(event.type()), event.keyCode(),
                                       event.modifierFlags());
}

// MARK: - KRShortcutAction

std::shared_ptr<KRShortcutAction> KRShortcutAction::create() {
    return std::shared_ptr<KRShortcutAction>(new KRShortcutAction());
}

std::shared_ptr<KRShortcutAction> KRShortcutAction::shortcutActionWithShortcut(
    std::shared_ptr<KRShortcut> shortcut, std::shared_ptr<NSObject> target, std::string action, int64_t tag) {
    auto made = create();
    made->setShortcut(std::move(shortcut));
    made->setTarget(target);
    made->setAction(std::move(action));
    made->setTag(tag);
    return made;
}

std::shared_ptr<KRShortcutAction> KRShortcutAction::shortcutActionWithShortcut(
    std::shared_ptr<KRShortcut> shortcut, ActionHandler actionHandler) {
    auto made = create();
    made->setShortcut(std::move(shortcut));
    made->setActionHandler(std::move(actionHandler));
    return made;
}

std::shared_ptr<KRShortcutAction> KRShortcutAction::shortcutActionWithKeyPath(
    const std::string& keyPath, const std::shared_ptr<NSKeyValueObserving>& object,
    std::shared_ptr<NSObject> target, std::string action, int64_t tag) {
    auto made = create();
    made->setObservedObject(object, keyPath);
    made->setTarget(target);
    made->setAction(std::move(action));
    made->setTag(tag);
    return made;
}

std::shared_ptr<KRShortcutAction> KRShortcutAction::shortcutActionWithKeyPath(
    const std::string& keyPath, const std::shared_ptr<NSKeyValueObserving>& object,
    ActionHandler actionHandler) {
    auto made = create();
    made->setObservedObject(object, keyPath);
    made->setActionHandler(std::move(actionHandler));
    return made;
}

KRShortcutAction::~KRShortcutAction() {
    std::lock_guard lock(lock_);
    invalidateObserving();
}

std::shared_ptr<KRShortcut> KRShortcutAction::shortcut() const {
    std::lock_guard lock(lock_);
    return shortcut_;
}

// The action's lock guards its state only: notices go out with it released. A monitor that hears them
// takes its own lock, and it reads actions while holding that lock, so posting under ours would order
// the two locks both ways and two threads could deadlock.
void KRShortcutAction::setShortcut(std::shared_ptr<KRShortcut> shortcut) {
    willChangeValueForKey("observedObject");
    willChangeValueForKey("observedKeyPath");
    bool changes;
    {
        std::lock_guard lock(lock_);
        changes = !sameShortcut(shortcut, shortcut_);
    }
    if (changes) willChangeValueForKey("shortcut");
    {
        std::lock_guard lock(lock_);
        invalidateObserving();
        if (changes) shortcut_ = std::move(shortcut);
    }
    if (changes) didChangeValueForKey("shortcut");
    didChangeValueForKey("observedKeyPath");
    didChangeValueForKey("observedObject");
}

std::shared_ptr<NSObject> KRShortcutAction::target() const {
    std::lock_guard lock(lock_);
    if (auto held = target_.lock()) return held;
    return NSApplication::sharedApplication();
}

void KRShortcutAction::setTarget(const std::shared_ptr<NSObject>& target) {
    bool clearsHandler;
    {
        std::lock_guard lock(lock_);
        if (target == target_.lock()) return;
        clearsHandler = target && actionHandler_;
    }
    willChangeValueForKey("target");
    if (clearsHandler) willChangeValueForKey("actionHandler");
    {
        std::lock_guard lock(lock_);
        target_ = target;
        if (target) actionHandler_ = nullptr;
    }
    if (clearsHandler) didChangeValueForKey("actionHandler");
    didChangeValueForKey("target");
}

KRShortcutAction::ActionHandler KRShortcutAction::actionHandler() const {
    std::lock_guard lock(lock_);
    return actionHandler_;
}

void KRShortcutAction::setActionHandler(ActionHandler actionHandler) {
    bool clearsTarget;
    {
        std::lock_guard lock(lock_);
        clearsTarget = actionHandler && target_.lock();
    }
    willChangeValueForKey("actionHandler");
    if (clearsTarget) willChangeValueForKey("target");
    {
        std::lock_guard lock(lock_);
        if (actionHandler) target_.reset();
        actionHandler_ = std::move(actionHandler);
    }
    if (clearsTarget) didChangeValueForKey("target");
    didChangeValueForKey("actionHandler");
}

void KRShortcutAction::setEnabled(bool enabled) {
    changeValueForKey("enabled", [&] { enabled_ = enabled; });
}

std::string KRShortcutAction::action() const {
    std::lock_guard lock(lock_);
    return action_;
}

void KRShortcutAction::setAction(std::string action) {
    changeValueForKey("action", [&] {
        std::lock_guard lock(lock_);
        action_ = std::move(action);
    });
}

int64_t KRShortcutAction::tag() const {
    return tag_;
}

void KRShortcutAction::setTag(int64_t tag) {
    changeValueForKey("tag", [&] { tag_ = tag; });
}

std::optional<std::string> KRShortcutAction::identifier() const {
    std::lock_guard lock(lock_);
    return identifier_;
}

void KRShortcutAction::setIdentifier(std::optional<std::string> identifier) {
    changeValueForKey("identifier", [&] {
        std::lock_guard lock(lock_);
        identifier_ = std::move(identifier);
    });
}

std::shared_ptr<NSKeyValueObserving> KRShortcutAction::observedObject() const {
    std::lock_guard lock(lock_);
    return observedObject_.lock();
}

std::string KRShortcutAction::observedKeyPath() const {
    std::lock_guard lock(lock_);
    return observedKeyPath_;
}

void KRShortcutAction::setObservedObject(const std::shared_ptr<NSKeyValueObserving>& object,
                                         const std::string& keyPath) {
    {
        std::lock_guard lock(lock_);
        if (object == observedObject_.lock() && keyPath == observedKeyPath_) return;
    }
    willChangeValueForKey("observedObject");
    willChangeValueForKey("observedKeyPath");
    {
        std::lock_guard lock(lock_);
        invalidateObserving();
        observedObject_ = object;
        observedKeyPath_ = keyPath;
    }
    // The Initial notice brings the current value at once.
    if (object)
        object->addObserver(this, keyPath, NSKeyValueObservingOptionInitial | NSKeyValueObservingOptionNew,
                            &actionObservingContext);
    didChangeValueForKey("observedKeyPath");
    didChangeValueForKey("observedObject");
}

void KRShortcutAction::invalidateObserving() {
    if (auto object = observedObject_.lock())
        object->removeObserver(this, observedKeyPath_, &actionObservingContext);
    observedObject_.reset();
    observedKeyPath_.clear();
}

std::shared_ptr<KRShortcut> KRShortcutAction::shortcutFromObservedValue(const AnyObject& value) {
    if (auto shortcut = value.object<KRShortcut>()) return shortcut;
    const Value* plain = value.value();
    if (!plain) return nullptr;
    if (const Dictionary* dictionary = plain->asDictionary())
        return KRShortcut::shortcutWithDictionary(*dictionary);
    if (const Data* data = plain->asData()) {
        auto decoded = KeyedUnarchiver::unarchivedObject(*data, {KRShortcut::archiveClass()});
        return decoded ? decoded->objectAs<KRShortcut>() : nullptr;
    }
    // NSNull, and values that cannot be a shortcut: none.
    return nullptr;
}

void KRShortcutAction::observeValueForKeyPath(const std::string& keyPath, NSKeyValueObserving& object,
                                              const NSKeyValueChange& change, void* context) {
    if (context != &actionObservingContext) return;
    AnyObject value = change.newValue ? *change.newValue : AnyObject();
    const bool missing = value.isNil() || (value.value() && value.value()->isNull());
    // Controllers post their notices without the new value.
    if (missing && dynamic_cast<NSController*>(&object)) value = object.valueForKeyPath(keyPath);
    auto shortcut = shortcutFromObservedValue(value);

    {
        std::lock_guard lock(lock_);
        if (sameShortcut(shortcut, shortcut_)) return;
    }
    willChangeValueForKey("shortcut");
    {
        std::lock_guard lock(lock_);
        shortcut_ = std::move(shortcut);
    }
    didChangeValueForKey("shortcut");
}

bool KRShortcutAction::performActionOnTarget(NSObject* target) {
    TraceActivity activity("-[KRShortcutAction performActionOnTarget:]");
    if (!enabled_) {
        traceLog(TraceLevel::Debug, "Not performed: disabled");
        return false;
    }
    if (auto handler = actionHandler()) {
        traceLog(TraceLevel::Debug, "Using action handler");
        return handler(*this);
    }
    std::shared_ptr<NSObject> ownTarget;
    NSObject* receiver = target;
    if (!receiver) {
        ownTarget = this->target();
        receiver = ownTarget.get();
    }
    if (!receiver) {
        traceLog(TraceLevel::Debug, "Not performed: no associated target");
        return false;
    }
    const std::string selector = action();
    const bool useSelector = !selector.empty() && receiver->respondsToSelector(selector);
    auto* protocolTarget = dynamic_cast<KRShortcutActionTarget*>(receiver);
    if (!useSelector && !protocolTarget) {
        traceLog(TraceLevel::Debug, "Not performed: target cannot respond to action");
        return false;
    }
    if (receiver->respondsToSelector("validateUserInterfaceItem:") &&
        !receiver->invokeSelector("validateUserInterfaceItem:", this)) {
        traceLog(TraceLevel::Debug, "Not performed: target ignored action");
        return false;
    }
    if (useSelector) {
        traceLog(TraceLevel::Debug, "Using action");
        const auto signature = receiver->methodSignatureForSelector(selector);
        const bool returnsBool = signature->methodReturnType == "c";
        bool answer = false;
        if (signature->numberOfArguments == 3)
            answer = receiver->invokeSelector(selector, this);
        else if (signature->numberOfArguments == 2)
            answer = receiver->invokeSelector(selector, nullptr);
        else
            return false;
        return returnsBool ? answer : true;
    }
    traceLog(TraceLevel::Debug, "Using protocol");
    return protocolTarget->performShortcutAction(*this);
}

AnyObject KRShortcutAction::valueForKeyPath(std::string_view keyPath) const {
    if (keyPath == "shortcut") return AnyObject(shortcut());
    if (keyPath == "enabled") return AnyObject(Value(isEnabled()));
    if (keyPath == "tag") return AnyObject(Value(tag()));
    if (keyPath == "action") return AnyObject(Value(action()));
    if (keyPath == "observedKeyPath") return AnyObject(Value(observedKeyPath()));
    if (keyPath == "observedObject") return AnyObject(observedObject());
    if (keyPath == "identifier") {
        auto id = identifier();
        return id ? AnyObject(Value(*id)) : AnyObject();
    }
    if (keyPath == "target") {
        std::lock_guard lock(lock_);
        return AnyObject(target_.lock());
    }
    return {};
}

bool KRShortcutAction::automaticallyNotifiesObserversForKey(std::string_view key) const {
    return key != "shortcut" && key != "actionHandler" && key != "target";
}

// MARK: - KRShortcutMonitor

KRShortcutMonitor::~KRShortcutMonitor() {
    stopObservingActions();
}

void KRShortcutMonitor::stopObservingActions() {
    std::lock_guard guard(lock_);
    for (const auto& [action, count] : actions_) {
        action->removeObserver(this, "enabled", &monitorObservingContext);
        if (contains(enabledActions_, action.get()))
            action->removeObserver(this, "shortcut", &monitorObservingContext);
    }
}

void KRShortcutMonitor::checkKind(KRKeyEventKind kind) {
    if (kind != KRKeyEventKindDown && kind != KRKeyEventKindUp)
        throw Exception(NSInvalidArgumentException, format("Unexpected keyboard event type %lu", kind));
}

KRShortcutMonitor::ShortcutTable& KRShortcutMonitor::table(KRKeyEventKind kind) {
    return kind == KRKeyEventKindDown ? shortcutToEnabledKeyDownActions_ : shortcutToEnabledKeyUpActions_;
}

const KRShortcutMonitor::ShortcutTable& KRShortcutMonitor::table(KRKeyEventKind kind) const {
    return kind == KRKeyEventKindDown ? shortcutToEnabledKeyDownActions_ : shortcutToEnabledKeyUpActions_;
}

std::vector<KRShortcutAction*>& KRShortcutMonitor::kindActions(KRKeyEventKind kind) {
    return kind == KRKeyEventKindDown ? keyDownActions_ : keyUpActions_;
}

const std::vector<KRShortcutAction*>& KRShortcutMonitor::kindActions(KRKeyEventKind kind) const {
    return kind == KRKeyEventKindDown ? keyDownActions_ : keyUpActions_;
}

KRShortcutMonitor::ShortcutTable::iterator KRShortcutMonitor::findShortcut(ShortcutTable& table,
                                                                           const KRShortcut& shortcut) {
    return std::find_if(table.begin(), table.end(),
                        [&](const auto& entry) { return entry.first->isEqual(&shortcut); });
}

size_t KRShortcutMonitor::actionCount(const KRShortcutAction* action) const {
    for (const auto& [held, count] : actions_)
        if (held.get() == action) return count;
    return 0;
}

size_t KRShortcutMonitor::shortcutCount(const KRShortcut& shortcut) const {
    for (const auto& [held, count] : shortcuts_)
        if (held->isEqual(&shortcut)) return count;
    return 0;
}

bool KRShortcutMonitor::isEnabledInMonitor(const KRShortcutAction* action) const {
    return contains(enabledActions_, action);
}

std::shared_ptr<KRShortcutAction> KRShortcutMonitor::owned(const KRShortcutAction* action) const {
    for (const auto& [held, count] : actions_)
        if (held.get() == action) return held;
    return nullptr;
}

std::vector<std::shared_ptr<KRShortcutAction>> KRShortcutMonitor::actions() const {
    std::lock_guard guard(lock_);
    std::vector<std::shared_ptr<KRShortcutAction>> out;
    for (const auto& [action, count] : actions_) out.push_back(action);
    return out;
}

std::vector<std::shared_ptr<KRShortcut>> KRShortcutMonitor::shortcuts() const {
    std::lock_guard guard(lock_);
    std::vector<std::shared_ptr<KRShortcut>> out;
    for (const auto& [shortcut, count] : shortcuts_) out.push_back(shortcut);
    return out;
}

std::vector<std::shared_ptr<KRShortcutAction>> KRShortcutMonitor::actionsForKeyEvent(
    KRKeyEventKind kind) const {
    checkKind(kind);
    std::lock_guard guard(lock_);
    std::vector<std::shared_ptr<KRShortcutAction>> out;
    for (const KRShortcutAction* action : kindActions(kind)) out.push_back(owned(action));
    return out;
}

std::vector<std::shared_ptr<KRShortcutAction>> KRShortcutMonitor::enabledActionsForShortcut(
    const KRShortcut& shortcut, KRKeyEventKind kind) const {
    checkKind(kind);
    std::lock_guard guard(lock_);
    for (const auto& [filed, actions] : table(kind))
        if (filed->isEqual(&shortcut)) return actions;
    return {};
}

void KRShortcutMonitor::addAction(const std::shared_ptr<KRShortcutAction>& action, KRKeyEventKind kind) {
    checkKind(kind);
    if (!action) return;
    std::lock_guard guard(lock_);
    NSAssert(actionCount(action.get()) < 2, "Action is added too many times");
    auto& added = kindActions(kind);
    if (contains(added, action.get())) {
        // Added again for the same kind: it becomes the first one tried.
        if (!isEnabledInMonitor(action.get())) return;
        auto shortcut = shortcutForEnabledAction(*action, nullptr);
        if (!shortcut) return;
        auto entry = findShortcut(table(kind), *shortcut);
        if (entry == table(kind).end()) return;
        std::erase(entry->second, action);
        entry->second.push_back(action);
        return;
    }
    const bool first = actionCount(action.get()) == 0;
    if (first) {
        willChangeValueForKey("actions");
        actions_.emplace_back(action, 1);
    } else {
        for (auto& [held, count] : actions_)
            if (held == action) ++count;
    }
    added.push_back(action.get());
    if (first) {
        // The Initial notice files the action at once when it is enabled.
        action->addObserver(this, "enabled", kMonitorObservingOptions, &monitorObservingContext);
        didChangeValueForKey("actions");
    } else if (isEnabledInMonitor(action.get())) {
        // Filed for the other kind already, so its shortcut is in the table: no hook runs.
        if (auto shortcut = shortcutForEnabledAction(*action, action->shortcut()))
            addEnabledAction(action, shortcut, kind);
    }
}

std::shared_ptr<KRShortcutAction> KRShortcutMonitor::addAction(const std::string& selector,
                                                               const std::string& keyEquivalent,
                                                               int64_t tag) {
    auto shortcut = KRShortcut::shortcutWithKeyEquivalent(keyEquivalent);
    if (!shortcut) return nullptr;
    auto action = KRShortcutAction::shortcutActionWithShortcut(shortcut, nullptr, selector, tag);
    addAction(action, KRKeyEventKindDown);
    return action;
}

void KRShortcutMonitor::removeAction(const std::shared_ptr<KRShortcutAction>& action, KRKeyEventKind kind) {
    checkKind(kind);
    if (!action) return;
    std::lock_guard guard(lock_);
    if (!contains(kindActions(kind), action.get())) return;
    const bool last = actionCount(action.get()) == 1;
    if (last) {
        willChangeValueForKey("actions");
        action->removeObserver(this, "enabled", &monitorObservingContext);
    }
    std::shared_ptr<KRShortcut> shortcut;
    bool leaves = false;
    if (isEnabledInMonitor(action.get())) {
        if (last) action->removeObserver(this, "shortcut", &monitorObservingContext);
        shortcut = shortcutForEnabledAction(*action, nullptr);
        if (shortcut) {
            leaves = shortcutCount(*shortcut) == 1;
            if (leaves) {
                willChangeValueForKey("shortcuts");
                willRemoveShortcut(shortcut);
            }
            removeEnabledAction(*action, shortcut, kind);
        }
        if (last) erase(enabledActions_, action.get());
    }
    erase(kindActions(kind), action.get());
    for (auto& [held, count] : actions_)
        if (held == action) --count;
    std::erase_if(actions_, [](const auto& entry) { return entry.second == 0; });
    if (leaves) {
        didRemoveShortcut(shortcut);
        didChangeValueForKey("shortcuts");
    }
    if (last) didChangeValueForKey("actions");
}

void KRShortcutMonitor::removeAction(const std::shared_ptr<KRShortcutAction>& action) {
    std::lock_guard guard(lock_);
    removeAction(action, KRKeyEventKindDown);
    removeAction(action, KRKeyEventKindUp);
}

void KRShortcutMonitor::removeAllActions() {
    std::lock_guard guard(lock_);
    stopObservingActions();
    willChangeValueForKey("actions");
    willChangeValueForKey("shortcuts");
    const auto leaving = shortcuts();
    for (const auto& shortcut : leaving) willRemoveShortcut(shortcut);
    shortcuts_.clear();
    actions_.clear();
    enabledActions_.clear();
    keyUpActions_.clear();
    keyDownActions_.clear();
    shortcutToEnabledKeyDownActions_.clear();
    shortcutToEnabledKeyUpActions_.clear();
    for (auto it = leaving.rbegin(); it != leaving.rend(); ++it) didRemoveShortcut(*it);
    didChangeValueForKey("shortcuts");
    didChangeValueForKey("actions");
}

std::shared_ptr<KRShortcut> KRShortcutMonitor::shortcutForEnabledAction(
    const KRShortcutAction& action, const std::shared_ptr<KRShortcut>& hint) {
    NSAssert(isEnabledInMonitor(&action),
             "Invalid parameter not satisfying: [_enabledActions containsObject:anAction]");
    auto filedUnder = [&](const std::shared_ptr<KRShortcut>& candidate) {
        if (!candidate) return false;
        for (KRKeyEventKind kind : {KRKeyEventKindDown, KRKeyEventKindUp}) {
            auto entry = findShortcut(table(kind), *candidate);
            if (entry != table(kind).end() &&
                std::any_of(entry->second.begin(), entry->second.end(),
                            [&](const auto& filed) { return filed.get() == &action; }))
                return true;
        }
        return false;
    };
    if (filedUnder(hint)) return hint;
    if (auto current = action.shortcut(); filedUnder(current)) return current;
    for (const auto& [shortcut, count] : shortcuts_)
        if (filedUnder(shortcut)) return shortcut;
    return nullptr;
}

void KRShortcutMonitor::addEnabledAction(const std::shared_ptr<KRShortcutAction>& action,
                                         const std::shared_ptr<KRShortcut>& shortcut, KRKeyEventKind kind) {
    auto& filed = table(kind);
    auto entry = findShortcut(filed, *shortcut);
    NSAssert(entry == filed.end() ||
                 std::find(entry->second.begin(), entry->second.end(), action) == entry->second.end(),
             "Invalid parameter not satisfying: ![actions containsObject:anAction]");
    auto counted = std::find_if(shortcuts_.begin(), shortcuts_.end(),
                                [&](const auto& e) { return e.first->isEqual(shortcut.get()); });
    if (counted == shortcuts_.end())
        shortcuts_.emplace_back(shortcut, 1);
    else
        ++counted->second;
    if (entry == filed.end())
        filed.emplace_back(shortcut, ActionList{action});
    else
        entry->second.push_back(action);
}

void KRShortcutMonitor::removeEnabledAction(const KRShortcutAction& action,
                                            const std::shared_ptr<KRShortcut>& shortcut,
                                            KRKeyEventKind kind) {
    auto& filed = table(kind);
    auto entry = findShortcut(filed, *shortcut);
    auto isAction = [&](const auto& held) { return held.get() == &action; };
    NSAssert(entry != filed.end() && std::any_of(entry->second.begin(), entry->second.end(), isAction),
             "Invalid parameter not satisfying: [actions containsObject:anAction]");
    auto counted = std::find_if(shortcuts_.begin(), shortcuts_.end(),
                                [&](const auto& e) { return e.first->isEqual(shortcut.get()); });
    if (counted != shortcuts_.end() && --counted->second == 0) shortcuts_.erase(counted);
    std::erase_if(entry->second, isAction);
    if (entry->second.empty()) filed.erase(entry);
}

void KRShortcutMonitor::enabledActionDidChangeShortcut(const std::shared_ptr<KRShortcutAction>& action,
                                                       const std::shared_ptr<KRShortcut>& from,
                                                       const std::shared_ptr<KRShortcut>& to) {
    const bool inKeyDown = contains(keyDownActions_, action.get());
    const bool inKeyUp = contains(keyUpActions_, action.get());
    const size_t filings = size_t(inKeyDown) + size_t(inKeyUp);
    const bool oldLeaves = from && shortcutCount(*from) == filings;
    const bool newEnters = to && shortcutCount(*to) == 0;
    if (oldLeaves || newEnters) willChangeValueForKey("shortcuts");
    if (oldLeaves) willRemoveShortcut(from);
    if (from) {
        if (inKeyDown) removeEnabledAction(*action, from, KRKeyEventKindDown);
        if (inKeyUp) removeEnabledAction(*action, from, KRKeyEventKindUp);
    }
    if (oldLeaves) didRemoveShortcut(from);
    if (newEnters) willAddShortcut(to);
    if (to) {
        if (inKeyDown) addEnabledAction(action, to, KRKeyEventKindDown);
        if (inKeyUp) addEnabledAction(action, to, KRKeyEventKindUp);
    }
    if (newEnters) didAddShortcut(to);
    if (oldLeaves || newEnters) didChangeValueForKey("shortcuts");
}

void KRShortcutMonitor::actionDidChangeEnabled(const std::shared_ptr<KRShortcutAction>& action,
                                               bool enabled) {
    if (enabled) {
        // Under the lock like every other change of the enabled set: threads enabling actions while
        // another files or removes actions would otherwise corrupt it.
        std::lock_guard guard(lock_);
        if (!owned(action.get()) || isEnabledInMonitor(action.get())) return;
        enabledActions_.push_back(action.get());
        // The Initial notice files the action under its current shortcut.
        action->addObserver(this, "shortcut", kMonitorObservingOptions, &monitorObservingContext);
        return;
    }
    action->removeObserver(this, "shortcut", &monitorObservingContext);
    std::lock_guard guard(lock_);
    if (!isEnabledInMonitor(action.get())) return;
    auto shortcut = shortcutForEnabledAction(*action, nullptr);
    const bool inKeyDown = contains(keyDownActions_, action.get());
    const bool inKeyUp = contains(keyUpActions_, action.get());
    const bool leaves = shortcut && shortcutCount(*shortcut) == size_t(inKeyDown) + size_t(inKeyUp);
    if (leaves) {
        willChangeValueForKey("shortcuts");
        willRemoveShortcut(shortcut);
    }
    if (shortcut) {
        if (inKeyDown) removeEnabledAction(*action, shortcut, KRKeyEventKindDown);
        if (inKeyUp) removeEnabledAction(*action, shortcut, KRKeyEventKindUp);
    }
    if (leaves) {
        didRemoveShortcut(shortcut);
        didChangeValueForKey("shortcuts");
    }
    erase(enabledActions_, action.get());
}

void KRShortcutMonitor::observeValueForKeyPath(const std::string& keyPath, NSKeyValueObserving& object,
                                               const NSKeyValueChange& change, void* context) {
    if (context != &monitorObservingContext) return;
    auto* raw = dynamic_cast<KRShortcutAction*>(&object);
    if (!raw) return;
    auto action = raw->sharedAs<KRShortcutAction>();
    if (!action) return;
    if (keyPath == "enabled") {
        const bool wasEnabled = boolIn(change.oldValue);
        const bool isEnabled = boolIn(change.newValue);
        if (wasEnabled != isEnabled) actionDidChangeEnabled(action, isEnabled);
    } else if (keyPath == "shortcut") {
        auto from = shortcutIn(change.oldValue);
        auto to = shortcutIn(change.newValue);
        // No shortcut before and none now (an enabled action without one) files nothing.
        if (sameShortcut(from, to)) return;
        std::lock_guard guard(lock_);
        if (isEnabledInMonitor(raw)) enabledActionDidChangeShortcut(action, from, to);
    }
}

AnyObject KRShortcutMonitor::valueForKeyPath(std::string_view keyPath) const {
    if (keyPath == "actions")
        return AnyObject(std::make_shared<std::vector<std::shared_ptr<KRShortcutAction>>>(actions()));
    if (keyPath == "shortcuts")
        return AnyObject(std::make_shared<std::vector<std::shared_ptr<KRShortcut>>>(shortcuts()));
    return {};
}

bool KRShortcutMonitor::automaticallyNotifiesObserversForKey(std::string_view key) const {
    return key != "actions" && key != "shortcuts";
}

std::string KRShortcutMonitor::debugDescription() const {
    std::lock_guard guard(lock_);
    std::string out;
    auto describe = [&](const char* title, const ShortcutTable& filed) {
        if (filed.empty()) return;
        out += title;
        for (const auto& [shortcut, actions] : filed) {
            out += "\t" + shortcut->description() + ": {\n";
            for (const auto& action : actions)
                out += format("\t\t<KRShortcutAction: %p>\n", static_cast<const void*>(action.get()));
            out += "\t}\n";
        }
        out += "}\n";
    };
    describe("Key Down Shortcuts: {\n", shortcutToEnabledKeyDownActions_);
    describe("Key Up Shortcuts: {\n", shortcutToEnabledKeyUpActions_);
    return out.empty() ? "No Shortcuts" : out;
}

// MARK: - KRGlobalShortcutMonitor

namespace {

constinit SharedInstance<KRGlobalShortcutMonitor> sharedGlobalMonitor;

// Hot-key ids are shared by every monitor of the process and never reused.
std::atomic<uint32_t> hotKeyIdCounter{0};
const bool counterResets = [] {
    registerResetForTesting([] { hotKeyIdCounter = 0; });
    return true;
}();

Value shortcutPayload(const KRShortcut& shortcut) {
    return Value(Dictionary{{"keyCode", uint64_t(shortcut.keyCode())},
                            {"modifierFlags", uint64_t(shortcut.modifierFlags())}});
}

OSStatus carbonEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
    if (!event) {
        traceLog(TraceLevel::Error, "#Error Event is NULL");
        return eventNotHandledErr;
    }
    if (GetEventClass(event) != kEventClassKeyboard) {
        traceLog(TraceLevel::Error, "#Error Not a keyboard event");
        return eventNotHandledErr;
    }
    return static_cast<KRGlobalShortcutMonitor*>(userData)->handleEvent(event);
}

}  // namespace

std::shared_ptr<KRGlobalShortcutMonitor> KRGlobalShortcutMonitor::sharedMonitor() {
    (void)counterResets;
    return sharedGlobalMonitor.get();
}

KRGlobalShortcutMonitor::~KRGlobalShortcutMonitor() {
    // No notice may reach the hooks of a monitor that is going.
    stopObservingActions();
    std::lock_guard guard(lock());
    for (const auto& shortcut : shortcuts()) unregisterHotKeyForShortcutIfNeeded(shortcut);
    removeEventHandlerIfNeeded();
}

std::vector<KRGlobalShortcutMonitor::Registration>::iterator KRGlobalShortcutMonitor::findRegistration(
    const KRShortcut& shortcut) {
    return std::find_if(registrations_.begin(), registrations_.end(),
                        [&](const Registration& r) { return r.shortcut->isEqual(&shortcut); });
}

void KRGlobalShortcutMonitor::didAddShortcut(const std::shared_ptr<KRShortcut>& shortcut) {
    registerHotKeyForShortcutIfNeeded(shortcut);
    installEventHandlerIfNeeded();
}

void KRGlobalShortcutMonitor::willRemoveShortcut(const std::shared_ptr<KRShortcut>& shortcut) {
    unregisterHotKeyForShortcutIfNeeded(shortcut);
    removeEventHandlerIfNeeded();
}

void KRGlobalShortcutMonitor::didAddEventHandler() {
    traceLog(TraceLevel::Debug, "Added Carbon HotKey Event Handler");
}

void KRGlobalShortcutMonitor::didRemoveEventHandler() {
    traceLog(TraceLevel::Debug, "Removed Carbon HotKey Event Handler");
}

void KRGlobalShortcutMonitor::registerHotKeyForShortcutIfNeeded(const std::shared_ptr<KRShortcut>& shortcut) {
    if (findRegistration(*shortcut) != registrations_.end()) return;
    if (shortcut->keyCode() == KRKeyCodeNone) {
        traceLog(TraceLevel::Error,
                 "#Error Shortcut without a key code cannot be registered as Carbon hot key");
        return;
    }
    // The id is spent even when the registration fails.
    const uint32_t id = ++hotKeyIdCounter;
    traceLog(TraceLevel::Default, "Registering Carbon hot key");
    EventHotKeyRef hotKey = nullptr;
    const OSStatus status = RegisterEventHotKey(shortcut->carbonKeyCode(), shortcut->carbonModifierFlags(),
                                                {kSignature, id}, GetApplicationEventTarget(), 0, &hotKey);
    if (status != noErr || !hotKey) {
        traceLog(TraceLevel::Fault, format("#Critical Failed to register Carbon hot key: %d", status),
                 shortcutPayload(*shortcut));
        return;
    }
    traceLog(TraceLevel::Default, format("Registered Carbon hot key %u", id), shortcutPayload(*shortcut));
    registrations_.push_back({shortcut, hotKey, id});
}

void KRGlobalShortcutMonitor::unregisterHotKeyForShortcutIfNeeded(
    const std::shared_ptr<KRShortcut>& shortcut) {
    auto found = findRegistration(*shortcut);
    if (found == registrations_.end()) return;
    const uint32_t id = found->id;
    traceLog(TraceLevel::Default, format("Removing Carbon hot key %u", id), shortcutPayload(*shortcut));
    const OSStatus status = UnregisterEventHotKey(found->hotKey);
    if (status != noErr)
        traceLog(TraceLevel::Fault,
                 format("#Critical Failed to unregister Carbon hot key %u: %d", id, status),
                 shortcutPayload(*shortcut));
    else
        traceLog(TraceLevel::Default, format("Unregistered Carbon hot key %u", id),
                 shortcutPayload(*shortcut));
    registrations_.erase(found);
}

void KRGlobalShortcutMonitor::installEventHandlerIfNeeded() {
    if (carbonEventHandler_ || disableCounter_ > 0 || registrations_.empty()) return;
    traceLog(TraceLevel::Default, "Installing Carbon hot key event handler");
    const EventTypeSpec types[] = {{kEventClassKeyboard, kEventHotKeyPressed},
                                   {kEventClassKeyboard, kEventHotKeyReleased}};
    EventHandlerRef handler = nullptr;
    const OSStatus status =
        InstallEventHandler(GetApplicationEventTarget(), &carbonEventHandler, 2, types, this, &handler);
    if (status != noErr) {
        traceLog(TraceLevel::Fault, format("#Critical Failed to install event handler: %d", status));
        return;
    }
    carbonEventHandler_ = handler;
    didAddEventHandler();
}

void KRGlobalShortcutMonitor::removeEventHandlerIfNeeded() {
    if (!carbonEventHandler_ || (disableCounter_ <= 0 && !registrations_.empty())) return;
    traceLog(TraceLevel::Default, "Removing Carbon hot key event handler");
    const OSStatus status = RemoveEventHandler(carbonEventHandler_);
    if (status != noErr)
        traceLog(TraceLevel::Error, format("#Error Failed to remove event handler: %d", status));
    carbonEventHandler_ = nullptr;
    didRemoveEventHandler();
}

void KRGlobalShortcutMonitor::pause() {
    std::lock_guard guard(lock());
    const int64_t old = disableCounter_++;
    traceLog(TraceLevel::Debug,
             format("Global Shortcut Monitor counter: %ld -> %ld", long(old), long(old + 1)));
    if (old == 0)
        for (const auto& shortcut : shortcuts()) unregisterHotKeyForShortcutIfNeeded(shortcut);
    removeEventHandlerIfNeeded();
}

void KRGlobalShortcutMonitor::resume() {
    std::lock_guard guard(lock());
    const int64_t old = disableCounter_--;
    traceLog(TraceLevel::Debug,
             format("Global Shortcut Monitor counter: %ld -> %ld", long(old), long(old - 1)));
    if (disableCounter_ == 0)
        for (const auto& shortcut : shortcuts()) registerHotKeyForShortcutIfNeeded(shortcut);
    installEventHandlerIfNeeded();
}

OSStatus KRGlobalShortcutMonitor::handleEvent(EventRef event) {
    TraceActivity activity("-[KRGlobalShortcutMonitor handleEvent:]");
    OSStatus result = eventNotHandledErr;
    std::lock_guard guard(lock());
    if (disableCounter_ > 0) {
        traceLog(TraceLevel::Debug, "Monitoring is currently disabled");
        return result;
    }
    EventHotKeyID hotKeyID{};
    const OSStatus status = GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr,
                                              sizeof hotKeyID, nullptr, &hotKeyID);
    if (status != noErr) {
        traceLog(TraceLevel::Fault, format("#Critical Failed to get hot key ID: %d", result));
        return result;
    }
    if (hotKeyID.id == 0 || hotKeyID.signature != kSignature) {
        traceLog(TraceLevel::Error, format("#Error Unexpected hot key with id %u and signature: %u",
                                           hotKeyID.id, hotKeyID.signature));
        return result;
    }
    auto registration = std::find_if(registrations_.begin(), registrations_.end(),
                                     [&](const Registration& r) { return r.id == hotKeyID.id; });
    if (registration == registrations_.end()) {
        traceLog(TraceLevel::Default,
                 format("Unregistered hot key with id %u and signature %u", hotKeyID.id, hotKeyID.signature));
        return result;
    }
    const auto shortcut = registration->shortcut;
    KRKeyEventKind kind;
    switch (GetEventKind(event)) {
        case kEventHotKeyPressed:
            kind = KRKeyEventKindDown;
            break;
        case kEventHotKeyReleased:
            kind = KRKeyEventKindUp;
            break;
        default:
            traceLog(TraceLevel::Default,
                     format("#Error Unexpected key event of type %u", GetEventKind(event)));
            return result;
    }
    const auto actions = enabledActionsForShortcut(*shortcut, kind);
    if (actions.empty()) {
        traceLog(TraceLevel::Default, "No actions for the shortcut");
        return result;
    }
    for (auto it = actions.rbegin(); it != actions.rend(); ++it) {
        if ((*it)->performActionOnTarget(nullptr)) {
            result = noErr;
            break;
        }
    }
    return result;
}

// MARK: - KRLocalShortcutMonitor

namespace {

// The platform's standard commands and their key equivalents, in the order they are filed.
constexpr KRLocalShortcutMonitor::TableEntry kStandardTable[] = {
    {"moveForward:", "⌃F"},
    {"moveRight:", "→"},
    {"moveBackward:", "⌃B"},
    {"moveLeft:", "←"},
    {"moveUp:", "↑"},
    {"moveUp:", "⌃P"},
    {"moveDown:", "↓"},
    {"moveDown:", "⌃N"},
    {"moveWordForward:", "⌥F"},
    {"moveWordBackward:", "⌥B"},
    {"moveToBeginningOfLine:", "⌃A"},
    {"moveToEndOfLine:", "⌃E"},
    {"moveToEndOfDocument:", "⌘↓"},
    {"moveToBeginningOfDocument:", "⌘↑"},
    {"pageDown:", "⌃V"},
    {"pageUp:", "⌥V"},
    {"centerSelectionInVisibleArea:", "⌃L"},
    {"moveBackwardAndModifySelection:", "⇧⌃B"},
    {"moveForwardAndModifySelection:", "⇧⌃F"},
    {"moveWordForwardAndModifySelection:", "⇧⌥F"},
    {"moveWordBackwardAndModifySelection:", "⇧⌥B"},
    {"moveUpAndModifySelection:", "⇧↑"},
    {"moveUpAndModifySelection:", "⇧⌃P"},
    {"moveDownAndModifySelection:", "⇧↓"},
    {"moveDownAndModifySelection:", "⇧⌃N"},
    {"moveToBeginningOfLineAndModifySelection:", "⇧⌃A"},
    {"moveToBeginningOfLineAndModifySelection:", "⇧⌘←"},
    {"moveToEndOfLineAndModifySelection:", "⇧⌃E"},
    {"moveToEndOfLineAndModifySelection:", "⇧⌘→"},
    {"moveToEndOfDocumentAndModifySelection:", "⇧⌘↓"},
    {"moveToBeginningOfDocumentAndModifySelection:", "⇧⌘↑"},
    {"pageDownAndModifySelection:", "⇧⌃V"},
    {"pageUpAndModifySelection:", "⇧⌥V"},
    {"moveWordRight:", "⌥→"},
    {"moveWordLeft:", "⌥←"},
    {"moveRightAndModifySelection:", "⇧→"},
    {"moveLeftAndModifySelection:", "⇧←"},
    {"moveWordRightAndModifySelection:", "⇧⌥→"},
    {"moveWordLeftAndModifySelection:", "⇧⌥←"},
    {"moveToLeftEndOfLine:", "⌘←"},
    {"moveToRightEndOfLine:", "⌘→"},
    {"moveToLeftEndOfLineAndModifySelection:", "⇧⌘←"},
    {"moveToRightEndOfLineAndModifySelection:", "⇧⌘→"},
    {"scrollPageUp:", "⇞"},
    {"scrollPageDown:", "⇟"},
    {"scrollToBeginningOfDocument:", "↖"},
    {"scrollToEndOfDocument:", "↘"},
    {"transpose:", "⌃T"},
    {"transposeWords:", "⌥T"},
    {"selectAll:", "⌘A"},
    {"insertNewline:", "⌃O"},
    {"deleteForward:", "⌦"},
    {"deleteBackward:", "⌫"},
    {"deleteWordForward:", "⌥⌦"},
    {"deleteWordBackward:", "⌥⌫"},
    {"deleteToEndOfLine:", "⌃K"},
    {"deleteToBeginningOfLine:", "⌃W"},
    {"yank:", "⌃Y"},
    {"setMark:", "⌃Space"},
    {"complete:", "⌥⎋"},
    {"cancelOperation:", "⌘."},
};
constexpr KRLocalShortcutMonitor::TableEntry kMainMenuTable[] = {
    {"hide:", "⌘H"},
    {"hideOtherApplications:", "⌥⌘H"},
    {"terminate:", "⌘Q"},
    {"newDocument:", "⌘N"},
    {"openDocument:", "⌘O"},
    {"performClose:", "⌘W"},
    {"saveDocument:", "⌘S"},
    {"saveDocumentAs:", "⇧⌘S"},
    {"revertDocumentToSaved:", "⌘R"},
    {"runPageLayout:", "⇧⌘P"},
    {"print:", "⌘P"},
    {"undo:", "⌘Z"},
    {"redo:", "⇧⌘Z"},
    {"cut:", "⌘X"},
    {"copy:", "⌘C"},
    {"paste:", "⌘V"},
    {"pasteAsPlainText:", "⌥⇧⌘V"},
    {"selectAll:", "⌘A"},
    {"performTextFinderAction:", "⌘F", 1},
    {"performTextFinderAction:", "⌥⌘F", 12},
    {"performTextFinderAction:", "⌘G", 2},
    {"performTextFinderAction:", "⇧⌘G", 3},
    {"performTextFinderAction:", "⌘E", 7},
    {"centerSelectionInVisibleArea:", "⌘J"},
    {"showGuessPanel:", "⇧⌘;"},
    {"checkSpelling:", "⌘;"},
    {"orderFrontFontPanel:", "⌘T"},
    {"addFontTrait:", "⌘B", 2},
    {"addFontTrait:", "⌘I", 1},
    {"underline:", "⌘U"},
    {"modifyFont:", "⌘=", 3},
    {"modifyFont:", "⇧⌘=", 3},
    {"modifyFont:", "⌘-", 4},
    {"modifyFont:", "⇧⌘-", 4},
    {"orderFrontColorPanel:", "⇧⌘C"},
    {"copyFont:", "⌥⌘C"},
    {"pasteFont:", "⌥⌘V"},
    {"alignLeft:", "⇧⌘["},
    {"alignCenter:", "⇧⌘\\"},
    {"alignRight:", "⇧⌘]"},
    {"copyRuler:", "⌃⌘C"},
    {"pasteRuler:", "⌃⌘V"},
    {"toggleToolbarShown:", "⌥⌘T"},
    {"toggleSidebar:", "⌃⌘S"},
    {"toggleFullScreen:", "⌃⌘F"},
    {"performMiniaturize:", "⌘M"},
    {"showHelp:", "⇧⌘/"},
};
constexpr KRLocalShortcutMonitor::TableEntry kClipboardTable[] = {
    {"cut:", "⌘X"},  {"copy:", "⌘C"},  {"paste:", "⌘V"}, {"pasteAsPlainText:", "⌥⇧⌘V"},
    {"undo:", "⌘Z"}, {"redo:", "⇧⌘Z"},
};
constexpr KRLocalShortcutMonitor::TableEntry kWindowTable[] = {
    {"performClose:", "⌘W"},
    {"performMiniaturize:", "⌘M"},
    {"toggleFullScreen:", "⌃⌘F"},
};
// Unlike the main menu, documents save as under ⇧⌥⌘S and duplicate under ⇧⌘S.
constexpr KRLocalShortcutMonitor::TableEntry kDocumentTable[] = {
    {"print:", "⌘P"},        {"runPageLayout:", "⇧⌘P"},   {"revertDocumentToSaved:", "⌘R"},
    {"saveDocument:", "⌘S"}, {"saveDocumentAs:", "⇧⌥⌘S"}, {"duplicateDocument:", "⇧⌘S"},
    {"openDocument:", "⌘O"},
};
constexpr KRLocalShortcutMonitor::TableEntry kAppTable[] = {
    {"hide:", "⌘H"},
    {"hideOtherApplications:", "⌥⌘H"},
    {"terminate:", "⌘Q"},
};

}  // namespace

std::shared_ptr<KRLocalShortcutMonitor> KRLocalShortcutMonitor::withTable(const TableEntry* begin,
                                                                          const TableEntry* end) {
    auto monitor = std::make_shared<KRLocalShortcutMonitor>();
    for (const TableEntry* entry = begin; entry != end; ++entry)
        monitor->addAction(entry->selector, entry->keyEquivalent, entry->tag);
    return monitor;
}

std::shared_ptr<KRLocalShortcutMonitor> KRLocalShortcutMonitor::standardShortcuts() {
    auto monitor = withTable(std::begin(kStandardTable), std::end(kStandardTable));
    monitor->updateWithCocoaTextKeyBindings();
    return monitor;
}

std::shared_ptr<KRLocalShortcutMonitor> KRLocalShortcutMonitor::mainMenuShortcuts() {
    return withTable(std::begin(kMainMenuTable), std::end(kMainMenuTable));
}

std::shared_ptr<KRLocalShortcutMonitor> KRLocalShortcutMonitor::clipboardShortcuts() {
    return withTable(std::begin(kClipboardTable), std::end(kClipboardTable));
}

std::shared_ptr<KRLocalShortcutMonitor> KRLocalShortcutMonitor::windowShortcuts() {
    return withTable(std::begin(kWindowTable), std::end(kWindowTable));
}

std::shared_ptr<KRLocalShortcutMonitor> KRLocalShortcutMonitor::documentShortcuts() {
    return withTable(std::begin(kDocumentTable), std::end(kDocumentTable));
}

std::shared_ptr<KRLocalShortcutMonitor> KRLocalShortcutMonitor::appShortcuts() {
    return withTable(std::begin(kAppTable), std::end(kAppTable));
}

bool KRLocalShortcutMonitor::handleEvent(const NSEvent& event, NSObject* target) {
    auto shortcut = KRShortcut::shortcutWithEvent(event, true);
    if (!shortcut) {
        traceLog(TraceLevel::Error, "#Error Not a keyboard event");
        return false;
    }
    const auto actions = enabledActionsForShortcut(*shortcut, KR_keyEventType(event));
    for (auto it = actions.rbegin(); it != actions.rend(); ++it)
        if ((*it)->performActionOnTarget(target)) return true;
    return false;
}

namespace {
Dictionary readKeyBindings(const std::optional<std::filesystem::path>& file, TraceLevel level,
                           const char* line) {
    Error error(kFoundationErrorDomain, 260, "The key bindings file could not be found.");
    if (file)
        if (auto bindings = dictionaryWithContentsOfURL(*file, &error)) return *bindings;
    traceLog(level, line, Value(Dictionary{{"error", error.description}}));
    return {};
}
}  // namespace

Dictionary KRLocalShortcutMonitor::parseSystemKeyBindings() {
    auto appKit = NSAppKitBundle();
    return readKeyBindings(appKit ? appKit->pathForResource("StandardKeyBinding", "dict") : std::nullopt,
                           TraceLevel::Error, "#Error unable to read system key bindings");
}

Dictionary KRLocalShortcutMonitor::parseUserKeyBindings() {
    const char* home = std::getenv("HOME");
    std::optional<std::filesystem::path> file;
    if (home && *home) file = std::filesystem::path(home) / "Library/KeyBindings/DefaultKeyBinding.dict";
    return readKeyBindings(file, TraceLevel::Debug, "#Error unable to read user key bindings");
}

void KRLocalShortcutMonitor::updateWithCocoaTextKeyBindings() {
    Dictionary bindings = parseSystemKeyBindings();
    for (const auto& [key, value] : parseUserKeyBindings()) bindings.set(key, value);

    std::lock_guard guard(lock());
    for (const auto& [key, value] : bindings) {
        if (key.empty()) continue;
        auto shortcut = KRShortcut::shortcutWithKeyBinding(key);
        if (!shortcut) continue;
        const Value::Array selectors = value.asArray() ? *value.asArray() : Value::Array{value};
        for (const Value& element : selectors) {
            const std::string* selector = element.asString();
            if (!selector) continue;  // nested dictionaries are key sequences, not shortcuts
            if (selector->empty() || *selector == "noop:") {
                // Taken out through the monitor's own removal, so that its counts, its enabled set
                // and its action sets agree with the key-down order afterwards.
                for (const auto& action : enabledActionsForShortcut(*shortcut, KRKeyEventKindDown))
                    if (!action->observedObject()) removeAction(action, KRKeyEventKindDown);
                continue;
            }
            addAction(KRShortcutAction::shortcutActionWithShortcut(shortcut, nullptr, *selector, 0),
                      KRKeyEventKindDown);
        }
    }
}

// MARK: - KRAXGlobalShortcutMonitor

std::shared_ptr<KRAXGlobalShortcutMonitor> KRAXGlobalShortcutMonitor::create(CFRunLoopRef runLoop,
                                                                             CGEventTapOptions options) {
    std::shared_ptr<KRAXGlobalShortcutMonitor> monitor(new KRAXGlobalShortcutMonitor());
    constexpr CGEventMask mask = CGEventMaskBit(kCGEventKeyDown) | CGEventMaskBit(kCGEventKeyUp) |
                                 CGEventMaskBit(kCGEventFlagsChanged);
    CFMachPortRef tap = CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, options, mask,
                                         &tapCallback, monitor.get());
    if (!tap) {
        traceLog(TraceLevel::Fault,
                 "#Critical Unable to create event tap: make sure Accessibility is enabled");
        return nullptr;
    }
    monitor->eventTap_ = tap;
    monitor->eventTapSource_ = CFMachPortCreateRunLoopSource(nullptr, tap, 0);
    monitor->canActivelyFilterEvents_ = (options & kCGEventTapOptionListenOnly) == 0;
    monitor->eventTapRunLoop_ = runLoop;
    CFRunLoopAddSource(runLoop, monitor->eventTapSource_, kCFRunLoopDefaultMode);
    return monitor;
}

KRAXGlobalShortcutMonitor::~KRAXGlobalShortcutMonitor() {
    if (eventTap_) {
        CFMachPortInvalidate(eventTap_);
        CFRunLoopRemoveSource(eventTapRunLoop_, eventTapSource_, kCFRunLoopDefaultMode);
        CFRelease(eventTapSource_);
        CFRelease(eventTap_);
    }
    stopObservingActions();
}

void KRAXGlobalShortcutMonitor::didAddShortcut(const std::shared_ptr<KRShortcut>&) {
    if (!shortcuts().empty()) CGEventTapEnable(eventTap_, true);
}

void KRAXGlobalShortcutMonitor::willRemoveShortcut(const std::shared_ptr<KRShortcut>&) {
    if (shortcuts().size() == 1) CGEventTapEnable(eventTap_, false);
}

CGEventRef KRAXGlobalShortcutMonitor::tapCallback(CGEventTapProxy, CGEventType type, CGEventRef event,
                                                  void* userInfo) {
    auto* monitor = static_cast<KRAXGlobalShortcutMonitor*>(userInfo);
    if (type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput) {
        traceLog(TraceLevel::Error,
                 format("#Error #Developer The system disabled event tap due to %u", type));
        CGEventTapEnable(monitor->eventTap_, true);
        return event;
    }
    if (type != kCGEventKeyDown && type != kCGEventKeyUp && type != kCGEventFlagsChanged) {
        traceLog(TraceLevel::Error, format("#Error #Developer Unexpected event of type %u", type));
        return event;
    }
    return monitor->handleEvent(event);
}

CGEventRef KRAXGlobalShortcutMonitor::handleEvent(CGEventRef event) {
    TraceActivity activity("-[KRAXGlobalShortcutMonitor handleEvent:]");
    const CGEventType type = CGEventGetType(event);
    const auto keyCode = static_cast<uint16_t>(CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode));
    const NSEventModifierFlags flags = CGEventGetFlags(event) & KRModifierFlagsMask;
    auto shortcut = KRShortcut::shortcutWithCode(type == kCGEventFlagsChanged ? KRKeyCodeNone : keyCode,
                                                 flags, std::nullopt, std::nullopt);
    const KRKeyEventKind kind = KR_keyEventTypeForEventType(type, keyCode, flags);
    const auto actions = enabledActionsForShortcut(*shortcut, kind);
    bool performed = false;
    for (auto it = actions.rbegin(); it != actions.rend() && !performed; ++it)
        performed = (*it)->performActionOnTarget(nullptr);
    if (!performed) return event;
    if (!canActivelyFilterEvents_)
        traceLog(TraceLevel::Error,
                 "#Developer #Error The monitor is not configured to actively filter events");
    return nullptr;
}
