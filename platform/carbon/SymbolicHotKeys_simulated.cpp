#include "platform/carbon/SymbolicHotKeys_simulated.h"

#include <mutex>

#include "platform/foundation/SharedInstance.h"

namespace {
struct State {
    std::mutex mutex;
    std::vector<Value> hotKeys;
    OSStatus readStatus = noErr;
};

State& state() {
    static auto* shared = [] {
        auto* fresh = new State;  // never destroyed: any thread may read the list during exit
        registerResetForTesting(&SimulatedSymbolicHotKeys::reset);
        return fresh;
    }();
    return *shared;
}
}  // namespace

OSStatus CopySymbolicHotKeys(std::vector<Value>* hotKeys) {
    if (!hotKeys) return paramErr;
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.readStatus != noErr) return s.readStatus;
    *hotKeys = s.hotKeys;
    return noErr;
}

namespace SimulatedSymbolicHotKeys {
void setHotKeys(std::vector<Value> hotKeys) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.hotKeys = std::move(hotKeys);
}

void setReadStatus(OSStatus status) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.readStatus = status;
}

void reset() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.hotKeys.clear();
    s.readStatus = noErr;
}
}  // namespace SimulatedSymbolicHotKeys
