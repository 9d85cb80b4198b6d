#pragma once
// The control for entering a keyboard shortcut: it shows its shortcut and, once activated (Space,
// a click, an accessibility press), records the next key combination under its modifier rules. It
// pauses the shared global shortcut monitor while it records, writes its value back through its
// value binding, tells its delegate and assistive applications what happens, and sends its action
// when a recording ends. Main thread only.
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSControl.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSGraphicsContext.h"
#include "platform/appkit/NSKeyValueBinding.h"
#include "platform/foundation/KeyValueObserving.h"
#include "platform/foundation/NotificationCenter.h"
#include "shortcut_recorder/KRRecorderControlStyle.h"
#include "shortcut_recorder/KRShortcut.h"

class KRKeyCodeTransformer;
class KRRecorderControl;

// Every method is optional: nullopt (or false for the notices) stands for a method the delegate
// does not have. Where an older "keyRecorder" form exists it is asked only without the newer one.
class KRRecorderControlDelegate {
  public:
    virtual ~KRRecorderControlDelegate() = default;
    virtual std::optional<bool> recorderControlShouldBeginRecording(KRRecorderControl&) {
        return std::nullopt;
    }
    virtual std::optional<bool> keyRecorderShouldBeginRecording(KRRecorderControl&) { return std::nullopt; }
    // True when the delegate has the method.
    virtual bool recorderControlDidBeginRecording(KRRecorderControl&) { return false; }
    virtual std::optional<bool> recorderControlShouldUnconditionallyAllowModifierFlags(KRRecorderControl&,
                                                                                       uint64_t /*flags*/,
                                                                                       uint16_t /*keyCode*/) {
        return std::nullopt;
    }
    virtual std::optional<bool> keyRecorderShouldUnconditionallyAllowModifierFlags(KRRecorderControl&,
                                                                                   uint64_t /*flags*/,
                                                                                   uint16_t /*keyCode*/) {
        return std::nullopt;
    }
    virtual std::optional<bool> recorderControlCanRecordShortcut(KRRecorderControl&, const KRShortcut&) {
        return std::nullopt;
    }
    // The older form gets the shortcut's dictionary form.
    virtual std::optional<bool> keyRecorderCanRecordShortcut(KRRecorderControl&, const Dictionary&) {
        return std::nullopt;
    }
    // A control's generic validation, asked last.
    virtual std::optional<bool> controlIsValidObject(NSControl&, const KRShortcut&) { return std::nullopt; }
    // True when the delegate has the method.
    virtual bool recorderControlDidEndRecording(KRRecorderControl&) { return false; }
    virtual bool keyRecorderDidEndRecording(KRRecorderControl&) { return false; }
};

// The buttons a press can be tracked in.
inline constexpr uint64_t KRRecorderControlCancelButton = 0;
inline constexpr uint64_t KRRecorderControlClearButton = 1;
inline constexpr uint64_t KRRecorderControlMainButton = 2;
inline constexpr uint64_t KRRecorderControlNoButton = std::numeric_limits<uint64_t>::max();
// Entries and exits, only while first responder, also during a drag.
inline constexpr NSTrackingAreaOptions KRRecorderControlTrackingOptions =
    NSTrackingMouseEnteredAndExited | NSTrackingActiveWhenFirstResponder | NSTrackingEnabledDuringMouseDrag;
inline constexpr int64_t KRRecorderControlNoToolTip = std::numeric_limits<int64_t>::max();

class KRRecorderControl : public NSControl, public NSKeyValueObserving, public NSViewToolTipOwner {
  public:
    static std::shared_ptr<KRRecorderControl> initWithFrame(CGRect frame);
    // A control read from an archive: what the archive says of the enabled state does not matter,
    // the control starts enabled with its defaults.
    static std::shared_ptr<KRRecorderControl> initWithCoder(bool archivedEnabled);

    ~KRRecorderControl() override;

    // --- Value ---------------------------------------------------------------------------------
    // The shortcut, or in compatibility mode its dictionary form; nil without one.
    AnyObject objectValue() const;
    // Nil and NSNull clear; a dictionary is read as a shortcut (and, while the control holds none,
    // turns compatibility mode on for good); the value held already changes nothing.
    void setObjectValue(const AnyObject& value);
    std::shared_ptr<KRShortcut> shortcut() const { return objectValue_; }
    std::optional<Dictionary> dictionaryValue() const;
    void setDictionaryValue(const std::optional<Dictionary>& dictionary);
    AnyObject value() const { return objectValue(); }
    // Controller markers are refused with an internal-inconsistency Exception.
    void setValue(const AnyObject& value);
    // Modifier glyphs and key name ("⇧⌘A"); "" without a shortcut.
    std::string stringValue() const;
    void setStringValue(const std::string& string);
    std::string attributedStringValue() const { return stringValue(); }
    void setAttributedStringValue(const std::string& string) { setStringValue(string); }
    bool isCompatibilityModeEnabled() const { return compatibilityMode_; }

    // --- Modifier rules ------------------------------------------------------------------------
    uint64_t allowedModifierFlags() const { return allowedModifierFlags_; }
    uint64_t requiredModifierFlags() const { return requiredModifierFlags_; }
    bool allowsEmptyModifierFlags() const { return allowsEmptyModifierFlags_; }
    // Required flags must be allowed, and empty flags cannot be allowed with required ones: an
    // invalid-argument Exception otherwise. New rules end a recording.
    void setAllowedModifierFlags(uint64_t allowed, uint64_t required, bool allowsEmpty);
    bool areModifierFlagsValid(uint64_t flags, uint16_t keyCode);
    bool areModifierFlagsAllowed(uint64_t flags, uint16_t keyCode);

    // --- Settings ------------------------------------------------------------------------------
    std::shared_ptr<KRRecorderControlDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<KRRecorderControlDelegate>& delegate) { delegate_ = delegate; }
    bool drawsASCIIEquivalentOfShortcut() const { return drawsASCIIEquivalentOfShortcut_; }
    void setDrawsASCIIEquivalentOfShortcut(bool on) { drawsASCIIEquivalentOfShortcut_ = on; }
    bool allowsEscapeToCancelRecording() const { return allowsEscapeToCancelRecording_; }
    void setAllowsEscapeToCancelRecording(bool on) { allowsEscapeToCancelRecording_ = on; }
    bool allowsDeleteToClearShortcutAndEndRecording() const { return allowsDeleteToClear_; }
    void setAllowsDeleteToClearShortcutAndEndRecording(bool on) { allowsDeleteToClear_ = on; }
    bool pausesGlobalShortcutMonitorWhileRecording() const { return pausesGlobalMonitor_; }
    void setPausesGlobalShortcutMonitorWhileRecording(bool on) { pausesGlobalMonitor_ = on; }
    bool stringValueRespectsUserInterfaceLayoutDirection() const { return stringValueRespectsDirection_; }
    void setStringValueRespectsUserInterfaceLayoutDirection(bool on) { stringValueRespectsDirection_ = on; }
    bool allowsModifierFlagsOnlyShortcut() const { return allowsModifierFlagsOnlyShortcut_; }
    void setAllowsModifierFlagsOnlyShortcut(bool on) { allowsModifierFlagsOnlyShortcut_ = on; }
    bool refusesFirstResponder() const { return refusesFirstResponder_; }
    void setRefusesFirstResponder(bool on) { refusesFirstResponder_ = on; }
    int64_t tag() const { return tag_; }
    void setTag(int64_t tag) { tag_ = tag; }
    bool isRecording() const { return isRecording_; }
    // The modifier keys shown while recording.
    uint64_t lastSeenModifierFlags() const { return lastSeenModifierFlags_; }
    // The button a mouse press began in (KRRecorderControlNoButton for none).
    uint64_t mouseTrackingButtonTag() const { return mouseTrackingButtonTag_; }
    void setMouseTrackingButtonTag(uint64_t tag) { mouseTrackingButtonTag_ = tag; }

    // --- Style, layout and drawing --------------------------------------------------------------
    // The style, the standard one unless set; installed on first use.
    std::shared_ptr<KRRecorderControlStyling> style();
    // Null installs a new standard style; the attached style itself changes nothing; any other is
    // attached as a copy.
    void setStyle(std::shared_ptr<KRRecorderControlStyling> style);
    static std::shared_ptr<KRRecorderControlStyling> makeDefaultStyle();
    // Tests stand another style in for the standard one; an empty factory (and a reset for tests)
    // brings the standard one back.
    using DefaultStyleFactory = std::function<std::shared_ptr<KRRecorderControlStyling>()>;
    static void setDefaultStyleFactoryForTesting(DefaultStyleFactory factory);

    // A stored direction wins; then the style's preferred one (not while the default style is being
    // installed); then the view's own.
    NSUserInterfaceLayoutDirection userInterfaceLayoutDirection() const override;
    void setUserInterfaceLayoutDirection(NSUserInterfaceLayoutDirection direction) override;
    // Tells the style of a change of look on a later pass of the main run loop: several changes in
    // one pass reach it once, with the last reason.
    void scheduleControlViewAppearanceDidChange(const void* reason);
    void controlTintDidChange(const Notification& notification);
    void accessibilityDisplayOptionsDidChange(const Notification& notification);
    void viewDidChangeBackingProperties();
    void viewDidChangeEffectiveAppearance();

    bool isFlipped() const override { return true; }
    // From the style; zero without one.
    bool isOpaque() const { return style_ && style_->isOpaque(); }
    bool allowsVibrancy() const { return style_ && style_->allowsVibrancy(); }
    NSEdgeInsets alignmentRectInsets() const override {
        return style_ ? style_->alignmentRectInsets() : NSEdgeInsets{};
    }
    CGSize intrinsicContentSize() const override {
        return style_ ? style_->intrinsicContentSize() : CGSize{};
    }
    CGFloat baselineOffsetFromBottom() const;
    CGFloat firstBaselineOffsetFromTop() const;
    void updateConstraints() override;
    // Activates the style's constraint set of the current state.
    void updateActiveConstraints();
    // Sizes the label: ceil(max(minimal drawable width, measured width)) + 2 points.
    void updateLabelConstraints();
    const ConstraintPtr& labelWidthConstraint() const { return labelWidthConstraint_; }

    // The modifier glyphs while keys are held during a recording, else the value, else the style's
    // placeholder.
    std::string drawingLabel();
    const KRLabelAttributes* drawingLabelAttributes();
    void drawRect(const CGRect& dirtyRect) override;
    void drawBackground(const CGRect& dirtyRect);
    void drawInterior(const CGRect& dirtyRect);
    void drawLabel(const CGRect& dirtyRect);
    void drawCancelButton(const CGRect& dirtyRect);
    void drawClearButton(const CGRect& dirtyRect);
    // The background inset by the alignment and focus-ring insets, rounded by the style's radii.
    NSBezierPath focusRingShape();
    void drawFocusRingMask() override;
    CGRect focusRingMaskBounds();
    // --- Mouse ---------------------------------------------------------------------------------
    // A button looks pressed while its press is tracked and the pointer is over it.
    bool isMainButtonHighlighted() const;
    bool isCancelButtonHighlighted() const;
    bool isClearButtonHighlighted() const;
    bool isHighlighted() const { return isMainButtonHighlighted(); }
    // Where a button takes presses (bounds coordinates); the zero rectangle when the style has none.
    CGRect cancelButtonHitArea() const;
    CGRect clearButtonHitArea() const;
    // Rebuilds the tracking areas and the button tool tips for the recording state.
    void updateTrackingAreas();
    const std::shared_ptr<NSTrackingArea>& mainButtonTrackingArea() const { return mainButtonTrackingArea_; }
    const std::shared_ptr<NSTrackingArea>& cancelButtonTrackingArea() const {
        return cancelButtonTrackingArea_;
    }
    const std::shared_ptr<NSTrackingArea>& clearButtonTrackingArea() const {
        return clearButtonTrackingArea_;
    }
    int64_t cancelButtonToolTipTag() const { return cancelButtonToolTipTag_; }
    int64_t clearButtonToolTipTag() const { return clearButtonToolTipTag_; }
    void mouseDown(const NSEvent& event) override;
    void mouseUp(const NSEvent& event) override;
    void mouseEntered(const NSEvent& event) override;
    void mouseExited(const NSEvent& event) override;
    std::optional<std::string> viewStringForToolTip(NSView& view, NSToolTipTag tag, CGPoint point,
                                                    void* userData) override;

    // --- Recording -----------------------------------------------------------------------------
    bool beginRecording();
    // Ends keeping the value (a cancel); nothing while idle.
    void endRecording();
    // Ends clearing the value; nothing while idle.
    void clearAndEndRecording();
    void endRecordingWithObjectValue(const std::shared_ptr<KRShortcut>& value);
    bool canEndRecordingWithObjectValue(const KRShortcut& shortcut);
    bool canCaptureKeyEvent();
    void playAlert();

    // --- Keyboard and responder ----------------------------------------------------------------
    void keyDown(const NSEvent& event) override;
    bool performKeyEquivalent(const NSEvent& event);
    void flagsChanged(const NSEvent& event) override;
    bool acceptsFirstResponder() const override;
    bool resignFirstResponder() override;
    bool canBecomeKeyView() const;
    bool acceptsFirstMouse(const NSEvent*) const { return true; }
    bool needsPanelToBecomeKey() const { return true; }
    void prepareForReuse();
    // Follows the window it moves to: ends recording when that window resigns key.
    void viewWillMoveToWindow(NSWindow* window) override;

    // --- Bindings ------------------------------------------------------------------------------
    // Only the value binding is offered; its options are the two value-transformer options.
    static std::vector<std::string> exposedBindings();
    static std::vector<std::string> optionDescriptionsForBinding(const std::string& binding);
    void bind(const std::string& binding, NSObservedObject object, std::optional<std::string> keyPath,
              std::optional<NSBindingOptions> options = std::nullopt);
    void unbind(const std::string& binding) { bindings_.unbind(binding); }
    std::optional<NSBindingInfo> infoForBinding(const std::string& binding) const {
        return bindings_.infoForBinding(binding);
    }
    // Writes `value` to the bound object, reverse-transformed when the binding has a transformer
    // that allows it. A binding without observed object or key path raises.
    void propagateValue(AnyObject value, const std::optional<std::string>& binding);

    // --- Editing -------------------------------------------------------------------------------
    void discardEditing() { endRecording(); }
    bool commitEditing();
    bool commitEditingAndReturnError(Error* error = nullptr);
    // `didCommit` hears (control, result) on a later pass of the main run loop.
    void commitEditingWithDelegate(std::function<void(KRRecorderControl&, bool)> didCommit);
    bool abortEditing();

    // --- Accessibility -------------------------------------------------------------------------
    bool isAccessibilityElement() const { return true; }
    bool isAccessibilityEnabled() const { return isEnabled(); }
    std::string accessibilityRole() const;
    std::string accessibilityRoleDescription() const;
    std::optional<std::string> accessibilityLabel() const;
    std::optional<std::string> accessibilityValue() const;
    std::optional<std::string> accessibilityHelp() const { return std::nullopt; }
    const KRRecorderControl* accessibilityHitTest(CGPoint) const { return this; }
    bool accessibilityPerformPress() { return beginRecording(); }
    bool accessibilityPerformCancel();
    bool accessibilityPerformDelete();

    void prepareForInterfaceBuilder();

    // --- Key-value observing -------------------------------------------------------------------
    AnyObject valueForKeyPath(std::string_view keyPath) const override;
    bool automaticallyNotifiesObserversForKey(std::string_view key) const override;
    std::vector<std::string> keyPathsForValuesAffectingValueForKey(std::string_view key) const override;

    // The layout, label and tracking updates asked for so far, in order, by name. Drawing and
    // layout follow them; until then they are only recorded.
    const std::vector<std::string>& requestedUpdates() const { return requestedUpdates_; }

  protected:
    explicit KRRecorderControl(CGRect frame);

  private:
    void initInternalState();
    // Key names from an ASCII-capable layout, or the current one.
    std::shared_ptr<KRKeyCodeTransformer> keyCodeTransformer() const;
    bool isButtonHighlighted(uint64_t button) const;
    CGRect hitArea(uint64_t button) const;
    CGRect drawingArea(uint64_t button);
    void redisplayTrackedButtonFor(const NSEvent& event);
    void attachStyle(std::shared_ptr<KRRecorderControlStyling> style);
    bool shouldDraw(const CGRect& frame, const CGRect& dirtyRect) const;
    void drawButton(const GuidePtr& guide, const ImagePtr& image);
    void markLabelForDisplay();
    void updateForRecordingState();
    void enableCompatibilityMode();
    void tellBoundObject(const char* selector);
    void postLayoutAndTitleChanged();
    std::shared_ptr<NSObject> boundObject() const;

    bool compatibilityMode_ = false;
    std::shared_ptr<KRRecorderControlStyling> style_;
    uint64_t mouseTrackingButtonTag_ = KRRecorderControlNoButton;
    int64_t cancelButtonToolTipTag_ = KRRecorderControlNoToolTip;
    int64_t clearButtonToolTipTag_ = KRRecorderControlNoToolTip;
    std::shared_ptr<NSTrackingArea> mainButtonTrackingArea_, cancelButtonTrackingArea_,
        clearButtonTrackingArea_;
    std::shared_ptr<KRShortcut> objectValue_;
    uint64_t lastSeenModifierFlags_ = 0;
    bool isLazilyInitializingStyle_ = false;
    bool didPauseGlobalShortcutMonitor_ = false;
    bool refusesFirstResponder_ = false;
    bool allowsEmptyModifierFlags_ = false;
    bool drawsASCIIEquivalentOfShortcut_ = true;
    bool allowsEscapeToCancelRecording_ = true;
    bool allowsDeleteToClear_ = true;
    bool pausesGlobalMonitor_ = true;
    bool stringValueRespectsDirection_ = false;
    bool allowsModifierFlagsOnlyShortcut_ = false;
    bool isRecording_ = false;
    int64_t tag_ = 0;
    std::weak_ptr<KRRecorderControlDelegate> delegate_;
    uint64_t allowedModifierFlags_ = 0x1E0000;
    uint64_t requiredModifierFlags_ = 0;

    ConstraintPtr labelWidthConstraint_;
    std::optional<NSUserInterfaceLayoutDirection> storedLayoutDirection_;
    const void* pendingAppearanceReason_ = nullptr;
    NSBindings bindings_;
    std::vector<NotificationCenter::Token> windowObservers_;
    std::vector<std::string> requestedUpdates_;
};
