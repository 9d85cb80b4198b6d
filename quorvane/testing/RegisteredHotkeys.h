#pragma once
// The hotkeys the agent holds at the shared monitor, as (key code, modifiers) pairs in order: the
// order of registration is the agent's own business, so tests compare the set.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/masshortcut/MASShortcutMonitor.h"

using Hotkeys = std::vector<std::pair<int64_t, NSEventModifierFlags>>;

inline Hotkeys hotkeys() {
    Hotkeys out;
    for (const auto& s : MASShortcutMonitor::sharedMonitor()->registeredShortcuts())
        out.emplace_back(s.keyCode(), s.modifierFlags());
    std::sort(out.begin(), out.end());
    return out;
}
