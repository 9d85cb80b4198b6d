#include <gtest/gtest.h>

#include "platform/appkit/testing/EventSimulation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "shortcut_recorder/tests/ActionFixture.h"

namespace {

constexpr uint16_t kKeyK = 40;
constexpr uint16_t kKeyS = 1;
constexpr uint16_t kShiftKey = 56;

class GlobalShortcutMonitors : public ActionTest {
  protected:
    // The hot-key ids start at 1 again, as in a new process.
    GlobalShortcutMonitors() { resetAllForTesting(); }
    ~GlobalShortcutMonitors() override {
        monitor.reset();
        resetAllForTesting();
    }

    static std::vector<uint32_t> hotKeyIds() {
        std::vector<uint32_t> ids;
        for (const auto& hotKey : SimulatedCarbonEvents::registeredHotKeys())
            ids.push_back(hotKey.hotKeyID.id);
        return ids;
    }
    static OSStatus press(uint32_t id, uint32_t kind = kEventHotKeyPressed,
                          OSType signature = KRGlobalShortcutMonitor::kSignature) {
        auto event =
            SimulatedCarbonEvents::makeEvent(kEventClassKeyboard, kind, EventHotKeyID{signature, id});
        return SimulatedCarbonEvents::dispatch(event->ref());
    }

    std::unique_ptr<KRGlobalShortcutMonitor> monitor = std::make_unique<KRGlobalShortcutMonitor>();
};

TEST_F(GlobalShortcutMonitors, HotKeysGetNewIdsAfterAPause) {
    int performed = 0;
    auto a = counting(kKeyK, kCommand | kShift, performed);
    monitor->addAction(a, KRKeyEventKindDown);
    EXPECT_EQ(hotKeyIds(), std::vector<uint32_t>{1});
    ASSERT_EQ(SimulatedCarbonEvents::registeredHotKeys()[0].keyCode, kKeyK);
    EXPECT_EQ(SimulatedCarbonEvents::registeredHotKeys()[0].modifiers, 0x300u);
    EXPECT_EQ(SimulatedCarbonEvents::installedHandlerCount(), 1u);
    EXPECT_EQ(trace.count("Registered Carbon hot key 1"), 1u);
    auto lines = trace.lines();
    auto registered = std::find_if(lines.begin(), lines.end(),
                                   [](auto& l) { return l.message == "Registered Carbon hot key 1"; });
    EXPECT_EQ(registered->payload,
              Value(Dictionary{{"keyCode", uint64_t(kKeyK)}, {"modifierFlags", kCommand | kShift}}));

    monitor->pause();
    monitor->pause();
    EXPECT_TRUE(hotKeyIds().empty());
    EXPECT_EQ(SimulatedCarbonEvents::installedHandlerCount(), 0u);
    monitor->resume();
    EXPECT_TRUE(hotKeyIds().empty());
    EXPECT_EQ(SimulatedCarbonEvents::installedHandlerCount(), 0u);
    monitor->resume();
    EXPECT_EQ(hotKeyIds(), std::vector<uint32_t>{2});
    EXPECT_EQ(SimulatedCarbonEvents::installedHandlerCount(), 1u);
    EXPECT_EQ(trace.count("Global Shortcut Monitor counter: 1 -> 2"), 1u);

    EXPECT_EQ(press(2), noErr);
    EXPECT_EQ(performed, 1);
    EXPECT_EQ(press(1), eventNotHandledErr);  // the old id is gone
    EXPECT_EQ(trace.count("Unregistered hot key with id 1 and signature 1397904210"), 1u);
}

TEST_F(GlobalShortcutMonitors, AModifierOnlyShortcutIsNeverAHotKey) {
    int performed = 0;
    monitor->addAction(counting(KRKeyCodeNone, kShift, performed), KRKeyEventKindDown);
    EXPECT_TRUE(hotKeyIds().empty());
    EXPECT_EQ(SimulatedCarbonEvents::installedHandlerCount(), 0u);
    EXPECT_EQ(trace.count("#Error Shortcut without a key code cannot be registered as Carbon hot key"), 1u);
    EXPECT_FALSE(simulate::post(NSEventType::FlagsChanged, kShift, kShiftKey, "", {}, nullptr));
    RunLoop::runUntilIdle();
    EXPECT_EQ(performed, 0);
}

TEST_F(GlobalShortcutMonitors, ActionsAreTriedFromTheLastAdded) {
    int first = 0, second = 0;
    monitor->addAction(counting(kKeyS, kCommand, first, false), KRKeyEventKindDown);
    monitor->addAction(counting(kKeyS, kCommand, second, false), KRKeyEventKindDown);
    EXPECT_EQ(press(1), eventNotHandledErr);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(first, 1);

    int third = 0;
    monitor->addAction(counting(kKeyS, kCommand, third, true), KRKeyEventKindDown);
    EXPECT_EQ(press(1), noErr);
    EXPECT_EQ(third, 1);
    EXPECT_EQ(second, 1);

    EXPECT_EQ(press(1, kEventHotKeyReleased), eventNotHandledErr);
    EXPECT_EQ(trace.count("No actions for the shortcut"), 1u);
}

TEST_F(GlobalShortcutMonitors, EventsNotForThisMonitorChangeNothing) {
    int performed = 0;
    monitor->addAction(counting(kKeyS, kCommand, performed), KRKeyEventKindDown);
    EXPECT_EQ(press(1, kEventHotKeyPressed, 0x41424344), eventNotHandledErr);
    EXPECT_EQ(press(0), eventNotHandledErr);
    EXPECT_EQ(trace.count("#Error Unexpected hot key with id 0 and signature: 1397904210"), 1u);
    EXPECT_EQ(monitor->handleEvent(
                  SimulatedCarbonEvents::makeEvent(kEventClassKeyboard, kEventHotKeyPressed)->ref()),
              eventNotHandledErr);
    EXPECT_EQ(trace.count("#Critical Failed to get hot key ID: -9874"), 1u);
    auto mouse = SimulatedCarbonEvents::makeEvent(0x6D6F7573, 1,
                                                  EventHotKeyID{KRGlobalShortcutMonitor::kSignature, 1});
    EXPECT_EQ(SimulatedCarbonEvents::dispatch(mouse->ref()), eventNotHandledErr);
    EXPECT_EQ(performed, 0);
    EXPECT_EQ(hotKeyIds(), std::vector<uint32_t>{1});
}

TEST_F(GlobalShortcutMonitors, RemovingTheLastActionRemovesHotKeyAndHandler) {
    int performed = 0;
    auto a = counting(kKeyS, kCommand, performed), b = counting(kKeyK, kCommand, performed);
    monitor->addAction(a, KRKeyEventKindDown);
    monitor->addAction(b, KRKeyEventKindUp);
    EXPECT_EQ(hotKeyIds(), (std::vector<uint32_t>{1, 2}));
    monitor->removeAction(a);
    EXPECT_EQ(hotKeyIds(), std::vector<uint32_t>{2});
    EXPECT_EQ(SimulatedCarbonEvents::installedHandlerCount(), 1u);
    monitor->removeAction(b);
    EXPECT_TRUE(hotKeyIds().empty());
    EXPECT_EQ(SimulatedCarbonEvents::installedHandlerCount(), 0u);
    EXPECT_EQ(trace.count("Removed Carbon HotKey Event Handler"), 1u);
}

TEST_F(GlobalShortcutMonitors, AFailedRegistrationSpendsItsId) {
    int performed = 0;
    SimulatedCarbonEvents::setRegisterStatus(-9878);
    monitor->addAction(counting(kKeyS, kCommand, performed), KRKeyEventKindDown);
    EXPECT_TRUE(hotKeyIds().empty());
    EXPECT_EQ(SimulatedCarbonEvents::installedHandlerCount(), 0u);
    EXPECT_EQ(trace.count("#Critical Failed to register Carbon hot key: -9878"), 1u);
    SimulatedCarbonEvents::setRegisterStatus(noErr);
    monitor->addAction(counting(kKeyK, kCommand, performed), KRKeyEventKindDown);
    EXPECT_EQ(hotKeyIds(), std::vector<uint32_t>{2});
}

TEST_F(GlobalShortcutMonitors, TheSimulatedKeyboardPressesAndReleasesHotKeys) {
    int downs = 0, ups = 0;
    monitor->addAction(counting(kKeyK, kCommand | kShift, downs), KRKeyEventKindDown);
    monitor->addAction(counting(kKeyK, kCommand | kShift, ups), KRKeyEventKindUp);
    EXPECT_TRUE(simulate::pressKey(kKeyK, kCommand | kShift));
    RunLoop::runUntilIdle();
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 0);
    EXPECT_TRUE(simulate::post(NSEventType::KeyUp, kCommand | kShift, kKeyK, "", {}, nullptr));
    RunLoop::runUntilIdle();
    EXPECT_EQ(ups, 1);

    monitor->pause();
    EXPECT_FALSE(simulate::pressKey(kKeyK, kCommand | kShift));  // the keys reach the application
    RunLoop::runUntilIdle();
    EXPECT_EQ(downs, 1);
    monitor->resume();
    EXPECT_TRUE(simulate::pressKey(kKeyK, kCommand | kShift));
    RunLoop::runUntilIdle();
    EXPECT_EQ(downs, 2);
}

TEST_F(GlobalShortcutMonitors, TheSharedMonitorIsMadeOnce) {
    EXPECT_EQ(KRGlobalShortcutMonitor::sharedMonitor(), KRGlobalShortcutMonitor::sharedMonitor());
}

}  // namespace
