// The shortcut monitor's hot keys on a real X server: key grabs on the root window, read back by a
// second client of the server.
#include <gtest/gtest.h>

#include "platform/carbon/TextInputSources_simulated.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/masshortcut/MASShortcutMonitor.h"
#include "platform/windowserver/X11Desktop.h"
#include "platform/windowserver/testing/X11TestServer.h"

namespace {
constexpr NSEventModifierFlags kCmd = NSEventModifierFlagCommand;
constexpr NSEventModifierFlags kShift = NSEventModifierFlagShift;
constexpr int64_t kKeyK = 40, kKeyL = 37, kKeyY = 16;

class MonitorOnX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(x11.ready()) << "Xvfb or the window manager did not start";
        std::string error;
        ASSERT_TRUE(X11Desktop::connect(x11.display(), nullptr, &error)) << error;
    }
    void TearDown() override {
        monitor->unregisterAllShortcuts();
        RunLoop::runUntilIdle();
        X11Desktop::disconnect();
        resetAllForTesting();
    }

    X11TestServer x11;
    std::shared_ptr<MASShortcutMonitor> monitor = MASShortcutMonitor::sharedMonitor();
};
}  // namespace

// A key that another client holds cannot be registered; a free one is grabbed, and its press runs
// the action on the main run loop, while the same key with other modifiers does not.
TEST_F(MonitorOnX11, AKeyAnotherClientHoldsIsTakenAndAFreeOneRunsItsActionOnTheMainRunLoop) {
    ASSERT_TRUE(x11.grabKey(XK_k, XCB_MOD_MASK_4));
    EXPECT_FALSE(monitor->registerShortcut(MASShortcut::shortcutWithKeyCode(kKeyK, kCmd), [] {}));
    EXPECT_TRUE(monitor->registeredShortcuts().empty());

    int ran = 0;
    ASSERT_TRUE(monitor->registerShortcut(MASShortcut::shortcutWithKeyCode(kKeyL, kCmd | kShift), [&] {
        EXPECT_TRUE(DispatchQueue::isMainThread());
        ++ran;
    }));
    EXPECT_TRUE(x11.keyTakenByAnother(XK_l, XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT));
    x11.press(XK_l, {XK_Super_L});
    x11.press(XK_l, {XK_Super_L, XK_Shift_L});
    EXPECT_TRUE(eventually([&] {
        RunLoop::runUntilIdle();
        return ran > 0;
    }));
    EXPECT_EQ(ran, 1);

    monitor->unregisterShortcut(MASShortcut::shortcutWithKeyCode(kKeyL, kCmd | kShift));
    EXPECT_FALSE(x11.keyTakenByAnother(XK_l, XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT));
}

// A key code names the key by what it types on the current layout: on a QWERTZ layout the key
// that types "y" on a US keyboard types "z", so the server's Z key is grabbed.
TEST_F(MonitorOnX11, KeysAreFoundThroughTheCurrentKeyboardLayout) {
    ASSERT_EQ(TISSelectInputSource(SimulatedTextInput::qwertzLayout()), noErr);
    ASSERT_TRUE(monitor->registerShortcut(MASShortcut::shortcutWithKeyCode(kKeyY, kCmd), [] {}));
    EXPECT_TRUE(x11.keyTakenByAnother(XK_z, XCB_MOD_MASK_4));
    EXPECT_FALSE(x11.keyTakenByAnother(XK_y, XCB_MOD_MASK_4));
}
