#include <gtest/gtest.h>

#include "platform/appkit/testing/EventSimulation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/masshortcut/MASShortcutMonitor.h"

namespace {
constexpr NSEventModifierFlags kCmd = NSEventModifierFlagCommand;
constexpr NSEventModifierFlags kShift = NSEventModifierFlagShift;

class Monitor : public ::testing::Test {
  protected:
    ~Monitor() override {
        monitor->unregisterAllShortcuts();
        RunLoop::runUntilIdle();
    }
    std::shared_ptr<MASShortcutMonitor> monitor = MASShortcutMonitor::sharedMonitor();
};
}  // namespace

TEST(MASShortcutValue, EqualityDescriptionAndArchive) {
    auto shortcut = MASShortcut::shortcutWithKeyCode(18, kShift | kCmd | NSEventModifierFlagOption);
    EXPECT_EQ(*shortcut, MASShortcut(18, kShift | kCmd | NSEventModifierFlagOption));
    EXPECT_FALSE(*shortcut == MASShortcut(18, kCmd));
    EXPECT_FALSE(*shortcut == MASShortcut(19, kShift | kCmd | NSEventModifierFlagOption));
    EXPECT_EQ(shortcut->description(), "⌥⇧⌘1");
    EXPECT_EQ(MASShortcut(123, NSEventModifierFlagControl).description(), "⌃←");

    auto data = KeyedArchiver::archivedDataWithRootObject(Archived(shortcut), true);
    ASSERT_TRUE(data);
    auto decoded = KeyedUnarchiver::unarchivedObject(*data, {MASShortcut::archiveClass()});
    ASSERT_TRUE(decoded);
    ASSERT_TRUE(decoded->objectAs<MASShortcut>());
    EXPECT_EQ(*decoded->objectAs<MASShortcut>(), *shortcut);
}

TEST_F(Monitor, PressRunsTheMatchingActionOnTheMainQueue) {
    std::vector<std::string> ran;
    monitor->registerShortcut(MASShortcut::shortcutWithKeyCode(18, kCmd), [&] { ran.push_back("cmd-1"); });
    monitor->registerShortcut(MASShortcut::shortcutWithKeyCode(18, kCmd | kShift),
                              [&] { ran.push_back("shift-cmd-1"); });

    EXPECT_TRUE(simulate::pressKey(18, kCmd | NSEventModifierFlagCapsLock));
    EXPECT_TRUE(ran.empty());
    RunLoop::runUntilIdle();
    EXPECT_EQ(ran, std::vector<std::string>{"cmd-1"});

    EXPECT_FALSE(simulate::pressKey(18, 0));
    EXPECT_FALSE(simulate::pressKey(19, kCmd));
    EXPECT_TRUE(simulate::pressKey(18, kCmd | kShift));
    RunLoop::runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"cmd-1", "shift-cmd-1"}));
}

TEST_F(Monitor, UnregisterTakesAnEqualValue) {
    int count = 0;
    monitor->registerShortcut(MASShortcut::shortcutWithKeyCode(18, kCmd), [&] { ++count; });
    monitor->unregisterShortcut(MASShortcut::shortcutWithKeyCode(18, kShift));
    EXPECT_TRUE(monitor->isShortcutRegistered(MASShortcut::shortcutWithKeyCode(18, kCmd)));
    monitor->unregisterShortcut(MASShortcut::shortcutWithKeyCode(18, kCmd));
    EXPECT_FALSE(simulate::pressKey(18, kCmd));
    EXPECT_TRUE(monitor->registeredShortcuts().empty());
}

TEST_F(Monitor, ATakenHotkeyFailsToRegisterAndTheFirstKeepsIt) {
    std::string last;
    EXPECT_TRUE(
        monitor->registerShortcut(MASShortcut::shortcutWithKeyCode(18, kCmd), [&] { last = "first"; }));
    EXPECT_FALSE(
        monitor->registerShortcut(MASShortcut::shortcutWithKeyCode(18, kCmd), [&] { last = "second"; }));
    // Flags outside ⌃⌥⇧⌘ make no other hotkey.
    EXPECT_FALSE(monitor->registerShortcut(
        MASShortcut::shortcutWithKeyCode(18, kCmd | NSEventModifierFlagCapsLock), [&] { last = "third"; }));
    EXPECT_EQ(monitor->registeredShortcuts().size(), 1u);
    simulate::pressKey(18, kCmd);
    RunLoop::runUntilIdle();
    EXPECT_EQ(last, "first");

    monitor->unregisterAllShortcuts();
    EXPECT_FALSE(simulate::pressKey(18, kCmd));
}

// Hotkeys and the application read one input stream: a press that a hotkey takes never reaches the
// application's local monitors or its windows; any other key passes through both.
TEST_F(Monitor, AHotkeyTakesItsPressBeforeTheApplicationSeesIt) {
    int ran = 0;
    monitor->registerShortcut(MASShortcut::shortcutWithKeyCode(18, kCmd), [&] { ++ran; });
    struct KeyView : NSView {
        using NSView::NSView;
        bool acceptsFirstResponder() const override { return true; }
        void keyDown(const NSEvent& event) override { keys.push_back(event.keyCode()); }
        std::vector<uint16_t> keys;
    };
    auto window = std::make_shared<NSWindow>(CGRect{0, 0, 200, 100}, NSWindowStyleMaskTitled,
                                             NSBackingStoreType::Buffered, false);
    auto view = std::make_shared<KeyView>(CGRect{0, 0, 200, 100});
    window->contentView()->addSubview(view);
    window->makeFirstResponder(view.get());
    std::vector<uint16_t> monitored;
    auto localMonitor = NSEvent::addLocalMonitorForEventsMatchingMask(
        NSEventMaskFromType(NSEventType::KeyDown), [&](const std::shared_ptr<NSEvent>& event) {
            monitored.push_back(event->keyCode());
            return event;
        });

    simulate::keyDown(window, 18, "1", kCmd);
    simulate::keyDown(window, 19, "2", kCmd);
    RunLoop::runUntilIdle();
    NSEvent::removeMonitor(localMonitor);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(monitored, std::vector<uint16_t>{19});
    EXPECT_EQ(view->keys, std::vector<uint16_t>{19});
}
