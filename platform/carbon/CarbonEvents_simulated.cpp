#include "platform/carbon/CarbonEvents.h"
#include "platform/carbon/CarbonHotKeyBackend.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {
// The keyboard's event types and modifier flags, as the window server posts them.
constexpr uint32_t kKeyDown = 10;
constexpr uint32_t kKeyUp = 11;
constexpr uint64_t kShiftFlag = 0x20000;
constexpr uint64_t kControlFlag = 0x40000;
constexpr uint64_t kOptionFlag = 0x80000;
constexpr uint64_t kCommandFlag = 0x100000;

uint32_t carbonModifiers(uint64_t cocoaFlags) {
    uint32_t carbon = 0;
    if (cocoaFlags & kCommandFlag) carbon |= 0x0100;
    if (cocoaFlags & kShiftFlag) carbon |= 0x0200;
    if (cocoaFlags & kOptionFlag) carbon |= 0x0800;
    if (cocoaFlags & kControlFlag) carbon |= 0x1000;
    return carbon;
}

bool handleKey(const SimulatedInputEvent& input) {
    if (input.type == kKeyDown)
        return CarbonHotKeys::keyDown(input.keyCode, carbonModifiers(input.modifierFlags));
    if (input.type == kKeyUp) return CarbonHotKeys::keyUp(input.keyCode);
    return false;
}

// The simulated session has no other client to hold keys: every hot key may have its keys.
class SimulatedHotKeys final : public HotKeyBackend {
  public:
    // Hot keys belong to the session: they see every key before any application does.
    SimulatedHotKeys()
        : keyboard_(SimulatedDesktop::shared().subscribeToInput(SimulatedDesktop::InputStage::Session,
                                                                &handleKey)) {}
    OSStatus reserve(uint32_t, uint32_t) override { return noErr; }
    void release(uint32_t, uint32_t) override {}

  private:
    SimulatedInputSubscription keyboard_;
};
}  // namespace

HotKeyBackend& simulatedHotKeys() {
    // Never destroyed: a key may arrive on any thread during exit.
    static auto* backend = new SimulatedHotKeys;
    return *backend;
}
