#include <gtest/gtest.h>

#include "platform/appkit/NSEvent.h"
#include "platform/masshortcut/MASShortcutView.h"

namespace {
std::shared_ptr<NSEvent> key(uint16_t code, NSEventModifierFlags flags) {
    return NSEvent::keyEvent(NSEventType::KeyDown, code, "", flags, nullptr);
}

struct Recorder {
    Recorder() {
        view->setShortcutValueChange([this](MASShortcutView& sender) {
            values.push_back(sender.shortcutValue() ? sender.shortcutValue()->description() : "none");
        });
    }
    void click() { view->mouseDown(*NSEvent::mouseEvent(NSEventType::LeftMouseDown, {1, 1}, nullptr)); }

    std::shared_ptr<MASShortcutView> view = std::make_shared<MASShortcutView>(CGRect{0, 0, 120, 20});
    std::vector<std::string> values;
};
}  // namespace

TEST(MASShortcutView, EverySetRunsTheChangeBlock) {
    Recorder r;
    r.view->setShortcutValue(MASShortcut::shortcutWithKeyCode(18, NSEventModifierFlagCommand));
    r.view->setShortcutValue(nullptr);
    r.view->setShortcutValue(nullptr);
    EXPECT_EQ(r.values, (std::vector<std::string>{"⌘1", "none", "none"}));
}

TEST(MASShortcutView, RecordsAValidCombinationAfterAClick) {
    Recorder r;
    r.view->keyDown(*key(18, NSEventModifierFlagCommand));
    EXPECT_TRUE(r.values.empty());

    r.click();
    EXPECT_TRUE(r.view->isRecording());
    r.view->keyDown(*key(18, NSEventModifierFlagShift));
    r.view->keyDown(*key(18, NSEventModifierFlagOption));
    EXPECT_TRUE(r.values.empty());
    r.view->keyDown(*key(18, NSEventModifierFlagCommand | NSEventModifierFlagShift));
    EXPECT_FALSE(r.view->isRecording());
    EXPECT_EQ(r.values, std::vector<std::string>{"⇧⌘1"});

    r.view->shortcutValidator()->setAllowAnyShortcutWithOptionModifier(true);
    r.click();
    r.view->keyDown(*key(18, NSEventModifierFlagOption));
    EXPECT_EQ(r.values.back(), "⌥1");
}

TEST(MASShortcutView, EscapeCancelsAndDeleteClears) {
    Recorder r;
    r.view->setShortcutValue(MASShortcut::shortcutWithKeyCode(18, NSEventModifierFlagCommand));
    r.click();
    r.view->keyDown(*key(53, 0));
    EXPECT_FALSE(r.view->isRecording());
    EXPECT_EQ(r.values, std::vector<std::string>{"⌘1"});

    r.click();
    r.view->keyDown(*key(51, 0));
    EXPECT_FALSE(r.view->shortcutValue());
    EXPECT_EQ(r.values.back(), "none");

    r.click();
    r.view->setRecording(false);
    EXPECT_FALSE(r.view->isRecording());
}
