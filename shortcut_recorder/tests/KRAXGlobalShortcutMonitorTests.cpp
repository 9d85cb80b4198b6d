#include <gtest/gtest.h>

#include "platform/appkit/testing/EventSimulation.h"
#include "platform/windowserver/CGEventTap_simulated.h"
#include "shortcut_recorder/tests/ActionFixture.h"

namespace {

constexpr uint16_t kKeyK = 40;
constexpr uint16_t kShiftKey = 56;

// What reaches the application after the taps and hot keys let it pass.
class ApplicationKeys {
  public:
    ApplicationKeys()
        : subscription_(SimulatedDesktop::shared().subscribeToInput(SimulatedDesktop::InputStage::Application,
                                                                    [this](const SimulatedInputEvent& input) {
                                                                        received.push_back(input.keyCode);
                                                                        return true;
                                                                    })) {}
    std::vector<uint16_t> received;

  private:
    SimulatedInputSubscription subscription_;
};

class EventTapMonitors : public ActionTest {
  protected:
    EventTapMonitors() { SimulatedDesktop::shared().setTrusted(true); }
    ~EventTapMonitors() override { SimulatedDesktop::shared().setTrusted(true); }

    static void key(NSEventType type, uint16_t keyCode, uint64_t flags) {
        simulate::post(type, flags, keyCode, "", {}, nullptr);
    }
};

TEST_F(EventTapMonitors, AnUntrustedProcessGetsNoMonitor) {
    SimulatedDesktop::shared().setTrusted(false);
    EXPECT_EQ(KRAXGlobalShortcutMonitor::create(), nullptr);
    EXPECT_EQ(trace.count("#Critical Unable to create event tap: make sure Accessibility is enabled"), 1u);
    EXPECT_EQ(SimulatedEventTaps::liveTapCount(), 0u);
}

TEST_F(EventTapMonitors, AListenOnlyTapCannotSwallowWhatItPerforms) {
    auto monitor = KRAXGlobalShortcutMonitor::create();
    ASSERT_TRUE(monitor);
    EXPECT_TRUE(CGEventTapIsEnabled(monitor->eventTap()));
    EXPECT_EQ(monitor->eventTapRunLoop(), CFRunLoopGetCurrent());
    int performed = 0;
    monitor->addAction(counting(kKeyK, kCommand, performed), KRKeyEventKindDown);
    ApplicationKeys application;
    key(NSEventType::KeyDown, kKeyK, kCommand);
    EXPECT_EQ(performed, 1);
    EXPECT_EQ(trace.count("#Developer #Error The monitor is not configured to actively filter events"), 1u);
    EXPECT_EQ(application.received, std::vector<uint16_t>{kKeyK});

    auto performedEvent = SimulatedEventTaps::makeKeyEvent(kCGEventKeyDown, kKeyK, kCommand);
    EXPECT_EQ(monitor->handleEvent(performedEvent.get()), nullptr);
    auto otherEvent = SimulatedEventTaps::makeKeyEvent(kCGEventKeyDown, kKeyK, kOption);
    EXPECT_EQ(monitor->handleEvent(otherEvent.get()), otherEvent.get());
    EXPECT_EQ(performed, 2);
}

TEST_F(EventTapMonitors, AnActiveTapSwallowsOnlyPerformedKeys) {
    auto monitor = KRAXGlobalShortcutMonitor::create(CFRunLoopGetMain(), kCGEventTapOptionDefault);
    ASSERT_TRUE(monitor);
    int performed = 0, refused = 0;
    monitor->addAction(counting(kKeyK, kCommand, performed), KRKeyEventKindDown);
    monitor->addAction(counting(kKeyK, kCommand | kShift, refused, false), KRKeyEventKindDown);
    ApplicationKeys application;
    key(NSEventType::KeyDown, kKeyK, kCommand);
    key(NSEventType::KeyUp, kKeyK, kCommand);
    key(NSEventType::KeyDown, kKeyK, kCommand | kShift);
    EXPECT_EQ(performed, 1);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(application.received, (std::vector<uint16_t>{kKeyK, kKeyK}));  // the key up and the refused one
    EXPECT_EQ(trace.count("#Developer #Error The monitor is not configured to actively filter events"), 0u);
}

TEST_F(EventTapMonitors, AModifierAloneIsAShortcutWhenPressedButNotWhenReleased) {
    auto monitor = KRAXGlobalShortcutMonitor::create();
    ASSERT_TRUE(monitor);
    int pressed = 0, released = 0;
    monitor->addAction(counting(KRKeyCodeNone, kShift, pressed), KRKeyEventKindDown);
    monitor->addAction(counting(KRKeyCodeNone, kShift, released), KRKeyEventKindUp);
    key(NSEventType::FlagsChanged, kShiftKey, kShift);
    key(NSEventType::FlagsChanged, kShiftKey, 0);
    EXPECT_EQ(pressed, 1);
    EXPECT_EQ(released, 0);  // looked up under no key and no flags
}

TEST_F(EventTapMonitors, TheTapFollowsTheTableAndTheSystemsNotices) {
    auto monitor = KRAXGlobalShortcutMonitor::create();
    ASSERT_TRUE(monitor);
    SimulatedEventTaps::postTapDisabled(kCGEventTapDisabledByTimeout);
    EXPECT_TRUE(CGEventTapIsEnabled(monitor->eventTap()));  // re-enabled with an empty table
    EXPECT_EQ(trace.count("#Error #Developer The system disabled event tap due to 4294967294"), 1u);

    int performed = 0;
    auto a = counting(kKeyK, kCommand, performed);
    monitor->addAction(a, KRKeyEventKindDown);
    monitor->removeAction(a);
    EXPECT_FALSE(CGEventTapIsEnabled(monitor->eventTap()));
    monitor->addAction(a, KRKeyEventKindDown);
    EXPECT_TRUE(CGEventTapIsEnabled(monitor->eventTap()));
    SimulatedEventTaps::postTapDisabled(kCGEventTapDisabledByUserInput);
    EXPECT_TRUE(CGEventTapIsEnabled(monitor->eventTap()));
}

TEST_F(EventTapMonitors, NoKeyReachesADestroyedMonitor) {
    int performed = 0;
    auto a = counting(kKeyK, kCommand, performed);
    {
        auto monitor = KRAXGlobalShortcutMonitor::create(CFRunLoopGetMain(), kCGEventTapOptionDefault);
        ASSERT_TRUE(monitor);
        monitor->addAction(a, KRKeyEventKindDown);
        EXPECT_EQ(SimulatedEventTaps::liveTapCount(), 1u);
    }
    EXPECT_EQ(SimulatedEventTaps::liveTapCount(), 0u);
    ApplicationKeys application;
    key(NSEventType::KeyDown, kKeyK, kCommand);
    EXPECT_EQ(performed, 0);
    EXPECT_EQ(application.received, std::vector<uint16_t>{kKeyK});
    a->setEnabled(false);  // no monitor hears it
}

}  // namespace
