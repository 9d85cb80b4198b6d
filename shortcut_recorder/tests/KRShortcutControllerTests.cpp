#include <gtest/gtest.h>

#include <algorithm>

#include "platform/appkit/testing/EventSimulation.h"
#include "platform/carbon/TextInputSources_simulated.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstance.h"
#include "shortcut_recorder/KRRecorderControl.h"
#include "shortcut_recorder/KRShortcutController.h"
#include "shortcut_recorder/tests/ActionFixture.h"

namespace {

constexpr uint16_t kKeyA = 0, kKeyZ = 6;

// Takes shortcut actions by the protocol, counting them.
class ProtocolTarget : public NSObject, public KRShortcutActionTarget {
  public:
    bool performShortcutAction(KRShortcutAction&) override {
        ++performed;
        return true;
    }
    int performed = 0;
};

class KRShortcutControllers : public ActionTest {
  protected:
    // The shared global monitor starts empty, as in a new process.
    KRShortcutControllers() { resetAllForTesting(); }
    ~KRShortcutControllers() override {
        resetAllForTesting();
        SimulatedTextInput::reset();
    }
    static size_t keyDownCount(const std::shared_ptr<KRShortcutAction>& action) {
        auto actions = KRGlobalShortcutMonitor::sharedMonitor()->actionsForKeyEvent(KRKeyEventKindDown);
        return std::count(actions.begin(), actions.end(), action);
    }

    static std::vector<std::string> selectionValues(const KRShortcutController& controller) {
        std::vector<std::string> values;
        for (const char* key : KRShortcutController::computedKeys()) {
            AnyObject value = controller.valueForKeyPath(std::string("selection.") + key);
            if (NSIsControllerMarker(value))
                values.push_back("<no selection>");
            else if (value.string())
                values.push_back(*value.string());
            else if (value.isNumber())
                values.push_back(std::to_string(value.value()->asInteger().value_or(-1)));
            else
                values.push_back("<nil>");
        }
        return values;
    }
};

TEST_F(KRShortcutControllers, SelectionStringsFollowTheContent) {
    auto controller = KRShortcutController::initWithContent(nullptr);
    EXPECT_EQ(selectionValues(*controller), std::vector<std::string>(8, "<no selection>"));
    for (const char* key : KRShortcutController::computedKeys())
        EXPECT_TRUE(NSIsControllerMarker(controller->valueForKeyPath(std::string("selection.") + key)));
    EXPECT_FALSE(controller->isSelectedKeyboardInputSourceObserved());

    controller->addObject(AnyObject(shortcut(kKeyA, kShift | kCommand)));
    EXPECT_EQ(selectionValues(*controller), (std::vector<std::string>{"a", std::to_string(0x120000), "A", "a",
                                                                      "A", "a", "Shift-Command", "⇧⌘"}));
    EXPECT_TRUE(controller->isSelectedKeyboardInputSourceObserved());

    controller->removeObject(AnyObject(shortcut(kKeyA, kShift | kCommand)));
    EXPECT_EQ(selectionValues(*controller), std::vector<std::string>(8, "<no selection>"));
    EXPECT_FALSE(controller->isSelectedKeyboardInputSourceObserved());
    EXPECT_THROW(
        {
            try {
                controller->newObject();
            } catch (const Exception& e) {
                EXPECT_EQ(e.name(), NSInternalInconsistencyException);
                EXPECT_EQ(e.reason(), "newObject is not implemented");
                throw;
            }
        },
        Exception);
}

TEST_F(KRShortcutControllers, ALayoutChangeAnnouncesTheKeyStrings) {
    auto controller = KRShortcutController::initWithContent(shortcut(kKeyZ, kCommand));
    NoticeRecorder recorder;
    std::vector<std::string> paths;
    for (const char* key : KRShortcutController::computedKeys())
        paths.push_back(std::string("selection.") + key);
    recorder.observe(*controller, paths);
    ASSERT_EQ(TISSelectInputSource(SimulatedTextInput::qwertzLayout()), noErr);
    RunLoop::runUntilIdle();
    EXPECT_EQ(recorder.notices, (std::vector<std::string>{
                                    "prior selection.keyEquivalent", "prior selection.literalKeyCode",
                                    "prior selection.symbolicKeyCode", "prior selection.literalASCIIKeyCode",
                                    "prior selection.symbolicASCIIKeyCode", "selection.symbolicASCIIKeyCode",
                                    "selection.literalASCIIKeyCode", "selection.symbolicKeyCode",
                                    "selection.literalKeyCode", "selection.keyEquivalent"}));
    auto values = selectionValues(*controller);
    EXPECT_EQ(values[0], "y");
    EXPECT_EQ(values[2], "Y");
    EXPECT_EQ(values[3], "y");
}

TEST_F(KRShortcutControllers, ATargetMakesAGlobalHotKeyOfTheContent) {
    auto monitor = KRGlobalShortcutMonitor::sharedMonitor();
    auto controller = KRShortcutController::initWithContent(shortcut(kKeyA, kShift | kCommand));
    controller->setIdentifier("toggle");
    NoticeRecorder recorder;
    recorder.observe(*controller, {"shortcutAction", "shortcutActionTarget"}, 0);
    auto target = std::make_shared<ProtocolTarget>();

    controller->setShortcutActionTarget(target);
    auto action = controller->shortcutAction();
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->identifier(), "toggle");
    EXPECT_EQ(controller->shortcutActionTarget(), target);
    EXPECT_EQ(monitor->actionsForKeyEvent(KRKeyEventKindDown).size(), 1u);
    EXPECT_EQ(keyDownCount(action), 1u);
    EXPECT_TRUE(simulate::pressKey(kKeyA, kShift | kCommand));
    RunLoop::runUntilIdle();
    EXPECT_EQ(target->performed, 1);

    controller->setShortcutActionTarget(target);  // the same target: nothing
    controller->setShortcutActionTarget(nullptr);
    EXPECT_EQ(controller->shortcutAction(), nullptr);
    EXPECT_EQ(keyDownCount(action), 0u);
    EXPECT_TRUE(monitor->actionsForKeyEvent(KRKeyEventKindDown).empty());
    EXPECT_EQ(recorder.notices, (std::vector<std::string>{"shortcutAction", "shortcutActionTarget",
                                                          "shortcutAction", "shortcutActionTarget"}));
}

TEST_F(KRShortcutControllers, TheRecorderControlIsBoundWhereTheContentIs) {
    auto controller = KRShortcutController::initWithContent(nullptr);
    auto control = KRRecorderControl::initWithFrame({0, 0, 150, 24});
    auto model = std::make_shared<NSObject>();
    controller->setRecorderControl(control);
    EXPECT_FALSE(control->infoForBinding(NSValueBinding));  // no content binding yet

    controller->bind(NSContentObjectBinding, {model, nullptr}, "shortcut",
                     NSBindingOptions{nullptr, "KRKeyBindingTransformer"});
    auto info = control->infoForBinding(NSValueBinding);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->observedObject.object, model);
    EXPECT_EQ(info->observedKeyPath, "shortcut");
    ASSERT_TRUE(info->options);
    EXPECT_EQ(info->options->valueTransformerName, "KRKeyBindingTransformer");

    auto other = KRRecorderControl::initWithFrame({0, 0, 150, 24});
    controller->setRecorderControl(other);
    EXPECT_FALSE(control->infoForBinding(NSValueBinding));  // the previous control is let go
    EXPECT_TRUE(other->infoForBinding(NSValueBinding));
}

}  // namespace
