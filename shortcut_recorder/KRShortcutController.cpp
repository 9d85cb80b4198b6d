#include "shortcut_recorder/KRShortcutController.h"

#include "platform/carbon/TextInputSources.h"
#include "platform/foundation/DistributedNotificationCenter.h"
#include "platform/foundation/Exception.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"
#include "shortcut_recorder/KRKeyEquivalentTransformer.h"
#include "shortcut_recorder/KRModifierFlagsTransformer.h"
#include "shortcut_recorder/KRRecorderControl.h"
#include "shortcut_recorder/KRShortcutAction.h"

namespace {

constexpr std::string_view kSelectionPrefix = "selection.";

// The fields whose strings depend on the keyboard layout, in the order their change is announced.
const std::array<const char*, 5> kLayoutDependentKeyPaths = {
    "selection.keyEquivalent", "selection.literalKeyCode", "selection.symbolicKeyCode",
    "selection.literalASCIIKeyCode", "selection.symbolicASCIIKeyCode"};

}  // namespace

const std::array<const char*, 8>& KRShortcutController::computedKeys() {
    static const std::array<const char*, 8> keys = {
        "keyEquivalent",       "keyEquivalentModifierMask", "literalKeyCode",       "symbolicKeyCode",
        "literalASCIIKeyCode", "symbolicASCIIKeyCode",      "literalModifierFlags", "symbolicModifierFlags"};
    return keys;
}

std::shared_ptr<KRShortcutController> KRShortcutController::initWithContent(
    std::shared_ptr<KRShortcut> content) {
    std::shared_ptr<KRShortcutController> controller(new KRShortcutController());
    if (content)
        controller->setContent(AnyObject(std::move(content)));
    else
        controller->recomputeFields();
    return controller;
}

KRShortcutController::~KRShortcutController() {
    layoutObserver_.reset();
}

void KRShortcutController::selectionWillFinishChanging() {
    updateLayoutObserver();
    recomputeFields();
}

void KRShortcutController::recomputeFields() {
    auto shortcut = this->shortcut();
    if (!shortcut) {
        fields_.fill(AnyObject(NSNoSelectionMarker()));
        return;
    }
    AnyObject keyCode(Value(int64_t(shortcut->keyCode())));
    AnyObject flags(Value(int64_t(shortcut->modifierFlags())));
    // Built from the key code and flags alone, as a binding of "keyCode" and "modifierFlags" would.
    AnyObject plain(KRShortcut::shortcutWithCode(shortcut->keyCode(), shortcut->modifierFlags(), std::nullopt,
                                                 std::nullopt));
    fields_ = {
        KRKeyEquivalentTransformer::sharedTransformer()->transformedValue(plain),
        KRKeyEquivalentModifierMaskTransformer::sharedTransformer()->transformedValue(plain),
        KRLiteralKeyCodeTransformer::sharedTransformer()->transformedValue(keyCode),
        KRSymbolicKeyCodeTransformer::sharedTransformer()->transformedValue(keyCode),
        KRASCIILiteralKeyCodeTransformer::sharedTransformer()->transformedValue(keyCode),
        KRASCIISymbolicKeyCodeTransformer::sharedTransformer()->transformedValue(keyCode),
        KRLiteralModifierFlagsTransformer::sharedTransformer()->transformedValue(flags),
        KRSymbolicModifierFlagsTransformer::sharedTransformer()->transformedValue(flags),
    };
}

void KRShortcutController::updateLayoutObserver() {
    bool hasContent = !content().isNil();
    if (hasContent && !layoutObserver_) {
        layoutObserver_ = DistributedNotificationCenter::defaultCenter().addObserver(
            kTISNotifySelectedKeyboardInputSourceChanged,
            [this](const Notification&) { selectedKeyboardInputSourceDidChange(); });
    } else if (!hasContent) {
        layoutObserver_.reset();
    }
}

void KRShortcutController::selectedKeyboardInputSourceDidChange() {
    for (const char* keyPath : kLayoutDependentKeyPaths) willChangeValueForKey(keyPath);
    recomputeFields();
    for (auto it = kLayoutDependentKeyPaths.rbegin(); it != kLayoutDependentKeyPaths.rend(); ++it)
        didChangeValueForKey(*it);
}

AnyObject KRShortcutController::valueForKeyPath(std::string_view keyPath) const {
    if (keyPath.starts_with(kSelectionPrefix)) {
        auto key = keyPath.substr(kSelectionPrefix.size());
        for (size_t i = 0; i < computedKeys().size(); ++i)
            if (key == computedKeys()[i]) return fields_[i];
    }
    return NSObjectController::valueForKeyPath(keyPath);
}

AnyObject KRShortcutController::singleValueForKey(std::string_view key) const {
    for (size_t i = 0; i < computedKeys().size(); ++i)
        if (key == computedKeys()[i]) return fields_[i];
    if (auto shortcut = this->shortcut()) {
        // The shortcut's own properties, so "selection.keyCode" reads through.
        if (key == "keyCode") return AnyObject(Value(int64_t(shortcut->keyCode())));
        if (key == "modifierFlags") return AnyObject(Value(int64_t(shortcut->modifierFlags())));
    }
    return NSObjectController::singleValueForKey(key);
}

bool KRShortcutController::automaticallyNotifiesObserversForKey(std::string_view key) const {
    if (key == "shortcutAction" || key == "shortcutActionTarget") return false;
    return NSObjectController::automaticallyNotifiesObserversForKey(key);
}

void KRShortcutController::bind(const std::string& binding, NSObservedObject object,
                                std::optional<std::string> keyPath, std::optional<NSBindingOptions> options) {
    NSObjectController::bind(binding, std::move(object), std::move(keyPath), std::move(options));
    if (binding == NSContentObjectBinding) refreshValueBinding();
}

void KRShortcutController::setRecorderControl(const std::shared_ptr<KRRecorderControl>& control) {
    if (auto previous = recorderControl_.lock()) previous->unbind(NSValueBinding);
    recorderControl_ = control;
    refreshValueBinding();
}

void KRShortcutController::refreshValueBinding() {
    auto control = recorderControl_.lock();
    auto info = infoForBinding(NSContentObjectBinding);
    if (!control || !info) return;
    // Only the transformer travels along: the rest of the content binding's options are its own.
    std::optional<NSBindingOptions> options;
    if (info->options)
        options = NSBindingOptions{info->options->valueTransformer, info->options->valueTransformerName};
    control->bind(NSValueBinding, info->observedObject, info->observedKeyPath, options);
}

void KRShortcutController::setIdentifier(std::optional<std::string> identifier) {
    identifier_ = std::move(identifier);
    if (shortcutAction_) shortcutAction_->setIdentifier(identifier_);
}

std::shared_ptr<NSObject> KRShortcutController::shortcutActionTarget() const {
    return shortcutAction_ ? shortcutAction_->target() : nullptr;
}

void KRShortcutController::setShortcutActionTarget(const std::shared_ptr<NSObject>& target) {
    if (target == shortcutActionTarget()) return;
    willChangeValueForKey("shortcutActionTarget");
    if (target && shortcutAction_) {
        shortcutAction_->setTarget(target);
    } else if (target) {
        willChangeValueForKey("shortcutAction");
        shortcutAction_ = KRShortcutAction::shortcutActionWithKeyPath(
            "content", sharedAs<KRShortcutController>(), target, "", 0);
        shortcutAction_->setIdentifier(identifier_);
        KRGlobalShortcutMonitor::sharedMonitor()->addAction(shortcutAction_, KRKeyEventKindDown);
        didChangeValueForKey("shortcutAction");
    } else if (shortcutAction_) {
        willChangeValueForKey("shortcutAction");
        KRGlobalShortcutMonitor::sharedMonitor()->removeAction(shortcutAction_, KRKeyEventKindDown);
        shortcutAction_.reset();
        didChangeValueForKey("shortcutAction");
    }
    didChangeValueForKey("shortcutActionTarget");
}

AnyObject KRShortcutController::newObject() {
    throw Exception(NSInternalInconsistencyException, "newObject is not implemented");
}

void KRShortcutController::addObject(const AnyObject& object) {
    if (auto shortcut = object.object<KRShortcut>()) setContent(AnyObject(shortcut));
}

void KRShortcutController::removeObject(const AnyObject& object) {
    auto removed = object.object<KRShortcut>();
    if (removed && shortcut() && shortcut()->isEqual(removed.get())) setContent({});
}
