#include <gtest/gtest.h>
#include <sys/wait.h>

#include "platform/appkit/NSApplication.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/testing/TestHome.h"
#include "shortcut_recorder/KRShortcutAction.h"
#include "shortcut_recorder/tests/ActionFixture.h"
#include "shortcut_recorder/tests/RecorderFixture.h"
#include "testing/ChildProcess.h"

namespace {

constexpr const char* kCompatibilityWarning =
    "WARNING: Shortcut Recroder 2 compatibility mode enabled. Getters of objectValue and NSValueBinding will "
    "return an instance of NSDictionary.";

class KRRecorder : public RecorderTest {};

// Fires the simulated keyboard's hot key for `keyCode`; false when none is registered.
bool pressHotKey(uint16_t keyCode) {
    for (const auto& hotKey : SimulatedCarbonEvents::registeredHotKeys()) {
        if (hotKey.keyCode != keyCode) continue;
        auto event =
            SimulatedCarbonEvents::makeEvent(kEventClassKeyboard, kEventHotKeyPressed, hotKey.hotKeyID);
        SimulatedCarbonEvents::dispatch(event->ref());
        return true;
    }
    return false;
}

class LogCapture {
  public:
    LogCapture() : capture_([this](SystemLogLevel, const std::string& line) { lines.push_back(line); }) {}
    size_t count(const std::string& text) const {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }
    std::vector<std::string> lines;

  private:
    SystemLogCapture capture_;
};

TEST_F(KRRecorder, StartsWithItsDefaultsAlsoFromAnArchive) {
    for (const auto& made : {KRRecorderControl::initWithFrame({}), KRRecorderControl::initWithCoder(false)}) {
        EXPECT_TRUE(made->isEnabled());
        EXPECT_EQ(made->allowedModifierFlags(), 0x1E0000u);
        EXPECT_EQ(made->requiredModifierFlags(), 0u);
        EXPECT_FALSE(made->allowsEmptyModifierFlags());
        EXPECT_TRUE(made->drawsASCIIEquivalentOfShortcut());
        EXPECT_TRUE(made->allowsEscapeToCancelRecording());
        EXPECT_TRUE(made->allowsDeleteToClearShortcutAndEndRecording());
        EXPECT_TRUE(made->pausesGlobalShortcutMonitorWhileRecording());
        EXPECT_FALSE(made->isRecording());
        EXPECT_FALSE(made->translatesAutoresizingMaskIntoConstraints());
        EXPECT_EQ(made->contentHuggingPriority(NSLayoutConstraintOrientation::Horizontal), 251);
        EXPECT_EQ(made->contentHuggingPriority(NSLayoutConstraintOrientation::Vertical), 750);
        EXPECT_EQ(made->contentCompressionResistancePriority(NSLayoutConstraintOrientation::Horizontal), 750);
        EXPECT_EQ(made->mouseTrackingButtonTag(), KRRecorderControlNoButton);
        EXPECT_EQ(made->stringValue(), "");
    }
    EXPECT_EQ(KRRecorderControl::exposedBindings(), std::vector<std::string>{"value"});
    EXPECT_EQ(
        KRRecorderControl::optionDescriptionsForBinding("value"),
        (std::vector<std::string>{NSValueTransformerBindingOption, NSValueTransformerNameBindingOption}));
}

TEST_F(KRRecorder, SettingTheHeldValueChangesNothingAndDictionariesSwitchForGood) {
    auto model = std::make_shared<BoundModel>(log);
    control->bind(NSValueBinding, {model, nullptr}, "shortcut");
    NoticeRecorder notices;
    notices.observe(*control, {"objectValue", "dictionaryValue", "stringValue"},
                    NSKeyValueObservingOptionNew);

    control->setObjectValue(AnyObject(shortcut(kKeyA, kShift | kCommand)));
    EXPECT_EQ(notices.notices, (std::vector<std::string>{"objectValue", "dictionaryValue", "stringValue"}));
    EXPECT_EQ(log, std::vector<std::string>{"set shortcut"});
    EXPECT_EQ(control->stringValue(), "⇧⌘A");
    control->setObjectValue(AnyObject(shortcut(kKeyA, kShift | kCommand)));
    EXPECT_EQ(notices.notices.size(), 3u);
    EXPECT_EQ(log.size(), 1u);
    notices.stop();

    LogCapture logged;
    auto empty = KRRecorderControl::initWithFrame({});
    empty->setObjectValue(AnyObject(Value(shortcut(kKeyZ, kCommand)->dictionaryRepresentation())));
    empty->setObjectValue(AnyObject(Value(shortcut(kKeyA, kCommand)->dictionaryRepresentation())));
    EXPECT_EQ(logged.count(kCompatibilityWarning), 1u);
    ASSERT_TRUE(empty->objectValue().value());
    EXPECT_EQ(*empty->objectValue().value()->asDictionary(),
              shortcut(kKeyA, kCommand)->dictionaryRepresentation());
    EXPECT_TRUE(empty->isCompatibilityModeEnabled());

    EXPECT_EQ(raisedReason([&] { control->setValue(AnyObject(NSNoSelectionMarker())); }),
              "KRRecorderControl's NSValueBinding does not support controller value markers.");
    EXPECT_TRUE(control->shortcut()->isEqual(shortcut(kKeyA, kShift | kCommand).get()));
    // Mended: a value that is no shortcut leaves the held one alone; NSNull clears it.
    control->setObjectValue(AnyObject(Value("⌘A")));
    EXPECT_TRUE(control->shortcut());
    EXPECT_EQ(trace.count("#Error Not a shortcut value"), 1u);
    control->setObjectValue(AnyObject(Value()));
    EXPECT_EQ(control->shortcut(), nullptr);
}

TEST_F(KRRecorder, SpaceEscapeAndDeleteWhileRecordingAndIdle) {
    // Space begins with modifiers held; while recording it is an ordinary key.
    EXPECT_TRUE(control->performKeyEquivalent(*key(kKeySpace, kCommand, " ")));
    EXPECT_TRUE(control->isRecording());
    EXPECT_TRUE(control->performKeyEquivalent(*key(kKeySpace, kCommand, " ")));
    EXPECT_FALSE(control->isRecording());
    EXPECT_TRUE(control->shortcut()->isEqual(shortcut(kKeySpace, kCommand).get()));
    EXPECT_EQ(trace.count("Begin recording via Space"), 1u);

    // ⌘Esc is a shortcut, bare Escape a cancel.
    window->makeFirstResponder(control.get());
    ASSERT_TRUE(control->beginRecording());
    EXPECT_TRUE(control->performKeyEquivalent(*key(kKeyEscape, kCommand, "\x1b")));
    EXPECT_TRUE(control->shortcut()->isEqual(shortcut(kKeyEscape, kCommand).get()));
    window->makeFirstResponder(control.get());
    ASSERT_TRUE(control->beginRecording());
    EXPECT_TRUE(control->performKeyEquivalent(*key(kKeyEscape, 0, "\x1b")));
    EXPECT_FALSE(control->isRecording());
    EXPECT_TRUE(control->shortcut()->isEqual(shortcut(kKeyEscape, kCommand).get()));

    // Without Delete to clear, a bare Delete is a combination without modifiers: refused.
    control->setAllowsDeleteToClearShortcutAndEndRecording(false);
    window->makeFirstResponder(control.get());
    ASSERT_TRUE(control->beginRecording());
    EXPECT_TRUE(control->performKeyEquivalent(*key(kKeyDelete, 0, "\x7f")));
    EXPECT_EQ(SimulatedSound::beepCount(), 1u);
    EXPECT_TRUE(control->isRecording());
    EXPECT_EQ(trace.count("Modifier flags 0 rejected"), 1u);
    control->setAllowsDeleteToClearShortcutAndEndRecording(true);
    EXPECT_TRUE(control->performKeyEquivalent(*key(kKeyDelete, 0, "\x7f")));
    EXPECT_EQ(control->shortcut(), nullptr);

    // Idle, ending sends no action and asks no delegate.
    auto delegate = std::make_shared<RecordingDelegate>(log);
    auto target = std::make_shared<BoundModel>(log);
    control->setDelegate(delegate);
    control->setTarget(target);
    control->setAction("recorded:");
    control->endRecording();
    control->clearAndEndRecording();
    EXPECT_TRUE(log.empty());
    // Not the first responder: keys are not taken.
    window->makeFirstResponder(nullptr);
    EXPECT_FALSE(control->performKeyEquivalent(*key(kKeySpace, 0, " ")));
}

TEST_F(KRRecorder, ModifierRules) {
    EXPECT_EQ(raisedReason([&] { control->setAllowedModifierFlags(kCommand, kShift, false); }),
              "Required flags (131072) MUST be allowed (1048576)");
    EXPECT_EQ(raisedReason([&] { control->setAllowedModifierFlags(kCommand | kShift, kShift, true); }),
              "Empty modifier flags MUST be disallowed if required modifier flags are not empty.");
    EXPECT_EQ(control->allowedModifierFlags(), 0x1E0000u);

    ASSERT_TRUE(control->beginRecording());
    control->setAllowedModifierFlags(0x1E0000, 0, false);
    EXPECT_TRUE(control->isRecording());
    NoticeRecorder notices;
    notices.observe(*control, {"allowedModifierFlags", "requiredModifierFlags", "allowsEmptyModifierFlags"},
                    NSKeyValueObservingOptionNew);
    control->setAllowedModifierFlags(kCommand | kShift | 0x1, kCommand, false);
    EXPECT_FALSE(control->isRecording());
    EXPECT_EQ(control->allowedModifierFlags(), kCommand | kShift);
    EXPECT_EQ(notices.notices, (std::vector<std::string>{"allowedModifierFlags", "requiredModifierFlags",
                                                         "allowsEmptyModifierFlags"}));

    EXPECT_TRUE(control->areModifierFlagsValid(kCommand | kShift, kKeyA));
    EXPECT_FALSE(control->areModifierFlagsValid(kShift, kKeyA));  // required Command missing
    EXPECT_FALSE(control->areModifierFlagsAllowed(kOption, kKeyA));
    auto delegate = std::make_shared<RecordingDelegate>(log);
    delegate->unconditionally = true;
    control->setDelegate(delegate);
    EXPECT_TRUE(control->areModifierFlagsAllowed(kOption, kKeyA));
    EXPECT_FALSE(control->areModifierFlagsValid(kOption, kKeyA));  // the delegate cannot waive required flags
}

TEST_F(KRRecorder, ModifierOnlyShortcuts) {
    control->setAllowsModifierFlagsOnlyShortcut(true);
    ASSERT_TRUE(control->beginRecording());
    control->flagsChanged(*key(kKeyCommand, kCommand, "", NSEventType::FlagsChanged));
    control->flagsChanged(*key(kKeyShift, kCommand | kShift, "", NSEventType::FlagsChanged));
    EXPECT_EQ(control->lastSeenModifierFlags(), kCommand | kShift);
    control->flagsChanged(*key(kKeyShift, kCommand, "", NSEventType::FlagsChanged));
    EXPECT_TRUE(control->isRecording());  // a key still held
    control->flagsChanged(*key(kKeyCommand, 0, "", NSEventType::FlagsChanged));
    EXPECT_FALSE(control->isRecording());
    ASSERT_TRUE(control->shortcut());
    EXPECT_EQ(control->shortcut()->keyCode(), KRKeyCodeNone);
    EXPECT_EQ(control->shortcut()->modifierFlags(), kCommand | kShift);

    // Command pressed again before everything is released drops it from the shown set.
    window->makeFirstResponder(control.get());
    ASSERT_TRUE(control->beginRecording());
    control->flagsChanged(*key(kKeyCommand, kCommand, "", NSEventType::FlagsChanged));
    control->flagsChanged(*key(kKeyShift, kCommand | kShift, "", NSEventType::FlagsChanged));
    control->flagsChanged(*key(54, kCommand | kShift, "", NSEventType::FlagsChanged));
    EXPECT_EQ(control->lastSeenModifierFlags(), kShift);

    // Without the mode, shown flags follow the keys, refused ones beep.
    control->setAllowsModifierFlagsOnlyShortcut(false);
    control->setAllowedModifierFlags(kCommand, 0, false);
    window->makeFirstResponder(control.get());
    ASSERT_TRUE(control->beginRecording());
    control->flagsChanged(*key(kKeyShift, kShift, "", NSEventType::FlagsChanged));
    EXPECT_EQ(SimulatedSound::beepCount(), 1u);
    control->flagsChanged(*key(kKeyCommand, kCommand, "", NSEventType::FlagsChanged));
    EXPECT_EQ(control->lastSeenModifierFlags(), kCommand);
}

TEST_F(KRRecorder, BeginAndEndSequences) {
    int hotKeyFired = 0;
    auto action = KRShortcutAction::shortcutActionWithShortcut(shortcut(kKeyZ, kCommand | kOption),
                                                               [&](KRShortcutAction&) {
                                                                   ++hotKeyFired;
                                                                   return true;
                                                               });
    KRGlobalShortcutMonitor::sharedMonitor()->addAction(action, KRKeyEventKindDown);
    auto model = std::make_shared<BoundModel>(log);
    control->bind(NSValueBinding, {model, nullptr}, "shortcut");
    auto delegate = std::make_shared<RecordingDelegate>(log);
    control->setDelegate(delegate);
    control->setTarget(model);
    control->setAction("recorded:");
    class Notices : public NSKeyValueObserver {
      public:
        explicit Notices(std::vector<std::string>& log) : log_(log) {}
        void observeValueForKeyPath(const std::string& keyPath, NSKeyValueObserving&, const NSKeyValueChange&,
                                    void*) override {
            log_.push_back(keyPath);
        }
        std::vector<std::string>& log_;
    } notices(log);
    control->addObserver(&notices, "isRecording", NSKeyValueObservingOptionNew, nullptr);
    control->addObserver(&notices, "objectValue", NSKeyValueObservingOptionNew, nullptr);

    NSEvent::setCurrentModifierFlags(kCommand | kControl);
    control->setAllowedModifierFlags(kCommand | kShift | kOption, 0, false);
    ASSERT_TRUE(control->beginRecording());
    EXPECT_EQ(log, (std::vector<std::string>{"isRecording",
                                             "objectDidBeginEditing:", "recorderControlDidBeginRecording:"}));
    EXPECT_EQ(control->lastSeenModifierFlags(), kCommand);
    EXPECT_FALSE(pressHotKey(kKeyZ));  // paused: no hot key is registered
    EXPECT_EQ(hotKeyFired, 0);
    EXPECT_EQ(accessibilityNotices(), (std::vector<std::string>{NSAccessibilityLayoutChangedNotification,
                                                                NSAccessibilityTitleChangedNotification}));
    EXPECT_EQ(SimulatedAccessibility::postedNotifications()[0].uiElements,
              std::vector<const void*>{control.get()});
    EXPECT_EQ(control->toolTip(), "Press keys now");
    EXPECT_EQ(control->requestedUpdates(),
              (std::vector<std::string>{"updateActiveConstraints", "updateLabelConstraints",
                                        "updateTrackingAreas"}));

    log.clear();
    SimulatedAccessibility::reset();
    EXPECT_TRUE(control->performKeyEquivalent(*key(kKeyA, kShift | kCommand, "A")));
    EXPECT_EQ(log, (std::vector<std::string>{
                       "isRecording", "objectValue", "set shortcut",
                       "objectDidEndEditing:", "recorderControlDidEndRecording:", "recorded:"}));
    EXPECT_EQ(window->firstResponder(), nullptr);  // no full keyboard access
    EXPECT_TRUE(pressHotKey(kKeyZ));
    EXPECT_EQ(hotKeyFired, 1);
    EXPECT_EQ(accessibilityNotices(),
              (std::vector<std::string>{
                  NSAccessibilityTitleChangedNotification, NSAccessibilityValueChangedNotification,
                  NSAccessibilityLayoutChangedNotification, NSAccessibilityTitleChangedNotification}));
    EXPECT_EQ(control->toolTip(), "Click to record shortcut");
    EXPECT_EQ(control->lastSeenModifierFlags(), 0u);

    // With full keyboard access the control stays first responder.
    NSApplication::sharedApplication()->setFullKeyboardAccessEnabled(true);
    window->makeFirstResponder(control.get());
    ASSERT_TRUE(control->beginRecording());
    control->endRecording();
    EXPECT_EQ(window->firstResponder(), control.get());
    NSApplication::sharedApplication()->setFullKeyboardAccessEnabled(false);
    control->removeObserver(&notices, "isRecording", nullptr);
    control->removeObserver(&notices, "objectValue", nullptr);
    KRGlobalShortcutMonitor::sharedMonitor()->removeAction(action);
}

TEST_F(KRRecorder, ARefusedStartBeepsAndTheLegacyDelegateEndsOnlyWithoutTheModernOne) {
    auto delegate = std::make_shared<RecordingDelegate>(log);
    delegate->shouldBegin = false;
    control->setDelegate(delegate);
    EXPECT_FALSE(control->beginRecording());
    EXPECT_EQ(SimulatedSound::beepCount(), 1u);
    delegate->shouldBegin = std::nullopt;
    delegate->hasDidEnd = false;
    ASSERT_TRUE(control->beginRecording());
    control->endRecording();
    EXPECT_EQ(log.back(), "keyRecorderDidEndRecording:");
    control->setEnabled(false);
    EXPECT_FALSE(control->beginRecording());
    EXPECT_EQ(SimulatedSound::beepCount(), 1u);
}

// Runs only as the second process of BoundToUserDefaultsStoresTheDictionaryForm.
TEST(KRRecorderChild, ReadsTheStoredShortcut) {
    const char* suite = std::getenv("KR_RECORDER_CHILD_SUITE");
    if (!suite) GTEST_SKIP() << "runs as a child process only";
    auto stored = UserDefaults::suite(suite)->dictionaryForKey("shortcut");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->find("keyCode")->integerOr(-1), kKeyA);
    EXPECT_EQ(stored->find("modifierFlags")->integerOr(-1), int64_t(kShift | kCommand));
}

TEST_F(KRRecorder, BoundToUserDefaultsStoresTheDictionaryForm) {
    TestHome home;
    LogCapture logged;
    std::string suite = "org.quorvane.recorder-test";
    auto defaults = UserDefaults::suite(suite);
    control->bind(NSValueBinding, {nullptr, defaults}, "shortcut");
    ASSERT_TRUE(control->beginRecording());
    EXPECT_TRUE(control->performKeyEquivalent(*key(kKeyA, kShift | kCommand, "A")));
    EXPECT_TRUE(control->isCompatibilityModeEnabled());
    EXPECT_EQ(logged.count(kCompatibilityWarning), 1u);
    EXPECT_EQ(
        trace.count("#Error The control is bound to NSUserDefaults but is not transformed into an allowed "
                    "CFPreferences value"),
        1u);
    EXPECT_TRUE(control->objectValue().value()->isDictionary());
    ASSERT_TRUE(defaults->synchronize());

    pid_t child = spawnThisTestBinary(
        "KRRecorderChild.ReadsTheStoredShortcut",
        {.environment = {"KR_RECORDER_CHILD_SUITE=" + suite, "QUORVANE_HOME=" + home.path().string()},
         .quiet = true});
    ASSERT_GT(child, 0);
    auto status = waitForChild(child);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);

    // Through the user-defaults controller the same.
    auto other = KRRecorderControl::initWithFrame({});
    other->bind(NSValueBinding, {std::make_shared<NSUserDefaultsController>(defaults), nullptr},
                "values.other");
    other->setObjectValue(AnyObject(shortcut(kKeyZ, kCommand)));
    EXPECT_EQ(defaults->dictionaryForKey("other")->find("keyCode")->integerOr(-1), kKeyZ);
}

// Marks what it reverse-transforms, so a test sees which transformer ran.
class MarkingTransformer : public NSValueTransformer {
  public:
    MarkingTransformer(std::string mark, bool reversible) : mark_(std::move(mark)), reversible_(reversible) {}
    AnyObject reverseTransformedValue(const AnyObject&) const override { return AnyObject(Value(mark_)); }
    bool allowsReverseTransformation() const override { return reversible_; }

  private:
    std::string mark_;
    bool reversible_;
};

TEST_F(KRRecorder, TransformersOfTheValueBinding) {
    NSValueTransformer::setValueTransformer(std::make_shared<MarkingTransformer>("by name", true),
                                            "KRTestMarking");
    auto model = std::make_shared<BoundModel>(log);
    control->bind(NSValueBinding, {model, nullptr}, "shortcut", NSBindingOptions{nullptr, "KRTestMarking"});
    control->setObjectValue(AnyObject(shortcut(kKeyA, kCommand)));
    control->bind(NSValueBinding, {model, nullptr}, "shortcut",
                  NSBindingOptions{std::make_shared<MarkingTransformer>("by object", true), "KRTestMarking"});
    control->setObjectValue(AnyObject(shortcut(kKeyZ, kCommand)));

    LogCapture logged;
    control->bind(NSValueBinding, {model, nullptr}, "shortcut",
                  NSBindingOptions{std::make_shared<MarkingTransformer>("one way", false), std::nullopt});
    control->setObjectValue(AnyObject(shortcut(kKeyA, kShift)));
    ASSERT_EQ(model->received.size(), 3u);
    EXPECT_EQ(*model->received[0].string(), "by name");
    EXPECT_EQ(*model->received[1].string(), "by object");
    EXPECT_TRUE(model->received[2].object<KRShortcut>()->isEqual(shortcut(kKeyA, kShift).get()));
    EXPECT_EQ(logged.count("WARNING: binding \"value\" has value transformer, but it doesn't allow reverse "
                           "transformations in -[KRRecorderControl propagateValue:forBinding:]"),
              1u);

    control->bind(NSValueBinding, {}, "shortcut");
    EXPECT_EQ(raisedReason([&] { control->setObjectValue(AnyObject(shortcut(kKeyZ, kShift))); }),
              "NSObservedObjectKey MUST NOT be nil for binding \"value\"");
    control->bind(NSValueBinding, {model, nullptr}, std::nullopt);
    EXPECT_EQ(raisedReason([&] { control->propagateValue(AnyObject(), NSValueBinding); }),
              "NSObservedKeyPathKey MUST NOT be nil for binding \"value\"");
    EXPECT_EQ(raisedReason([&] { control->propagateValue(AnyObject(), std::nullopt); }),
              "Invalid parameter not satisfying: aBinding != nil");
}

TEST_F(KRRecorder, DelegateAnswersInOrder) {
    auto delegate = std::make_shared<RecordingDelegate>(log);
    control->setDelegate(delegate);
    delegate->canRecord = false;
    delegate->legacyCanRecord = true;
    EXPECT_FALSE(control->canEndRecordingWithObjectValue(*shortcut(kKeyA, kCommand)));
    EXPECT_EQ(log, std::vector<std::string>{"recorderControl:canRecordShortcut:"});
    EXPECT_EQ(trace.count("Delegate rejected"), 1u);

    log.clear();
    delegate->canRecord = std::nullopt;
    delegate->legacyCanRecord = std::nullopt;
    delegate->isValidObject = false;
    ASSERT_TRUE(control->beginRecording());
    EXPECT_TRUE(control->performKeyEquivalent(*key(kKeyA, kCommand, "a")));
    EXPECT_TRUE(control->isRecording());
    EXPECT_EQ(SimulatedSound::beepCount(), 1u);
    delegate->isValidObject = true;
    EXPECT_TRUE(control->performKeyEquivalent(*key(kKeyA, kCommand, "a")));
    EXPECT_FALSE(control->isRecording());
    EXPECT_EQ(trace.count("Valid and accepted shortcut"), 1u);
}

TEST_F(KRRecorder, AccessibilityAndEditing) {
    EXPECT_EQ(control->accessibilityValue(), "Not set");
    EXPECT_EQ(control->accessibilityRole(), NSAccessibilityButtonRole);
    EXPECT_EQ(control->accessibilityRoleDescription(), "shortcut");
    EXPECT_EQ(control->accessibilityHitTest({1, 1}), control.get());
    control->setObjectValue(AnyObject(shortcut(kKeyA, kShift | kCommand)));
    EXPECT_EQ(control->accessibilityValue(), "Shift-Command-A");

    control->setObjectValue(AnyObject());
    ASSERT_TRUE(control->accessibilityPerformPress());
    EXPECT_EQ(control->accessibilityRoleDescription(), "press keys now");
    EXPECT_FALSE(control->accessibilityPerformDelete());
    EXPECT_TRUE(control->isRecording());
    EXPECT_TRUE(control->accessibilityPerformCancel());
    EXPECT_FALSE(control->accessibilityPerformCancel());

    control->setObjectValue(AnyObject(shortcut(kKeyZ, kCommand)));
    window->makeFirstResponder(control.get());
    ASSERT_TRUE(control->beginRecording());
    NSEvent::setCurrentModifierFlags(0);
    EXPECT_TRUE(control->commitEditing());
    EXPECT_FALSE(control->isRecording());
    EXPECT_TRUE(control->shortcut()->isEqual(shortcut(kKeyZ, kCommand).get()));

    window->makeFirstResponder(control.get());
    ASSERT_TRUE(control->beginRecording());
    std::vector<bool> answers;
    control->commitEditingWithDelegate([&](KRRecorderControl& c, bool committed) {
        EXPECT_EQ(&c, control.get());
        answers.push_back(committed);
    });
    EXPECT_FALSE(control->isRecording());
    EXPECT_TRUE(answers.empty());  // on a later pass of the run loop
    RunLoop::runUntilIdle();
    EXPECT_EQ(answers, std::vector<bool>{true});
    window->makeFirstResponder(control.get());
    ASSERT_TRUE(control->beginRecording());
    EXPECT_FALSE(control->abortEditing());
    EXPECT_FALSE(control->isRecording());

    control->prepareForInterfaceBuilder();
    auto sample = control->shortcut();
    EXPECT_EQ(sample->keyCode(), 0);
    EXPECT_EQ(sample->modifierFlags(), 0x1E0000u);
    EXPECT_EQ(sample->characters(), "");
    EXPECT_EQ(sample->charactersIgnoringModifiers(), "a");
}

TEST_F(KRRecorder, RecordingLabelAndWindowResigningKey) {
    NSEvent::setCurrentModifierFlags(kOption | kShift);
    ASSERT_TRUE(control->beginRecording());
    EXPECT_EQ(control->accessibilityLabel(), "Option-Shift");
    NotificationCenter::defaultCenter().post(NSWindowDidResignKeyNotification, window.get());
    EXPECT_FALSE(control->isRecording());
}

}  // namespace
