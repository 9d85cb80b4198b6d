// Hot keys on an X11 display: passive key grabs on the root window. A hot key names a key by the
// platform's key code; what that key types on the current keyboard layout (the layout tables give
// the character) is looked up in the X server's keyboard mapping, which gives the X key to grab.
// ⌘ is the Super key, ⌥ Alt, ⌃ Control and ⇧ Shift; Caps Lock and Num Lock make no difference.
#include <X11/keysym.h>
#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "platform/carbon/CarbonEvents.h"
#include "platform/carbon/CarbonHotKeyBackend.h"
#include "platform/carbon/TextInputSources.h"
#include "platform/carbon/UnicodeUtilities.h"
#include "platform/windowserver/X11Desktop.h"

namespace {
// Keys that type no character of their own, or whose character another key types too (the keypad's
// digits), by the platform's key code.
constexpr std::pair<uint16_t, xcb_keysym_t> kNamedKeys[] = {
    {36, XK_Return},     {48, XK_Tab},         {49, XK_space},  {51, XK_BackSpace}, {53, XK_Escape},
    {117, XK_Delete},    {114, XK_Insert},     {115, XK_Home},  {119, XK_End},      {116, XK_Prior},
    {121, XK_Next},      {123, XK_Left},       {124, XK_Right}, {125, XK_Down},     {126, XK_Up},
    {122, XK_F1},        {120, XK_F2},         {99, XK_F3},     {118, XK_F4},       {96, XK_F5},
    {97, XK_F6},         {98, XK_F7},          {100, XK_F8},    {101, XK_F9},       {109, XK_F10},
    {103, XK_F11},       {111, XK_F12},        {105, XK_F13},   {107, XK_F14},      {113, XK_F15},
    {106, XK_F16},       {64, XK_F17},         {79, XK_F18},    {80, XK_F19},       {90, XK_F20},
    {82, XK_KP_0},       {83, XK_KP_1},        {84, XK_KP_2},   {85, XK_KP_3},      {86, XK_KP_4},
    {87, XK_KP_5},       {88, XK_KP_6},        {89, XK_KP_7},   {91, XK_KP_8},      {92, XK_KP_9},
    {65, XK_KP_Decimal}, {67, XK_KP_Multiply}, {69, XK_KP_Add}, {75, XK_KP_Divide}, {78, XK_KP_Subtract},
    {81, XK_KP_Equal},   {76, XK_KP_Enter},
};

// What the key types without modifiers on the current ASCII-capable layout, as a keysym: Latin-1
// characters are their own keysyms, every other character has one of its own.
std::optional<xcb_keysym_t> characterKeysym(uint16_t keyCode) {
    auto source = TISCopyCurrentASCIICapableKeyboardLayoutInputSource();
    if (!source || !source->unicodeKeyLayoutData()) return std::nullopt;
    UniChar units[4] = {};
    UniCharCount length = 0;
    uint32_t deadKeyState = 0;
    if (UCKeyTranslate(source->unicodeKeyLayoutData(), keyCode, kUCKeyActionDisplay, 0, LMGetKbdType(), 0,
                       &deadKeyState, 4, &length, units) != noErr ||
        length == 0)
        return std::nullopt;
    char32_t character = units[0];
    if (length == 2 && units[0] >= 0xD800 && units[0] < 0xDC00 && units[1] >= 0xDC00 && units[1] < 0xE000)
        character = 0x10000 + ((char32_t(units[0]) - 0xD800) << 10) + (units[1] - 0xDC00);
    else if (length != 1)
        return std::nullopt;
    if (character < 0x20 || character == 0x7F) return std::nullopt;
    if (character <= 0xFF) return character;
    return 0x01000000 | character;
}

std::optional<xcb_keysym_t> keysymFor(uint16_t keyCode) {
    for (const auto& [code, keysym] : kNamedKeys)
        if (code == keyCode) return keysym;
    return characterKeysym(keyCode);
}

template <class Reply>
std::unique_ptr<Reply, decltype(&std::free)> own(Reply* reply) {
    return {reply, &std::free};
}

struct Grab {
    uint32_t keyCode;
    uint32_t modifiers;  // Carbon
    std::vector<xcb_keycode_t> keys;
    uint16_t mask;  // X modifiers
};

// The keyboard of one connection: its mapping, the modifiers it puts Super, Alt and Num Lock on,
// and the grabs made on it.
class Keyboard {
  public:
    explicit Keyboard(X11Desktop& desktop)
        : desktop_(desktop), symbols_(xcb_key_symbols_alloc(desktop.connection())) {
        readModifiers();
        handler_ = desktop_.addEventHandler([this](const xcb_generic_event_t& event) { handle(event); });
    }
    ~Keyboard() {
        desktop_.removeEventHandler(handler_);
        xcb_key_symbols_free(symbols_);
    }

    OSStatus reserve(uint32_t keyCode, uint32_t modifiers) {
        Grab grab{keyCode, modifiers, keysFor(keyCode), xMask(modifiers)};
        if (grab.keys.empty()) return eventHotKeyInvalidErr;
        if (!grabKeys(grab)) return eventHotKeyExistsErr;
        grabs_.push_back(std::move(grab));
        return noErr;
    }

    void release(uint32_t keyCode, uint32_t modifiers) {
        auto found = std::find_if(grabs_.begin(), grabs_.end(), [&](const Grab& g) {
            return g.keyCode == keyCode && g.modifiers == modifiers;
        });
        if (found == grabs_.end()) return;
        ungrabKeys(*found, found->keys.size());
        grabs_.erase(found);
        xcb_flush(desktop_.connection());
    }

  private:
    // The X keys that type the key code's character (or name) in the server's mapping now.
    std::vector<xcb_keycode_t> keysFor(uint32_t keyCode) {
        std::vector<xcb_keycode_t> keys;
        auto keysym = keysymFor(static_cast<uint16_t>(keyCode));
        if (!keysym) return keys;
        if (auto found = own(xcb_key_symbols_get_keycode(symbols_, *keysym)))
            for (xcb_keycode_t* key = found.get(); *key != XCB_NO_SYMBOL; ++key) keys.push_back(*key);
        return keys;
    }

    // Every combination of the lock modifiers, so that neither makes a difference.
    std::vector<uint16_t> lockVariants() const {
        return {0, XCB_MOD_MASK_LOCK, numLock_, uint16_t(XCB_MOD_MASK_LOCK | numLock_)};
    }

    // All or nothing: when another client holds one of the keys, the grabs made so far go again.
    bool grabKeys(const Grab& grab) {
        auto* connection = desktop_.connection();
        for (size_t i = 0; i < grab.keys.size(); ++i) {
            std::vector<xcb_void_cookie_t> cookies;
            for (uint16_t lock : lockVariants())
                cookies.push_back(xcb_grab_key_checked(connection, 1, desktop_.root(), grab.mask | lock,
                                                       grab.keys[i], XCB_GRAB_MODE_ASYNC,
                                                       XCB_GRAB_MODE_ASYNC));
            bool taken = false;
            for (auto cookie : cookies) {
                if (auto error = own(xcb_request_check(connection, cookie))) taken = true;
            }
            if (taken) {
                ungrabKeys(grab, i + 1);
                xcb_flush(connection);
                return false;
            }
        }
        return true;
    }

    // Only the first `count` keys; a grab another client holds is not ours to lift, and an ungrab
    // of it does nothing.
    void ungrabKeys(const Grab& grab, size_t count) {
        for (size_t i = 0; i < count; ++i)
            for (uint16_t lock : lockVariants())
                xcb_ungrab_key(desktop_.connection(), grab.keys[i], desktop_.root(), grab.mask | lock);
    }

    uint16_t xMask(uint32_t modifiers) const {
        uint16_t mask = 0;
        if (modifiers & cmdKey) mask |= super_;
        if (modifiers & shiftKey) mask |= XCB_MOD_MASK_SHIFT;
        if (modifiers & optionKey) mask |= alt_;
        if (modifiers & controlKey) mask |= XCB_MOD_MASK_CONTROL;
        return mask;
    }

    void readModifiers() {
        super_ = XCB_MOD_MASK_4;
        alt_ = XCB_MOD_MASK_1;
        numLock_ = XCB_MOD_MASK_2;
        auto* connection = desktop_.connection();
        auto mapping =
            own(xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
        if (!mapping) return;
        const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(mapping.get());
        const int perModifier = mapping->keycodes_per_modifier;
        uint16_t super = 0, alt = 0, numLock = 0;
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t key = keys[modifier * perModifier + i];
                if (key == XCB_NO_SYMBOL) continue;
                const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols_, key, 0);
                const uint16_t bit = uint16_t(1u << modifier);
                if (keysym == XK_Super_L || keysym == XK_Super_R) super |= bit;
                if (keysym == XK_Alt_L || keysym == XK_Alt_R) alt |= bit;
                if (keysym == XK_Num_Lock) numLock |= bit;
            }
        }
        if (super) super_ = super;
        if (alt) alt_ = alt;
        if (numLock) numLock_ = numLock;
    }

    void handle(const xcb_generic_event_t& event) {
        const uint8_t type = event.response_type & 0x7F;
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            const auto& key = reinterpret_cast<const xcb_key_press_event_t&>(event);
            const uint16_t held = key.state & (XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | super_ | alt_);
            for (const auto& grab : grabs_) {
                if (std::find(grab.keys.begin(), grab.keys.end(), key.detail) == grab.keys.end()) continue;
                if (type == XCB_KEY_RELEASE) {
                    CarbonHotKeys::keyUp(static_cast<uint16_t>(grab.keyCode));
                    return;
                }
                if (held != grab.mask) continue;
                CarbonHotKeys::keyDown(static_cast<uint16_t>(grab.keyCode), grab.modifiers);
                return;
            }
        } else if (type == XCB_MAPPING_NOTIFY) {
            remap(reinterpret_cast<const xcb_mapping_notify_event_t&>(event));
        }
    }

    // A new keyboard mapping may put the hot keys' characters and modifiers on other keys. The server
    // also announces a mapping when another keyboard device (XTEST's, say) starts typing; the grabs
    // then stay as they are, since a press may arrive between an ungrab and the grab that follows.
    void remap(const xcb_mapping_notify_event_t& event) {
        xcb_refresh_keyboard_mapping(symbols_, const_cast<xcb_mapping_notify_event_t*>(&event));
        readModifiers();
        auto previous = std::move(grabs_);
        grabs_.clear();
        for (const auto& grab : previous) {
            auto keys = keysFor(grab.keyCode);
            if (keys == grab.keys && xMask(grab.modifiers) == grab.mask) {
                grabs_.push_back(grab);
                continue;
            }
            ungrabKeys(grab, grab.keys.size());
            reserve(grab.keyCode, grab.modifiers);
        }
        xcb_flush(desktop_.connection());
    }

    X11Desktop& desktop_;
    xcb_key_symbols_t* symbols_;
    uint64_t handler_ = 0;
    uint16_t super_ = 0, alt_ = 0, numLock_ = 0;
    std::vector<Grab> grabs_;
};

Keyboard& keyboard() {
    return X11Desktop::current()->extension<Keyboard>();
}

class X11HotKeys final : public HotKeyBackend {
  public:
    OSStatus reserve(uint32_t keyCode, uint32_t modifiers) override {
        return keyboard().reserve(keyCode, modifiers);
    }
    void release(uint32_t keyCode, uint32_t modifiers) override { keyboard().release(keyCode, modifiers); }
};
}  // namespace

HotKeyBackend& x11HotKeys() {
    static X11HotKeys backend;
    return backend;
}
