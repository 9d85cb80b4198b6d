#pragma once
// Tests of shortcuts start like KeyboardTest, with English texts, a fresh application object and
// the system's shortcut list empty and readable.
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/carbon/SymbolicHotKeys_simulated.h"
#include "shortcut_recorder/tests/KeyboardFixture.h"
#include "testing/EnvironmentOverride.h"

inline constexpr uint64_t kShift = NSEventModifierFlagShift;
inline constexpr uint64_t kControl = NSEventModifierFlagControl;
inline constexpr uint64_t kOption = NSEventModifierFlagOption;
inline constexpr uint64_t kCommand = NSEventModifierFlagCommand;

class ShortcutTest : public KeyboardTest {
  protected:
    ShortcutTest() {
        environment.set("QUORVANE_RESOURCES", nullptr);
        NSApplication::resetSharedApplication();
        SimulatedSymbolicHotKeys::reset();
    }
    ~ShortcutTest() override {
        NSApplication::resetSharedApplication();
        SimulatedSymbolicHotKeys::reset();
    }

    EnvironmentOverride environment;
};
