#include "shortcut_recorder/KRRecorderControl.h"

#include "platform/appkit/NSAccessibility.h"
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSPerformRequest.h"
#include "platform/appkit/NSWindow.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/SystemLog.h"
#include "platform/foundation/SystemTrace.h"
#include "platform/foundation/UnicodeText.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"
#include "shortcut_recorder/KRModifierFlagsTransformer.h"
#include "shortcut_recorder/KRShortcutAction.h"

namespace {

constexpr uint64_t kModifierMask = 0x1E0000;
constexpr uint64_t kShift = 0x20000, kControl = 0x40000, kOption = 0x80000, kCommand = 0x100000;
constexpr uint16_t kSpace = 49, kDelete = 51, kEscape = 53, kForwardDelete = 117;

constexpr const char* kCompatibilityWarning =
    "WARNING: Shortcut Recroder 2 compatibility mode enabled. Getters of objectValue and NSValueBinding will "
    "return an instance of NSDictionary.";

uint64_t masked(uint64_t flags) {
    return flags & kModifierMask;
}

// A toggle of `flag` when the event is the press or release of one of its keys.
struct ModifierKey {
    uint64_t flag;
    uint16_t left, right;
};
constexpr ModifierKey kModifierKeys[] = {
    {kCommand, 54, 55},
    {kOption, 61, 58},
    {kShift, 56, 60},
    {kControl, 62, 59},
};

}  // namespace

std::shared_ptr<KRRecorderControl> KRRecorderControl::initWithFrame(CGRect frame) {
    std::shared_ptr<KRRecorderControl> control(new KRRecorderControl(frame));
    control->initInternalState();
    return control;
}

std::shared_ptr<KRRecorderControl> KRRecorderControl::initWithCoder(bool archivedEnabled) {
    std::shared_ptr<KRRecorderControl> control(new KRRecorderControl(CGRectZero));
    control->setEnabled(archivedEnabled);  // what the superclass reads from the archive
    control->initInternalState();
    return control;
}

KRRecorderControl::KRRecorderControl(CGRect frame) : NSControl(frame) {}

KRRecorderControl::~KRRecorderControl() {
    // A commit answer still pending would reach a control that is gone.
    NSCancelPreviousPerformRequests(this);
}

void KRRecorderControl::initInternalState() {
    setEnabled(true);
    compatibilityMode_ = false;
    mouseTrackingButtonTag_ = KRRecorderControlNoButton;
    cancelButtonToolTipTag_ = KRRecorderControlNoToolTip;
    clearButtonToolTipTag_ = KRRecorderControlNoToolTip;
    objectValue_.reset();
    lastSeenModifierFlags_ = 0;
    isLazilyInitializingStyle_ = false;
    didPauseGlobalShortcutMonitor_ = false;
    refusesFirstResponder_ = false;
    allowsEmptyModifierFlags_ = false;
    drawsASCIIEquivalentOfShortcut_ = true;
    allowsEscapeToCancelRecording_ = true;
    allowsDeleteToClear_ = true;
    pausesGlobalMonitor_ = true;
    stringValueRespectsDirection_ = false;
    allowsModifierFlagsOnlyShortcut_ = false;
    isRecording_ = false;
    tag_ = 0;
    allowedModifierFlags_ = kModifierMask;
    requiredModifierFlags_ = 0;
    setTranslatesAutoresizingMaskIntoConstraints(false);
    setContentHuggingPriority(251, NSLayoutConstraintOrientation::Horizontal);
    setContentHuggingPriority(750, NSLayoutConstraintOrientation::Vertical);
    setContentCompressionResistancePriority(750, NSLayoutConstraintOrientation::Horizontal);
    setContentCompressionResistancePriority(750, NSLayoutConstraintOrientation::Vertical);
}

namespace {
KRRecorderControl::DefaultStyleFactory& defaultStyleFactory() {
    static auto* factory = [] {
        auto* made = new KRRecorderControl::DefaultStyleFactory;
        registerResetForTesting([] { defaultStyleFactory() = nullptr; });
        return made;
    }();
    return *factory;
}
}  // namespace

std::shared_ptr<KRRecorderControlStyling> KRRecorderControl::makeDefaultStyle() {
    if (const auto& factory = defaultStyleFactory()) return factory();
    return KRRecorderControlStyle::init();
}

void KRRecorderControl::setDefaultStyleFactoryForTesting(DefaultStyleFactory factory) {
    defaultStyleFactory() = std::move(factory);
}

std::shared_ptr<KRRecorderControlStyling> KRRecorderControl::style() {
    if (!style_) {
        isLazilyInitializingStyle_ = true;
        setStyle(makeDefaultStyle());
        isLazilyInitializingStyle_ = false;
    }
    return style_;
}

void KRRecorderControl::setStyle(std::shared_ptr<KRRecorderControlStyling> style) {
    if (!style) style = makeDefaultStyle();
    if (style == style_) return;
    attachStyle(style->copy());
}

void KRRecorderControl::attachStyle(std::shared_ptr<KRRecorderControlStyling> style) {
    NSCancelPreviousPerformRequests(this);
    if (style_) style_->prepareForRemoval();
    style_ = std::move(style);
    style_->prepareForRecorderControl(sharedAs<NSView>());
    if (labelWidthConstraint_) labelWidthConstraint_->setActive(false);
    labelWidthConstraint_ = style_->labelDrawingGuide()->widthAnchor().constraintEqualToConstant(0);
    labelWidthConstraint_->setPriority(NSLayoutPriorityDefaultHigh + 1);
    labelWidthConstraint_->setActive(true);
    // The look the style prefers is the control's own from the start.
    auto preferred = style_->preferredComponents();
    uint64_t appearance = preferred ? preferred->appearance() : 0;
    setAppearance(appearance
                      ? NSAppearance::appearanceNamed(KRAppearanceNameForComponentsAppearance(appearance))
                      : nullptr);
    if (isRecording_)
        setToolTip(style_->recordingTooltip().value_or(KRLocalizedString("Press keys now")));
    else
        setToolTip(style_->normalTooltip().value_or(KRLocalizedString("Click to record shortcut")));
}

NSUserInterfaceLayoutDirection KRRecorderControl::userInterfaceLayoutDirection() const {
    if (storedLayoutDirection_) return *storedLayoutDirection_;
    if (!isLazilyInitializingStyle_ && style_) {
        if (auto preferred = style_->preferredComponents(); preferred && preferred->layoutDirection())
            return KRUserInterfaceLayoutDirectionForComponentsLayoutDirection(preferred->layoutDirection());
    }
    return NSControl::userInterfaceLayoutDirection();
}

void KRRecorderControl::setUserInterfaceLayoutDirection(NSUserInterfaceLayoutDirection direction) {
    if (storedLayoutDirection_ == direction) return;
    storedLayoutDirection_ = direction;
    scheduleControlViewAppearanceDidChange(nullptr);
}

void KRRecorderControl::scheduleControlViewAppearanceDidChange(const void* reason) {
    if (!style_) return;
    NSCancelPreviousPerformRequests(this);
    pendingAppearanceReason_ = reason;
    std::weak_ptr<KRRecorderControl> weak = sharedAs<KRRecorderControl>();
    NSPerformAfterDelay(this, 0, [weak] {
        if (auto self = weak.lock(); self && self->style_)
            self->style_->recorderControlAppearanceDidChange(self->pendingAppearanceReason_);
    });
}

void KRRecorderControl::controlTintDidChange(const Notification& notification) {
    scheduleControlViewAppearanceDidChange(&notification);
}

void KRRecorderControl::accessibilityDisplayOptionsDidChange(const Notification& notification) {
    scheduleControlViewAppearanceDidChange(&notification);
}

void KRRecorderControl::viewDidChangeBackingProperties() {
    scheduleControlViewAppearanceDidChange(nullptr);
}

void KRRecorderControl::viewDidChangeEffectiveAppearance() {
    scheduleControlViewAppearanceDidChange(nullptr);
}

// --- Value ---------------------------------------------------------------------------------------

AnyObject KRRecorderControl::objectValue() const {
    if (!compatibilityMode_) return AnyObject(objectValue_);
    if (!objectValue_) return AnyObject();
    return AnyObject(Value(objectValue_->dictionaryRepresentation()));
}

std::optional<Dictionary> KRRecorderControl::dictionaryValue() const {
    if (!objectValue_) return std::nullopt;
    return objectValue_->dictionaryRepresentation();
}

void KRRecorderControl::setDictionaryValue(const std::optional<Dictionary>& dictionary) {
    setObjectValue(dictionary ? AnyObject(KRShortcut::shortcutWithDictionary(*dictionary)) : AnyObject());
}

void KRRecorderControl::enableCompatibilityMode() {
    NSLog("%s", kCompatibilityWarning);
    compatibilityMode_ = true;
}

void KRRecorderControl::setObjectValue(const AnyObject& value) {
    std::shared_ptr<KRShortcut> shortcut = value.object<KRShortcut>();
    const Dictionary* dictionary = value.value() ? value.value()->asDictionary() : nullptr;
    // Anything else (a string, a number, another object) is no shortcut: clearing the held one for
    // it would lose the user's value.
    if (!shortcut && !dictionary && !value.isNil() && !(value.value() && value.value()->isNull())) {
        traceLog(TraceLevel::Error, "#Error Not a shortcut value");
        return;
    }
    if (!dictionary && !shortcut && !objectValue_) return;  // nil or NSNull onto nothing
    if (shortcut && objectValue_ && (shortcut == objectValue_ || shortcut->isEqual(objectValue_.get())))
        return;
    if (dictionary && objectValue_ && objectValue_->isEqualToDictionary(*dictionary)) return;

    willChangeValueForKey("objectValue");
    if (dictionary) {
        if (!objectValue_ && !compatibilityMode_) enableCompatibilityMode();
        shortcut = KRShortcut::shortcutWithDictionary(*dictionary);
    }
    objectValue_ = shortcut ? shortcut->copy() : nullptr;
    didChangeValueForKey("objectValue");

    propagateValue(objectValue(), NSValueBinding);

    if (!isRecording_) {
        NSAccessibilityPostNotification(this, NSAccessibilityTitleChangedNotification);
        NSAccessibilityPostNotification(this, NSAccessibilityValueChangedNotification);
        markLabelForDisplay();
        updateLabelConstraints();
    }
}

void KRRecorderControl::setValue(const AnyObject& value) {
    if (NSIsControllerMarker(value))
        throw Exception(NSInternalInconsistencyException,
                        "KRRecorderControl's NSValueBinding does not support controller value markers.");
    setObjectValue(value);
}

std::string KRRecorderControl::stringValue() const {
    if (!objectValue_) return KRLocalizedString("");
    auto direction = stringValueRespectsDirection_ ? userInterfaceLayoutDirection()
                                                   : NSUserInterfaceLayoutDirection::LeftToRight;
    uint64_t flags = objectValue_->modifierFlags();
    std::string modifiers = KRSymbolicModifierFlagsTransformer::sharedTransformer()
                                ->transformedValue(Value(flags), direction)
                                .value_or("");
    auto keys = keyCodeTransformer();
    auto key = keys->transformedValue(Value(uint64_t(objectValue_->keyCode())), AnyObject(), Value(flags),
                                      direction);
    std::string keyText = key ? *key : "<" + std::to_string(objectValue_->keyCode()) + ">";
    return direction == NSUserInterfaceLayoutDirection::RightToLeft ? keyText + modifiers
                                                                    : modifiers + keyText;
}

std::shared_ptr<KRKeyCodeTransformer> KRRecorderControl::keyCodeTransformer() const {
    if (drawsASCIIEquivalentOfShortcut_) return KRASCIILiteralKeyCodeTransformer::sharedTransformer();
    return KRLiteralKeyCodeTransformer::sharedTransformer();
}

void KRRecorderControl::setStringValue(const std::string& string) {
    setObjectValue(AnyObject(KRShortcut::shortcutWithKeyEquivalent(string)));
}

// --- Modifier rules ------------------------------------------------------------------------------

void KRRecorderControl::setAllowedModifierFlags(uint64_t allowed, uint64_t required, bool allowsEmpty) {
    allowed = masked(allowed);
    required = masked(required);
    if (required & ~allowed)
        throw Exception(NSInvalidArgumentException, "Required flags (" + std::to_string(required) +
                                                        ") MUST be allowed (" + std::to_string(allowed) +
                                                        ")");
    if (allowsEmpty && required)
        throw Exception(NSInvalidArgumentException,
                        "Empty modifier flags MUST be disallowed if required modifier flags are not empty.");
    if (allowed == allowedModifierFlags_ && required == requiredModifierFlags_ &&
        allowsEmpty == allowsEmptyModifierFlags_)
        return;
    endRecording();
    for (const char* key : {"allowedModifierFlags", "requiredModifierFlags", "allowsEmptyModifierFlags"})
        willChangeValueForKey(key);
    allowedModifierFlags_ = allowed;
    requiredModifierFlags_ = required;
    allowsEmptyModifierFlags_ = allowsEmpty;
    for (const char* key : {"allowedModifierFlags", "requiredModifierFlags", "allowsEmptyModifierFlags"})
        didChangeValueForKey(key);
}

bool KRRecorderControl::areModifierFlagsValid(uint64_t flags, uint16_t keyCode) {
    TraceActivity activity("-[KRRecorderControl areModifierFlagsValid:forKeyCode:]");
    flags = masked(flags);
    return (flags & requiredModifierFlags_) == requiredModifierFlags_ &&
           areModifierFlagsAllowed(flags, keyCode);
}

bool KRRecorderControl::areModifierFlagsAllowed(uint64_t flags, uint16_t keyCode) {
    TraceActivity activity("-[KRRecorderControl areModifierFlagsAllowed:forKeyCode:]");
    flags = masked(flags);
    if (flags == 0 && allowsEmptyModifierFlags_) return true;
    if (flags != 0 && (flags & allowedModifierFlags_) == flags) return true;
    auto delegate = this->delegate();
    if (!delegate) return false;
    if (auto answer = delegate->recorderControlShouldUnconditionallyAllowModifierFlags(*this, flags, keyCode))
        return *answer;
    return delegate->keyRecorderShouldUnconditionallyAllowModifierFlags(*this, flags, keyCode)
        .value_or(false);
}

// --- Recording -----------------------------------------------------------------------------------

bool KRRecorderControl::canEndRecordingWithObjectValue(const KRShortcut& shortcut) {
    TraceActivity activity("-[KRRecorderControl canEndRecordingWithObjectValue:]");
    if (!areModifierFlagsValid(shortcut.modifierFlags(), shortcut.keyCode())) {
        traceLogFormat(TraceLevel::Debug, "Modifier flags %lu rejected",
                       (unsigned long)shortcut.modifierFlags());
        return false;
    }
    bool accepted = true;
    if (auto delegate = this->delegate()) {
        if (auto answer = delegate->recorderControlCanRecordShortcut(*this, shortcut))
            accepted = *answer;
        else if (auto legacy =
                     delegate->keyRecorderCanRecordShortcut(*this, shortcut.dictionaryRepresentation()))
            accepted = *legacy;
        else if (auto generic = delegate->controlIsValidObject(*this, shortcut))
            accepted = *generic;
    }
    traceLog(TraceLevel::Debug, accepted ? "Valid and accepted shortcut" : "Delegate rejected");
    return accepted;
}

bool KRRecorderControl::canCaptureKeyEvent() {
    if (!isEnabled()) {
        traceLog(TraceLevel::Debug, "The control is disabled");
        return false;
    }
    if (!window() || window()->firstResponder() != this) {
        traceLog(TraceLevel::Debug, "The control is not the first responder");
        return false;
    }
    if (mouseTrackingButtonTag_ != KRRecorderControlNoButton) {
        traceLogFormat(TraceLevel::Debug, "The control is tracking %lu",
                       (unsigned long)mouseTrackingButtonTag_);
        return false;
    }
    return true;
}

void KRRecorderControl::playAlert() {
    NSBeep();
}

std::shared_ptr<NSObject> KRRecorderControl::boundObject() const {
    auto info = infoForBinding(NSValueBinding);
    return info ? info->observedObject.object : nullptr;
}

void KRRecorderControl::tellBoundObject(const char* selector) {
    if (auto bound = boundObject(); bound && bound->respondsToSelector(selector))
        bound->invokeSelector(selector, this);
}

void KRRecorderControl::postLayoutAndTitleChanged() {
    NSAccessibilityPostNotificationWithUIElements(this, NSAccessibilityLayoutChangedNotification, {this});
    NSAccessibilityPostNotification(this, NSAccessibilityTitleChangedNotification);
}

void KRRecorderControl::updateForRecordingState() {
    setNeedsDisplay(true);
    updateActiveConstraints();
    updateLabelConstraints();
    updateTrackingAreas();
}

bool KRRecorderControl::beginRecording() {
    TraceActivity activity("-[KRRecorderControl beginRecording]");
    if (!isEnabled()) return false;
    if (isRecording_) return true;
    bool should = true;
    if (auto delegate = this->delegate()) {
        if (auto answer = delegate->recorderControlShouldBeginRecording(*this))
            should = *answer;
        else
            should = delegate->keyRecorderShouldBeginRecording(*this).value_or(true);
    }
    if (!should || !window() || !window()->makeFirstResponder(this)) {
        playAlert();
        return false;
    }
    lastSeenModifierFlags_ = masked(NSEvent::currentModifierFlags()) & allowedModifierFlags_;
    willChangeValueForKey("isRecording");
    isRecording_ = true;
    didChangeValueForKey("isRecording");
    updateForRecordingState();
    setToolTip(style()->recordingTooltip().value_or(KRLocalizedString("Press keys now")));
    if (pausesGlobalMonitor_) {
        didPauseGlobalShortcutMonitor_ = true;
        KRGlobalShortcutMonitor::sharedMonitor()->pause();
    }
    tellBoundObject("objectDidBeginEditing:");
    if (auto delegate = this->delegate()) delegate->recorderControlDidBeginRecording(*this);
    postLayoutAndTitleChanged();
    return true;
}

void KRRecorderControl::endRecording() {
    TraceActivity activity("-[KRRecorderControl endRecording]");
    endRecordingWithObjectValue(objectValue_);
}

void KRRecorderControl::clearAndEndRecording() {
    TraceActivity activity("-[KRRecorderControl clearAndEndRecording]");
    endRecordingWithObjectValue(nullptr);
}

void KRRecorderControl::endRecordingWithObjectValue(const std::shared_ptr<KRShortcut>& value) {
    TraceActivity activity("-[KRRecorderControl endRecordingWithObjectValue:]");
    if (!isRecording_) return;
    willChangeValueForKey("isRecording");
    isRecording_ = false;
    didChangeValueForKey("isRecording");
    setObjectValue(AnyObject(value));
    lastSeenModifierFlags_ = 0;
    updateForRecordingState();
    setToolTip(style()->normalTooltip().value_or(KRLocalizedString("Click to record shortcut")));
    if (didPauseGlobalShortcutMonitor_) {
        didPauseGlobalShortcutMonitor_ = false;
        KRGlobalShortcutMonitor::sharedMonitor()->resume();
    }
    tellBoundObject("objectDidEndEditing:");
    if (window() && window()->firstResponder() == this && !canBecomeKeyView())
        window()->makeFirstResponder(nullptr);
    if (auto delegate = this->delegate()) {
        if (!delegate->recorderControlDidEndRecording(*this)) delegate->keyRecorderDidEndRecording(*this);
    }
    sendAction();
    postLayoutAndTitleChanged();
}

// --- Keyboard and responder ----------------------------------------------------------------------

bool KRRecorderControl::performKeyEquivalent(const NSEvent& event) {
    TraceActivity activity("-[KRRecorderControl performKeyEquivalent:]");
    if (!canCaptureKeyEvent()) return false;
    uint16_t keyCode = event.keyCode();
    if (!isRecording_) {
        if (keyCode != kSpace) return false;
        traceLog(TraceLevel::Debug, "Begin recording via Space");
        return beginRecording();
    }
    if (keyCode == KRKeyCodeNone) {
        traceLog(TraceLevel::Debug, "Invalid key code");
        return false;
    }
    bool bare = masked(event.modifierFlags()) == 0;
    if (allowsEscapeToCancelRecording_ && keyCode == kEscape && bare) {
        traceLog(TraceLevel::Debug, "Cancel via Esc");
        endRecording();
        return true;
    }
    if (allowsDeleteToClear_ && (keyCode == kDelete || keyCode == kForwardDelete) && bare) {
        traceLog(TraceLevel::Debug, "Clear via Delete");
        clearAndEndRecording();
        return true;
    }
    auto shortcut = KRShortcut::shortcutWithEvent(event);
    if (shortcut && canEndRecordingWithObjectValue(*shortcut))
        endRecordingWithObjectValue(shortcut);
    else
        playAlert();
    return true;
}

void KRRecorderControl::keyDown(const NSEvent& event) {
    if (!performKeyEquivalent(event)) NSControl::keyDown(event);
}

void KRRecorderControl::flagsChanged(const NSEvent& event) {
    if (isRecording_ && canCaptureKeyEvent()) {
        uint64_t flags = masked(event.modifierFlags());
        if (!allowsModifierFlagsOnlyShortcut_) {
            if (areModifierFlagsAllowed(flags, KRKeyCodeNone))
                lastSeenModifierFlags_ = flags;
            else
                playAlert();
        } else {
            uint64_t shown = lastSeenModifierFlags_;
            const ModifierKey* toggled = nullptr;
            for (const auto& key : kModifierKeys)
                if ((flags & key.flag) && (event.keyCode() == key.left || event.keyCode() == key.right)) {
                    toggled = &key;
                    break;
                }
            if (toggled) {
                uint64_t next = shown ^ toggled->flag;
                if (next == shown || areModifierFlagsAllowed(next, KRKeyCodeNone))
                    lastSeenModifierFlags_ = next;
                else
                    playAlert();
            } else if (flags == 0 && shown != 0) {
                auto shortcut =
                    KRShortcut::shortcutWithCode(KRKeyCodeNone, shown, std::nullopt, std::nullopt);
                if (canEndRecordingWithObjectValue(*shortcut)) endRecordingWithObjectValue(shortcut);
            }
        }
        markLabelForDisplay();
        updateLabelConstraints();
    }
    NSControl::flagsChanged(event);
}

bool KRRecorderControl::acceptsFirstResponder() const {
    return isEnabled() && !refusesFirstResponder_;
}

bool KRRecorderControl::resignFirstResponder() {
    endRecording();
    mouseTrackingButtonTag_ = KRRecorderControlNoButton;
    return NSControl::resignFirstResponder();
}

bool KRRecorderControl::canBecomeKeyView() const {
    return acceptsFirstResponder() && !isHiddenOrHasHiddenAncestor() &&
           NSApplication::sharedApplication()->isFullKeyboardAccessEnabled();
}

void KRRecorderControl::prepareForReuse() {
    endRecording();
}

void KRRecorderControl::viewWillMoveToWindow(NSWindow* window) {
    windowObservers_.clear();
    if (!window) return;
    // The tokens go with the control, so `this` is never called once the control is gone.
    auto& center = NotificationCenter::defaultCenter();
    windowObservers_.push_back(center.addObserver(
        NSWindowDidResignKeyNotification, [this](const Notification&) { endRecording(); }, window));
    windowObservers_.push_back(center.addObserver(
        NSControlTintDidChangeNotification, [this](const Notification& n) { controlTintDidChange(n); },
        NSApplication::sharedApplication().get()));
    windowObservers_.push_back(NSWorkspace::sharedWorkspace()->notificationCenter().addObserver(
        NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification,
        [this](const Notification& n) { accessibilityDisplayOptionsDidChange(n); }));
}

void KRRecorderControl::markLabelForDisplay() {
    CGRect label = style()->labelDrawingGuide()->frame();
    if (!NSIsEmptyRect(label)) setNeedsDisplayInRect(label);
}

// --- Bindings ------------------------------------------------------------------------------------

std::vector<std::string> KRRecorderControl::exposedBindings() {
    return {NSValueBinding};
}

std::vector<std::string> KRRecorderControl::optionDescriptionsForBinding(const std::string& binding) {
    if (binding != NSValueBinding) return {};
    return {NSValueTransformerBindingOption, NSValueTransformerNameBindingOption};
}

void KRRecorderControl::bind(const std::string& binding, NSObservedObject object,
                             std::optional<std::string> keyPath, std::optional<NSBindingOptions> options) {
    bindings_.bind(binding, std::move(object), std::move(keyPath), std::move(options));
}

void KRRecorderControl::propagateValue(AnyObject value, const std::optional<std::string>& binding) {
    NSAssert(binding.has_value(), "Invalid parameter not satisfying: aBinding != nil");
    auto info = infoForBinding(*binding);
    if (!info) return;
    if (info->observedObject.isNil())
        throw Exception(NSInternalInconsistencyException,
                        "NSObservedObjectKey MUST NOT be nil for binding \"" + *binding + "\"");
    if (!info->observedKeyPath)
        throw Exception(NSInternalInconsistencyException,
                        "NSObservedKeyPathKey MUST NOT be nil for binding \"" + *binding + "\"");
    if (info->options) {
        std::shared_ptr<NSValueTransformer> transformer = info->options->valueTransformer;
        if (!transformer && info->options->valueTransformerName)
            transformer = NSValueTransformer::valueTransformerForName(*info->options->valueTransformerName);
        if (transformer) {
            if (transformer->allowsReverseTransformation())
                value = transformer->reverseTransformedValue(value);
            else
                NSLog(
                    "WARNING: binding \"%s\" has value transformer, but it doesn't allow reverse "
                    "transformations in %s",
                    binding->c_str(), "-[KRRecorderControl propagateValue:forBinding:]");
        }
    }
    // The preferences store property lists only: a shortcut goes there in its dictionary form.
    if (auto shortcut = value.object<KRShortcut>();
        shortcut && !compatibilityMode_ && info->observedObject.isUserDefaults()) {
        traceLog(TraceLevel::Error,
                 "#Error The control is bound to NSUserDefaults but is not transformed into an allowed "
                 "CFPreferences "
                 "value");
        enableCompatibilityMode();
        value = AnyObject(Value(shortcut->dictionaryRepresentation()));
    }
    info->observedObject.setValueForKeyPath(value, *info->observedKeyPath);
}

// --- Editing -------------------------------------------------------------------------------------

bool KRRecorderControl::commitEditing() {
    discardEditing();
    return true;
}

bool KRRecorderControl::commitEditingAndReturnError(Error*) {
    return commitEditing();
}

void KRRecorderControl::commitEditingWithDelegate(std::function<void(KRRecorderControl&, bool)> didCommit) {
    bool committed = commitEditing();
    std::weak_ptr<KRRecorderControl> weak = sharedAs<KRRecorderControl>();
    NSPerformAfterDelay(this, 0, [weak, didCommit = std::move(didCommit), committed] {
        if (auto self = weak.lock(); self && didCommit) didCommit(*self, committed);
    });
}

bool KRRecorderControl::abortEditing() {
    endRecording();
    return false;
}

// --- Accessibility -------------------------------------------------------------------------------

std::string KRRecorderControl::accessibilityRole() const {
    return NSAccessibilityButtonRole;
}

std::string KRRecorderControl::accessibilityRoleDescription() const {
    return lowercaseString(KRLocalizedString(isRecording_ ? "Press keys now" : "Shortcut"));
}

std::optional<std::string> KRRecorderControl::accessibilityLabel() const {
    if (!isRecording_) return std::nullopt;
    return KRLiteralModifierFlagsTransformer::sharedTransformer()->transformedValue(
        Value(lastSeenModifierFlags_), NSUserInterfaceLayoutDirection::LeftToRight);
}

std::optional<std::string> KRRecorderControl::accessibilityValue() const {
    if (isRecording_) return std::nullopt;
    if (!objectValue_) return KRLocalizedString("Not set");
    std::string modifiers = KRLiteralModifierFlagsTransformer::sharedTransformer()
                                ->transformedValue(Value(objectValue_->modifierFlags()),
                                                   NSUserInterfaceLayoutDirection::LeftToRight)
                                .value_or("");
    auto keys = keyCodeTransformer();
    AnyObject key = keys->transformedValue(AnyObject(Value(uint64_t(objectValue_->keyCode()))));
    std::string keyText = key.string() ? *key.string() : std::to_string(objectValue_->keyCode());
    return modifiers.empty() ? keyText : modifiers + "-" + keyText;
}

bool KRRecorderControl::accessibilityPerformCancel() {
    if (!isRecording_) return false;
    endRecording();
    return true;
}

bool KRRecorderControl::accessibilityPerformDelete() {
    if (!isRecording_ || !objectValue_) return false;
    clearAndEndRecording();
    return true;
}

void KRRecorderControl::prepareForInterfaceBuilder() {
    setObjectValue(AnyObject(KRShortcut::shortcutWithCode(0, kModifierMask, "", "a")));
}

// --- Key-value observing -------------------------------------------------------------------------

AnyObject KRRecorderControl::valueForKeyPath(std::string_view keyPath) const {
    if (keyPath == "objectValue" || keyPath == "value") return objectValue();
    if (keyPath == "dictionaryValue") {
        auto dictionary = dictionaryValue();
        return dictionary ? AnyObject(Value(*dictionary)) : AnyObject();
    }
    if (keyPath == "stringValue" || keyPath == "attributedStringValue")
        return AnyObject(Value(stringValue()));
    if (keyPath == "isRecording") return AnyObject(Value(isRecording_));
    if (keyPath == "allowedModifierFlags") return AnyObject(Value(allowedModifierFlags_));
    if (keyPath == "requiredModifierFlags") return AnyObject(Value(requiredModifierFlags_));
    if (keyPath == "allowsEmptyModifierFlags") return AnyObject(Value(allowsEmptyModifierFlags_));
    return NSKeyValueObserving::valueForKeyPath(keyPath);
}

bool KRRecorderControl::automaticallyNotifiesObserversForKey(std::string_view key) const {
    if (key == "value" || key == "objectValue" || key == "stringValue" || key == "attributedStringValue")
        return false;
    return NSKeyValueObserving::automaticallyNotifiesObserversForKey(key);
}

std::vector<std::string> KRRecorderControl::keyPathsForValuesAffectingValueForKey(
    std::string_view key) const {
    if (key == "dictionaryValue") return {"objectValue"};
    if (key == "stringValue")
        return {"objectValue", "userInterfaceLayoutDirection",
                "stringValueRespectsUserInterfaceLayoutDirection"};
    if (key == "attributedStringValue") return {"stringValue"};
    if (key == "userInterfaceLayoutDirection") return {"style"};
    return NSKeyValueObserving::keyPathsForValuesAffectingValueForKey(key);
}

// --- Layout --------------------------------------------------------------------------------------

CGFloat KRRecorderControl::baselineOffsetFromBottom() const {
    if (!style_) return 0;
    return style_->baselineLayoutOffsetFromBottom().value_or(style_->baselineDrawingOffsetFromBottom());
}

CGFloat KRRecorderControl::firstBaselineOffsetFromTop() const {
    if (!style_) return 0;
    return style_->alignmentGuide()->frame().size.height - baselineOffsetFromBottom();
}

void KRRecorderControl::updateConstraints() {
    updateActiveConstraints();
    updateLabelConstraints();
    NSView::updateConstraints();
}

void KRRecorderControl::updateActiveConstraints() {
    requestedUpdates_.push_back("updateActiveConstraints");
    auto style = this->style();
    NSLayoutConstraint::activateConstraints(style->alwaysConstraints());
    if (isRecording_ && objectValue_) {
        NSLayoutConstraint::deactivateConstraints(style->displayingConstraints());
        NSLayoutConstraint::deactivateConstraints(style->recordingWithNoValueConstraints());
        NSLayoutConstraint::activateConstraints(style->recordingWithValueConstraints());
    } else {
        NSLayoutConstraint::deactivateConstraints(isRecording_ ? style->displayingConstraints()
                                                               : style->recordingWithNoValueConstraints());
        NSLayoutConstraint::deactivateConstraints(style->recordingWithValueConstraints());
        NSLayoutConstraint::activateConstraints(isRecording_ ? style->recordingWithNoValueConstraints()
                                                             : style->displayingConstraints());
    }
}

void KRRecorderControl::updateLabelConstraints() {
    requestedUpdates_.push_back("updateLabelConstraints");
    style();
    std::string label = drawingLabel();
    const KRLabelAttributes* attributes = drawingLabelAttributes();
    TextAttributes text = attributes ? attributes->text : TextAttributes{};
    CGFloat width = NSStringSize(label, text).width;
    CGFloat minimal = attributes ? attributes->minimalDrawableWidth : 0;
    labelWidthConstraint_->setConstant(std::ceil(std::max(minimal, width) + 2.0));
}

// --- Drawing -------------------------------------------------------------------------------------

std::string KRRecorderControl::drawingLabel() {
    auto style = this->style();
    std::string label;
    if (isRecording_) {
        if (lastSeenModifierFlags_) {
            auto direction = stringValueRespectsDirection_ ? userInterfaceLayoutDirection()
                                                           : NSUserInterfaceLayoutDirection::LeftToRight;
            label = KRSymbolicModifierFlagsTransformer::sharedTransformer()
                        ->transformedValue(Value(lastSeenModifierFlags_), direction)
                        .value_or("");
        } else {
            label = stringValue();
        }
        if (label.empty())
            label = style->noValueRecordingLabel().value_or(KRLocalizedString("Press keys now"));
    } else {
        label = stringValue();
        if (label.empty()) label = style->noValueNormalLabel().value_or(KRLocalizedString("Record Shortcut"));
    }
    return label;
}

const KRLabelAttributes* KRRecorderControl::drawingLabelAttributes() {
    auto style = this->style();
    if (!isEnabled()) return style->disabledLabelAttributes();
    return isRecording_ ? style->recordingLabelAttributes() : style->normalLabelAttributes();
}

bool KRRecorderControl::shouldDraw(const CGRect& frame, const CGRect& dirtyRect) const {
    return !NSIsEmptyRect(frame) && CGRectIntersectsRect(frame, dirtyRect);
}

void KRRecorderControl::drawRect(const CGRect& dirtyRect) {
    drawBackground(dirtyRect);
    drawInterior(dirtyRect);
}

void KRRecorderControl::drawBackground(const CGRect& dirtyRect) {
    auto style = this->style();
    auto guide = style->backgroundDrawingGuide();
    CGRect frame = centerScanRect(guide ? guide->frame() : bounds());
    if (!shouldDraw(frame, dirtyRect)) return;
    auto* context = NSGraphicsContext::currentContext();
    if (context) context->saveGraphicsState();
    ImagePtr left, center, right;
    if (isRecording_) {
        left = style->bezelRecordingLeft(), center = style->bezelRecordingCenter(),
        right = style->bezelRecordingRight();
    } else if (isMainButtonHighlighted()) {
        left = style->bezelPressedLeft(), center = style->bezelPressedCenter(),
        right = style->bezelPressedRight();
    } else if (isEnabled()) {
        left = style->bezelNormalLeft(), center = style->bezelNormalCenter(),
        right = style->bezelNormalRight();
    } else {
        left = style->bezelDisabledLeft(), center = style->bezelDisabledCenter(),
        right = style->bezelDisabledRight();
    }
    if (left && center && right) {
        traceLog(TraceLevel::Debug, "#Developer drawing background using images");
        NSDrawThreePartImage(frame, *left, *center, *right);
    } else {
        traceLog(TraceLevel::Debug, "#Developer drawing background using color");
        (isOpaque() ? NSColor::windowBackgroundColor() : NSColor::clearColor()).setFill();
        NSRectFill(CGRectIntersection(frame, dirtyRect));
    }
    if (context) context->restoreGraphicsState();
}

void KRRecorderControl::drawInterior(const CGRect& dirtyRect) {
    drawLabel(dirtyRect);
    if (!isRecording_) return;
    drawCancelButton(dirtyRect);
    if (objectValue_) drawClearButton(dirtyRect);
}

void KRRecorderControl::drawLabel(const CGRect& dirtyRect) {
    auto style = this->style();
    CGRect frame = style->labelDrawingGuide()->frame();
    if (!shouldDraw(frame, dirtyRect)) return;
    CGFloat baseline =
        style->baselineLayoutOffsetFromBottom().value_or(style->baselineDrawingOffsetFromBottom());
    CGRect rect = frame;
    rect.origin.y = frame.origin.y + frame.size.height - baseline;
    // Outward on the minimum edges, inward on the maximum ones: whole points that stay inside.
    CGFloat minX = std::floor(rect.minX()), minY = std::floor(rect.minY());
    CGRect aligned{minX, minY, std::max(0.0, std::floor(rect.maxX()) - minX),
                   std::max(0.0, std::floor(rect.maxY()) - minY)};
    const KRLabelAttributes* attributes = drawingLabelAttributes();
    CGFloat minimal = attributes ? attributes->minimalDrawableWidth : 0;
    if (aligned.size.width < minimal) return;
    NSStringDraw(drawingLabel(), aligned, 0, attributes ? attributes->text : TextAttributes{});
}

void KRRecorderControl::drawButton(const GuidePtr& guide, const ImagePtr& image) {
    CGRect frame = centerScanRect(guide ? guide->frame() : CGRectZero);
    if (NSIsEmptyRect(frame) || !image) return;
    image->drawInRect(frame);
}

void KRRecorderControl::drawCancelButton(const CGRect& dirtyRect) {
    auto style = this->style();
    auto guide = style->cancelButtonDrawingGuide();
    if (!guide || !shouldDraw(centerScanRect(guide->frame()), dirtyRect)) return;
    drawButton(guide, isCancelButtonHighlighted() ? style->cancelButtonPressed() : style->cancelButton());
}

void KRRecorderControl::drawClearButton(const CGRect& dirtyRect) {
    auto style = this->style();
    auto guide = style->clearButtonDrawingGuide();
    if (!guide || !shouldDraw(centerScanRect(guide->frame()), dirtyRect)) return;
    drawButton(guide, isClearButtonHighlighted() ? style->clearButtonPressed() : style->clearButton());
}

NSBezierPath KRRecorderControl::focusRingShape() {
    auto style = this->style();
    auto guide = style->backgroundDrawingGuide();
    CGRect frame = guide ? guide->frame() : bounds();
    NSEdgeInsets a = style->alignmentRectInsets();
    NSEdgeInsets f = style->focusRingInsets().value_or(NSEdgeInsets{});
    CGSize radius = style->focusRingCornerRadius().value_or(CGSize{});
    CGRect shape{frame.origin.x + a.left + f.left, frame.origin.y + a.top + f.top,
                 std::max(0.0, frame.size.width - a.left - f.left - a.right - f.right),
                 std::max(0.0, frame.size.height - a.top - f.top - a.bottom - f.bottom)};
    return NSBezierPath::bezierPathWithRoundedRect(shape, radius.width, radius.height);
}

void KRRecorderControl::drawFocusRingMask() {
    if (isEnabled() && window() && window()->firstResponder() == this) focusRingShape().fill();
}

CGRect KRRecorderControl::focusRingMaskBounds() {
    if (isEnabled() && window() && window()->firstResponder() == this) return focusRingShape().bounds();
    return CGRectZero;
}

// --- Mouse tracking and tool tips -------------------------------------------------------------

namespace {

CGRect guideFrame(const GuidePtr& guide) {
    return guide ? guide->frame() : CGRectZero;
}

}  // namespace

CGRect KRRecorderControl::hitArea(uint64_t button) const {
    if (button == KRRecorderControlMainButton) return bounds();
    // Until a style is installed there are no buttons to hit.
    if (!style_) return CGRectZero;
    bool cancel = button == KRRecorderControlCancelButton;
    GuidePtr layout = cancel ? style_->cancelButtonLayoutGuide() : style_->clearButtonLayoutGuide();
    GuidePtr drawing = cancel ? style_->cancelButtonDrawingGuide() : style_->clearButtonDrawingGuide();
    return guideFrame(layout ? layout : drawing);
}

CGRect KRRecorderControl::cancelButtonHitArea() const {
    return hitArea(KRRecorderControlCancelButton);
}

CGRect KRRecorderControl::clearButtonHitArea() const {
    return hitArea(KRRecorderControlClearButton);
}

CGRect KRRecorderControl::drawingArea(uint64_t button) {
    auto style = this->style();
    switch (button) {
        case KRRecorderControlMainButton:
            return guideFrame(style->backgroundDrawingGuide());
        case KRRecorderControlCancelButton:
            return guideFrame(style->cancelButtonDrawingGuide());
        default:
            return guideFrame(style->clearButtonDrawingGuide());
    }
}

bool KRRecorderControl::isButtonHighlighted(uint64_t button) const {
    if (mouseTrackingButtonTag_ != button || !window()) return false;
    // The pointer now, not at the press: a pressed button looks pressed only while under it.
    CGPoint location = convertPointFromView(window()->mouseLocationOutsideOfEventStream(), nullptr);
    return CGRectContainsPoint(hitArea(button), location);
}

bool KRRecorderControl::isMainButtonHighlighted() const {
    return isButtonHighlighted(KRRecorderControlMainButton);
}

bool KRRecorderControl::isCancelButtonHighlighted() const {
    return isButtonHighlighted(KRRecorderControlCancelButton);
}

bool KRRecorderControl::isClearButtonHighlighted() const {
    return isButtonHighlighted(KRRecorderControlClearButton);
}

void KRRecorderControl::updateTrackingAreas() {
    requestedUpdates_.push_back("updateTrackingAreas");
    style();
    CGRect cancelArea = cancelButtonHitArea(), clearArea = clearButtonHitArea();
    auto self = sharedAs<KRRecorderControl>();
    if (mainButtonTrackingArea_) removeTrackingArea(mainButtonTrackingArea_);
    mainButtonTrackingArea_ =
        std::make_shared<NSTrackingArea>(bounds(), KRRecorderControlTrackingOptions, self);
    addTrackingArea(mainButtonTrackingArea_);
    for (auto* area : {&cancelButtonTrackingArea_, &clearButtonTrackingArea_}) {
        if (*area) removeTrackingArea(*area);
        area->reset();
    }
    for (auto* tag : {&cancelButtonToolTipTag_, &clearButtonToolTipTag_}) {
        if (*tag != KRRecorderControlNoToolTip) removeToolTip(*tag);
        *tag = KRRecorderControlNoToolTip;
    }
    if (isRecording_) {
        auto add = [&](const CGRect& rect, std::shared_ptr<NSTrackingArea>& area, int64_t& tag) {
            if (NSIsEmptyRect(rect)) return;
            area = std::make_shared<NSTrackingArea>(rect, KRRecorderControlTrackingOptions, self);
            addTrackingArea(area);
            tag = addToolTipRect(area->rect(), self, nullptr);
        };
        add(cancelArea, cancelButtonTrackingArea_, cancelButtonToolTipTag_);
        if (objectValue_) add(clearArea, clearButtonTrackingArea_, clearButtonToolTipTag_);
    }
}

void KRRecorderControl::mouseDown(const NSEvent& event) {
    if (!isEnabled()) return NSControl::mouseDown(event);
    style();
    CGPoint location = convertPointFromView(event.locationInWindow(), nullptr);
    if (isRecording_) {
        if (CGRectContainsPoint(cancelButtonHitArea(), location)) {
            mouseTrackingButtonTag_ = KRRecorderControlCancelButton;
            setNeedsDisplayInRect(cancelButtonHitArea());
        } else if (CGRectContainsPoint(clearButtonHitArea(), location)) {
            mouseTrackingButtonTag_ = KRRecorderControlClearButton;
            setNeedsDisplayInRect(clearButtonHitArea());
        } else {
            NSControl::mouseDown(event);
        }
    } else if (CGRectContainsPoint(bounds(), location)) {
        mouseTrackingButtonTag_ = KRRecorderControlMainButton;
        setNeedsDisplay(true);
    } else {
        NSControl::mouseDown(event);
    }
}

void KRRecorderControl::mouseUp(const NSEvent& event) {
    if (!isEnabled() || mouseTrackingButtonTag_ == KRRecorderControlNoButton)
        return NSControl::mouseUp(event);
    uint64_t button = mouseTrackingButtonTag_;
    if (window() && window()->isKeyWindow()) {
        CGPoint location = convertPointFromView(event.locationInWindow(), nullptr);
        if (button == KRRecorderControlMainButton && CGRectContainsPoint(bounds(), location))
            beginRecording();
        else if (button == KRRecorderControlCancelButton &&
                 CGRectContainsPoint(cancelButtonHitArea(), location))
            endRecording();
        else if (button == KRRecorderControlClearButton &&
                 CGRectContainsPoint(clearButtonHitArea(), location))
            clearAndEndRecording();
    } else {
        setNeedsDisplay(true);
    }
    mouseTrackingButtonTag_ = KRRecorderControlNoButton;
}

void KRRecorderControl::redisplayTrackedButtonFor(const NSEvent& event) {
    if (!isEnabled() || !event.trackingArea()) return;
    const auto& area = event.trackingArea();
    if ((mouseTrackingButtonTag_ == KRRecorderControlMainButton && area == mainButtonTrackingArea_) ||
        (mouseTrackingButtonTag_ == KRRecorderControlCancelButton && area == cancelButtonTrackingArea_) ||
        (mouseTrackingButtonTag_ == KRRecorderControlClearButton && area == clearButtonTrackingArea_))
        setNeedsDisplayInRect(drawingArea(mouseTrackingButtonTag_));
}

void KRRecorderControl::mouseEntered(const NSEvent& event) {
    redisplayTrackedButtonFor(event);
    NSControl::mouseEntered(event);
}

void KRRecorderControl::mouseExited(const NSEvent& event) {
    redisplayTrackedButtonFor(event);
    NSControl::mouseExited(event);
}

std::optional<std::string> KRRecorderControl::viewStringForToolTip(NSView&, NSToolTipTag tag, CGPoint,
                                                                   void*) {
    if (tag == cancelButtonToolTipTag_)
        return style()->cancelButtonTooltip().value_or(
            KRLocalizedString(objectValue_ ? "Use old shortcut" : "Cancel recording"));
    if (tag == clearButtonToolTipTag_)
        return style()->clearButtonTooltip().value_or(KRLocalizedString("Delete current shortcut"));
    // Not one of ours: the view has nothing to add.
    return std::nullopt;
}
