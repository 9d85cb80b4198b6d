#include "platform/carbon/CarbonEvents.h"
#include "platform/carbon/CarbonHotKeyBackend.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {
// The keyboard's event types, as the window server posts them.
constexpr uint32_t kKeyDown = 10;
constexpr uint32_t kKeyUp = 11;

bool handleKey(const SimulatedInputEvent& input) {
    if (input.type == kKeyDown)
        return CarbonHotKeys::keyDown(input.keyCode, carbonModifiersFromCocoaFlags(input.modifierFlags));
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
