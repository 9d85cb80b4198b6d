#include <gtest/gtest.h>

#include <vector>

#include "platform/carbon/CarbonEvents_simulated.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {

constexpr OSType kSignature = 0x54455354;  // 'TEST'
constexpr uint16_t kKeyK = 40;
constexpr uint64_t kCommandShift = 0x100000 | 0x20000;

struct Heard {
    uint32_t kind;
    EventHotKeyID id;
};

OSStatus recordHotKey(EventHandlerCallRef, EventRef event, void* userData) {
    EventHotKeyID id{};
    EXPECT_EQ(GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof id,
                                nullptr, &id),
              noErr);
    static_cast<std::vector<Heard>*>(userData)->push_back({GetEventKind(event), id});
    return noErr;
}

OSStatus declineHotKey(EventHandlerCallRef, EventRef, void* userData) {
    ++*static_cast<int*>(userData);
    return eventNotHandledErr;
}

bool postKey(uint32_t type, uint16_t keyCode, uint64_t flags) {
    SimulatedInputEvent input;
    input.type = type;
    input.keyCode = keyCode;
    input.modifierFlags = flags;
    return SimulatedDesktop::shared().postInput(input);
}

class CarbonEvents : public testing::Test {
  protected:
    CarbonEvents() { resetAllForTesting(); }
    ~CarbonEvents() override { resetAllForTesting(); }

    const EventTypeSpec types[2] = {{kEventClassKeyboard, kEventHotKeyPressed},
                                    {kEventClassKeyboard, kEventHotKeyReleased}};
};

TEST_F(CarbonEvents, APressedHotKeyReachesTheHandlersOnTheMainRunLoop) {
    std::vector<Heard> heard;
    int declined = 0;
    EventHandlerRef recorder = nullptr, decliner = nullptr;
    ASSERT_EQ(InstallEventHandler(GetApplicationEventTarget(), &recordHotKey, 2, types, &heard, &recorder),
              noErr);
    ASSERT_EQ(
        InstallEventHandler(GetApplicationEventTarget(), &declineHotKey, 2, types, &declined, &decliner),
        noErr);
    EventHotKeyRef hotKey = nullptr;
    ASSERT_EQ(RegisterEventHotKey(kKeyK, 0x0300, {kSignature, 7}, GetApplicationEventTarget(), 0, &hotKey),
              noErr);

    EXPECT_FALSE(postKey(10, kKeyK, 0x100000));                // Command alone is other keys
    EXPECT_TRUE(postKey(10, kKeyK, kCommandShift | 0x10000));  // Caps Lock does not count
    EXPECT_TRUE(heard.empty());
    RunLoop::runUntilIdle();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].kind, kEventHotKeyPressed);
    EXPECT_EQ(heard[0].id.signature, kSignature);
    EXPECT_EQ(heard[0].id.id, 7u);
    EXPECT_EQ(declined, 1);  // the newest handler declined first

    EXPECT_TRUE(postKey(11, kKeyK, 0));
    EXPECT_FALSE(postKey(11, kKeyK, 0));  // released once
    RunLoop::runUntilIdle();
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1].kind, kEventHotKeyReleased);

    ASSERT_EQ(UnregisterEventHotKey(hotKey), noErr);
    EXPECT_FALSE(postKey(10, kKeyK, kCommandShift));
    EXPECT_EQ(RemoveEventHandler(recorder), noErr);
    EXPECT_EQ(RemoveEventHandler(recorder), paramErr);
    EXPECT_EQ(SimulatedCarbonEvents::installedHandlerCount(), 1u);
}

TEST_F(CarbonEvents, TakenKeysAndInjectedStatusesFailWithoutChange) {
    EventHotKeyRef first = nullptr, second = nullptr;
    ASSERT_EQ(RegisterEventHotKey(kKeyK, 0x0100, {kSignature, 1}, GetApplicationEventTarget(), 0, &first),
              noErr);
    EXPECT_EQ(RegisterEventHotKey(kKeyK, 0x0100, {kSignature, 2}, GetApplicationEventTarget(), 0, &second),
              eventHotKeyExistsErr);
    SimulatedCarbonEvents::setRegisterStatus(-9868);
    EXPECT_EQ(RegisterEventHotKey(kKeyK, 0x0200, {kSignature, 3}, GetApplicationEventTarget(), 0, &second),
              -9868);
    SimulatedCarbonEvents::setUnregisterStatus(-50);
    EXPECT_EQ(UnregisterEventHotKey(first), -50);
    ASSERT_EQ(SimulatedCarbonEvents::registeredHotKeys().size(), 1u);
    SimulatedCarbonEvents::setInstallStatus(-108);
    EventHandlerRef handler = nullptr;
    EXPECT_EQ(InstallEventHandler(GetApplicationEventTarget(), &declineHotKey, 2, types, nullptr, &handler),
              -108);
    EXPECT_EQ(SimulatedCarbonEvents::installedHandlerCount(), 0u);
}

TEST_F(CarbonEvents, EventsWithoutAHotKeyIdHaveNoDirectObject) {
    auto event = SimulatedCarbonEvents::makeEvent(kEventClassKeyboard, kEventHotKeyPressed);
    EventHotKeyID id{};
    EXPECT_EQ(GetEventParameter(event->ref(), kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof id,
                                nullptr, &id),
              eventParameterNotFoundErr);
    EXPECT_EQ(GetEventClass(event->ref()), kEventClassKeyboard);
    EXPECT_EQ(SimulatedCarbonEvents::dispatch(event->ref()), eventNotHandledErr);
}

}  // namespace
