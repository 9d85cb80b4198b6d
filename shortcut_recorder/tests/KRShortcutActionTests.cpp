#include <gtest/gtest.h>

#include "platform/appkit/NSController.h"
#include "platform/foundation/Exception.h"
#include "shortcut_recorder/tests/ActionFixture.h"

namespace {

constexpr uint16_t kKeyA = 0;
constexpr uint16_t kKeyB = 11;

using ShortcutActions = ActionTest;

// A model whose "shortcut" key holds any value, posting its notices automatically.
class Model : public NSKeyValueObserving {
  public:
    AnyObject valueForKeyPath(std::string_view keyPath) const override {
        return keyPath == "shortcut" ? value : AnyObject();
    }
    void set(AnyObject newValue) {
        changeValueForKey("shortcut", [&] { value = std::move(newValue); });
    }
    AnyObject value;
};

// A controller's notices carry no new value: the action reads it again.
class Controller : public NSController {
  public:
    AnyObject valueForKeyPath(std::string_view keyPath) const override {
        return keyPath == "content" ? content : AnyObject();
    }
    void setContent(AnyObject newContent) {
        willChangeValueForKey("content");
        content = std::move(newContent);
        didChangeValueForKey("content");
    }
    AnyObject content;
};

TEST_F(ShortcutActions, ANewActionIsEnabledWithTagZeroAndTargetsTheApplication) {
    auto action = KRShortcutAction::create();
    EXPECT_TRUE(action->isEnabled());
    EXPECT_EQ(action->tag(), 0);
    EXPECT_EQ(action->target(), std::static_pointer_cast<NSObject>(NSApplication::sharedApplication()));
    EXPECT_EQ(action->shortcut(), nullptr);
}

TEST_F(ShortcutActions, AHandlerAndATargetExcludeEachOther) {
    auto action = KRShortcutAction::create();
    auto target = std::make_shared<ActionTarget>();
    action->setTarget(target);
    NoticeRecorder recorder;
    recorder.observe(*action, {"target", "actionHandler"});

    action->setActionHandler([](KRShortcutAction&) { return true; });
    EXPECT_EQ(recorder.notices,
              (std::vector<std::string>{"prior actionHandler", "prior target", "target", "actionHandler"}));
    EXPECT_NE(action->target(), std::static_pointer_cast<NSObject>(target));
    recorder.notices.clear();

    action->setTarget(target);
    EXPECT_EQ(recorder.notices,
              (std::vector<std::string>{"prior target", "prior actionHandler", "actionHandler", "target"}));
    EXPECT_FALSE(action->actionHandler());
    recorder.notices.clear();

    action->setTarget(target);
    EXPECT_TRUE(recorder.notices.empty());
}

TEST_F(ShortcutActions, SettingAnEqualShortcutStillEndsTheBinding) {
    auto model = std::make_shared<Model>();
    model->value = AnyObject(shortcut(kKeyA, kCommand));
    auto action = KRShortcutAction::shortcutActionWithKeyPath("shortcut", model,
                                                              [](KRShortcutAction&) { return true; });
    ASSERT_TRUE(action->shortcut());
    EXPECT_EQ(action->observedObject(), model);
    NoticeRecorder recorder;
    recorder.observe(*action, {"shortcut", "observedObject", "observedKeyPath"});

    action->setShortcut(shortcut(kKeyA, kCommand));
    EXPECT_EQ(recorder.notices, (std::vector<std::string>{"prior observedObject", "prior observedKeyPath",
                                                          "observedKeyPath", "observedObject"}));
    EXPECT_EQ(action->observedObject(), nullptr);
    EXPECT_EQ(action->observedKeyPath(), "");
    model->set(AnyObject(shortcut(kKeyB, 0)));  // no longer followed
    EXPECT_TRUE(action->shortcut()->isEqual(shortcut(kKeyA, kCommand).get()));

    recorder.notices.clear();
    action->setShortcut(shortcut(kKeyB, 0));
    EXPECT_EQ(std::count(recorder.notices.begin(), recorder.notices.end(), "shortcut"), 1);
}

TEST_F(ShortcutActions, ABoundKeyPathSetsTheShortcutFromEachKindOfValue) {
    auto model = std::make_shared<Model>();
    model->value = AnyObject(Value(Dictionary{{"keyCode", kKeyA}, {"modifierFlags", kCommand}}));
    auto action = KRShortcutAction::shortcutActionWithKeyPath(
        "shortcut", model, std::make_shared<ActionTarget>(), "voidAction:", 3);
    ASSERT_TRUE(action->shortcut());  // at once, from the current value
    EXPECT_TRUE(action->shortcut()->isEqual(shortcut(kKeyA, kCommand).get()));
    EXPECT_EQ(action->tag(), 3);

    model->set(AnyObject(Value()));  // NSNull
    EXPECT_EQ(action->shortcut(), nullptr);

    auto archived = KeyedArchiver::archivedDataWithRootObject(Archived(shortcut(kKeyB, kShift)), true);
    ASSERT_TRUE(archived);
    model->set(AnyObject(Value(*archived)));
    ASSERT_TRUE(action->shortcut());
    EXPECT_TRUE(action->shortcut()->isEqual(shortcut(kKeyB, kShift).get()));

    auto object = shortcut(kKeyA, kOption);
    model->set(AnyObject(object));
    EXPECT_EQ(action->shortcut(), object);

    model->set(AnyObject(Value("not a shortcut")));
    EXPECT_EQ(action->shortcut(), nullptr);
}

TEST_F(ShortcutActions, AControllersValueIsReadAgain) {
    auto controller = std::make_shared<Controller>();
    auto action = KRShortcutAction::shortcutActionWithKeyPath("content", controller,
                                                              [](KRShortcutAction&) { return true; });
    EXPECT_EQ(action->shortcut(), nullptr);
    controller->setContent(AnyObject(shortcut(kKeyA, kControl)));
    ASSERT_TRUE(action->shortcut());
    EXPECT_TRUE(action->shortcut()->isEqual(shortcut(kKeyA, kControl).get()));
}

TEST_F(ShortcutActions, PerformingUsesTheSelectorsSignature) {
    struct Case {
        const char* selector;
        bool answer;
        bool performed;
        std::vector<std::string> calls;
    } cases[] = {
        {"voidAction:", false, true, {"voidAction:"}},
        {"boolAction:", false, false, {"boolAction:"}},
        {"boolAction:", true, true, {"boolAction:"}},
        {"noArgument", true, true, {"noArgument"}},
        {"twoArguments::", true, false, {}},
        {"unknown:", true, false, {}},
        {"", true, false, {}},
    };
    for (const auto& c : cases) {
        auto target = std::make_shared<ActionTarget>(c.answer);
        auto action =
            KRShortcutAction::shortcutActionWithShortcut(shortcut(kKeyA, kCommand), target, c.selector, 0);
        EXPECT_EQ(action->performActionOnTarget(nullptr), c.performed) << c.selector;
        EXPECT_EQ(target->calls, c.calls) << c.selector;
        if (std::string(c.selector) == "voidAction:") {
            EXPECT_EQ(target->received, action.get());
        }
        if (std::string(c.selector) == "noArgument") {
            EXPECT_EQ(target->received, nullptr);
        }
    }
    EXPECT_EQ(trace.count("Not performed: target cannot respond to action"), 2u);
}

TEST_F(ShortcutActions, RefusalsEachWriteTheirLine) {
    auto refusing = std::make_shared<ActionTarget>(true, false);
    auto action =
        KRShortcutAction::shortcutActionWithShortcut(shortcut(kKeyA, kCommand), refusing, "voidAction:", 0);
    EXPECT_FALSE(action->performActionOnTarget(nullptr));
    EXPECT_TRUE(refusing->calls.empty());
    EXPECT_EQ(refusing->validatedActions, std::vector<std::string>{"voidAction:"});
    EXPECT_EQ(trace.count("Not performed: target ignored action"), 1u);

    // A given receiver replaces the action's own target.
    auto other = std::make_shared<ActionTarget>(true, true);
    EXPECT_TRUE(action->performActionOnTarget(other.get()));
    EXPECT_EQ(other->calls, std::vector<std::string>{"voidAction:"});

    action->setEnabled(false);
    EXPECT_FALSE(action->performActionOnTarget(other.get()));
    EXPECT_EQ(trace.count("Not performed: disabled"), 1u);

    // The application answers no selector of these.
    auto untargeted =
        KRShortcutAction::shortcutActionWithShortcut(shortcut(kKeyA, 0), nullptr, "voidAction:", 0);
    EXPECT_FALSE(untargeted->performActionOnTarget(nullptr));
    EXPECT_EQ(trace.count("Not performed: target cannot respond to action"), 1u);
}

TEST_F(ShortcutActions, HandlersAndProtocolTargetsPerform) {
    int handled = 0;
    auto action = KRShortcutAction::shortcutActionWithShortcut(shortcut(kKeyA, 0), [&](KRShortcutAction& a) {
        ++handled;
        return a.tag() == 0;
    });
    EXPECT_TRUE(action->performActionOnTarget(nullptr));
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(trace.count("Using action handler"), 1u);

    struct ProtocolTarget : NSObject, KRShortcutActionTarget {
        bool performShortcutAction(KRShortcutAction&) override { return ++performed > 0; }
        int performed = 0;
    };
    auto target = std::make_shared<ProtocolTarget>();
    auto viaProtocol =
        KRShortcutAction::shortcutActionWithShortcut(shortcut(kKeyA, 0), target, "missing:", 0);
    EXPECT_TRUE(viaProtocol->performActionOnTarget(nullptr));
    EXPECT_EQ(target->performed, 1);
    EXPECT_EQ(trace.count("Using protocol"), 1u);
}

TEST_F(ShortcutActions, FlagsChangesAreKeyDownWhileTheModifierIsHeld) {
    struct Case {
        unsigned long type;
        uint16_t keyCode;
        uint64_t flags;
        KRKeyEventKind kind;
    } cases[] = {
        {10, kKeyA, 0, KRKeyEventKindDown},     {11, kKeyA, kCommand, KRKeyEventKindUp},
        {12, 61, kOption, KRKeyEventKindDown},  {12, 61, 0, KRKeyEventKindUp},
        {12, 55, kCommand, KRKeyEventKindDown}, {12, 60, kCommand, KRKeyEventKindUp},
        {12, 59, kControl, KRKeyEventKindDown}, {12, 57, 0, KRKeyEventKindDown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KR_keyEventTypeForEventType(c.type, c.keyCode, c.flags), c.kind)
            << c.type << " " << c.keyCode;
    EXPECT_EQ(trace.count("#Error Unexpected key code 57 for the FlagsChanged event"), 1u);
    auto event = NSEvent::keyEvent(NSEventType::FlagsChanged, 58, "", kOption, nullptr);
    EXPECT_EQ(KR_keyEventType(*event), KRKeyEventKindDown);

    try {
        KR_keyEventTypeForEventType(1, kKeyA, 0);
        ADD_FAILURE() << "a mouse event has a key event kind";
    } catch (const Exception& e) {
        EXPECT_EQ(e.name(), NSInternalInconsistencyException);
        EXPECT_EQ(e.reason(), "Expected a key event, got 1");
    }
}

}  // namespace
