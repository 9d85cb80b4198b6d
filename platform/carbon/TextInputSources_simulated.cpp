#include "platform/carbon/TextInputSources_simulated.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "platform/carbon/KeyboardLayouts.h"
#include "platform/foundation/DistributedNotificationCenter.h"
#include "platform/foundation/SharedInstance.h"

namespace {

// The type of a US keyboard as the platform numbers it.
constexpr uint8_t kANSIKeyboardType = 40;

struct Selection {
    std::mutex mutex;
    TISInputSourceRef keyboardLayout;
    TISInputSourceRef asciiCapableLayout;
};

Selection& selection() {
    static auto* state = [] {
        auto* fresh = new Selection;  // never destroyed: any thread may translate during exit
        fresh->keyboardLayout = fresh->asciiCapableLayout = SimulatedTextInput::usLayout();
        registerResetForTesting(&SimulatedTextInput::reset);
        return fresh;
    }();
    return *state;
}

std::atomic<OSStatus> injectedStatus{noErr};
std::atomic<bool> translatesToNothing{false};
std::atomic<size_t> translateCalls{0};
std::atomic<uint8_t> keyboardType{kANSIKeyboardType};

const std::u16string* layerText(const UCKeyboardLayout::Key& key, uint32_t modifiers, bool& dead) {
    dead = false;
    if (modifiers & kUCModifierControl) return &key.control;
    if (modifiers & kUCModifierOption) {
        dead = key.optionIsDeadKey;
        return &key.option;
    }
    // Command picks no layer of its own: the key types what it types without it.
    if (modifiers & kUCModifierShift) return &key.shift;
    return &key.base;
}

}  // namespace

TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource() {
    auto& state = selection();
    std::lock_guard lock(state.mutex);
    return state.keyboardLayout;
}

TISInputSourceRef TISCopyCurrentASCIICapableKeyboardLayoutInputSource() {
    auto& state = selection();
    std::lock_guard lock(state.mutex);
    return state.asciiCapableLayout;
}

OSStatus TISSelectInputSource(const TISInputSourceRef& source) {
    if (!source) return paramErr;
    {
        auto& state = selection();
        std::lock_guard lock(state.mutex);
        state.keyboardLayout = source;
        if (source->isASCIICapable()) state.asciiCapableLayout = source;
    }
    DistributedNotificationCenter::defaultCenter().post(kTISNotifySelectedKeyboardInputSourceChanged);
    return noErr;
}

uint8_t LMGetKbdType() {
    return keyboardType.load();
}

OSStatus UCKeyTranslate(const UCKeyboardLayout* keyLayoutPtr, uint16_t virtualKeyCode, uint16_t keyAction,
                        uint32_t modifierKeyState, uint32_t, uint32_t keyTranslateOptions,
                        uint32_t* deadKeyState, UniCharCount maxStringLength,
                        UniCharCount* actualStringLength, UniChar unicodeString[]) {
    ++translateCalls;
    if (!keyLayoutPtr || !deadKeyState || !actualStringLength || (maxStringLength && !unicodeString))
        return paramErr;
    if (keyAction > kUCKeyActionDisplay) return paramErr;
    *actualStringLength = 0;
    if (OSStatus status = injectedStatus.load(); status != noErr) return status;
    if (translatesToNothing.load() || keyAction == kUCKeyActionUp) return noErr;
    auto key = keyLayoutPtr->keys.find(virtualKeyCode);
    if (key == keyLayoutPtr->keys.end()) return noErr;
    bool dead = false;
    const std::u16string* text = layerText(key->second, modifierKeyState, dead);
    if (dead && !(keyTranslateOptions & (1u << kUCKeyTranslateNoDeadKeysBit))) {
        *deadKeyState = 1;
        return noErr;
    }
    *actualStringLength = std::min<UniCharCount>(text->size(), maxStringLength);
    std::copy_n(text->begin(), *actualStringLength, unicodeString);
    return noErr;
}

namespace SimulatedTextInput {

TISInputSourceRef usLayout() {
    static const auto source =
        std::make_shared<const TISInputSource>("org.quorvane.keylayout.US", true, KeyboardLayouts::us());
    return source;
}

TISInputSourceRef qwertzLayout() {
    static const auto source = std::make_shared<const TISInputSource>("org.quorvane.keylayout.QWERTZ", true,
                                                                      KeyboardLayouts::qwertz());
    return source;
}

TISInputSourceRef greekLayout() {
    static const auto source = std::make_shared<const TISInputSource>("org.quorvane.keylayout.Greek", false,
                                                                      KeyboardLayouts::greek());
    return source;
}

TISInputSourceRef inputMethodWithoutLayout() {
    static const auto source =
        std::make_shared<const TISInputSource>("org.quorvane.inputmethod.Kana", false, nullptr);
    return source;
}

void setTranslateStatus(OSStatus status) {
    injectedStatus = status;
}

void setTranslatesToNothing(bool nothing) {
    translatesToNothing = nothing;
}

size_t translateCallCount() {
    return translateCalls.load();
}

void setKeyboardType(uint8_t type) {
    keyboardType = type;
}

void reset() {
    {
        auto& state = selection();
        std::lock_guard lock(state.mutex);
        state.keyboardLayout = state.asciiCapableLayout = usLayout();
    }
    injectedStatus = noErr;
    translatesToNothing = false;
    keyboardType = kANSIKeyboardType;
}

}  // namespace SimulatedTextInput
