#pragma once
// One key combination: a virtual key code and the four device-independent modifier keys, with the
// characters it types. Immutable; equality and hash look only at the key code and the modifiers.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/NSEvent.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/Value.h"
#include "shortcut_recorder/KRCommon.h"
#include "shortcut_recorder/KRKeyCodeTranslator.h"

class KRKeyCodeTransformer;

inline constexpr const char* KRShortcutKeyKeyCode = "keyCode";
inline constexpr const char* KRShortcutKeyModifierFlags = "modifierFlags";
inline constexpr const char* KRShortcutKeyCharacters = "characters";
inline constexpr const char* KRShortcutKeyCharactersIgnoringModifiers = "charactersIgnoringModifiers";

class KRShortcut : public Codable, public std::enable_shared_from_this<KRShortcut> {
  public:
    // A shortcut is only made from its parts: both raise an invalid-argument Exception.
    [[noreturn]] static std::shared_ptr<KRShortcut> init();
    [[noreturn]] static std::shared_ptr<KRShortcut> makeNew();

    // Flags outside the four modifiers are dropped. A missing string is what the key types on the
    // ASCII-capable layout (with the flags, resp. without them); none for KRKeyCodeNone.
    static std::shared_ptr<KRShortcut> shortcutWithCode(
        uint16_t keyCode, NSEventModifierFlags modifierFlags, std::optional<std::string> characters,
        std::optional<std::string> charactersIgnoringModifiers);
    // Key down, key up and flags changed only (a flags-changed event names the modifier key that
    // changed, which counts as held); null with an error line for any other event.
    static std::shared_ptr<KRShortcut> shortcutWithEvent(const NSEvent& event,
                                                         bool ignoringCharacters = false);
    // Wrong kinds of values fall back: no key, no flags, no strings.
    static std::shared_ptr<KRShortcut> shortcutWithDictionary(const Dictionary& dictionary);
    // Modifier glyphs followed by a key name ("⇧⌘A", "⌥F5"); null when either part does not parse.
    static std::shared_ptr<KRShortcut> shortcutWithKeyEquivalent(const std::string& keyEquivalent);
    // Marker characters followed by one key character ("^$a"); null when it does not parse.
    static std::shared_ptr<KRShortcut> shortcutWithKeyBinding(const std::string& keyBinding);

    // Only this library's coder form is read back: for the unarchiver's class list.
    static ArchiveClass archiveClass();

    uint16_t keyCode() const { return keyCode_; }
    NSEventModifierFlags modifierFlags() const { return modifierFlags_; }
    const std::optional<std::string>& characters() const { return characters_; }
    const std::optional<std::string>& charactersIgnoringModifiers() const {
        return charactersIgnoringModifiers_;
    }

    // "keyCode" and "modifierFlags" always, the strings when there are any.
    Dictionary dictionaryRepresentation() const;
    // The value the dictionary form has under `key`; null for any other key.
    Value objectForKeyedSubscript(std::string_view key) const;
    // Localized words ("Command-Shift-") and the key's name on the ASCII-capable or current layout.
    std::string readableStringRepresentation(bool isASCII) const;
    // Glyphs and the key's name, as menus show them.
    std::string description() const;

    // KRKeyCodeNone has none: logged as a fault and returned as it is.
    uint32_t carbonKeyCode() const;
    uint32_t carbonModifierFlags() const;

    // Cooperates with subclasses: the more derived class's comparison decides.
    bool isEqual(const KRShortcut* other) const;
    bool isEqualToShortcut(const KRShortcut* other) const;
    size_t hash() const;
    bool isEqualToDictionary(const Dictionary& dictionary) const;
    // Whether a menu's key equivalent and modifier mask stand for this shortcut, on either the
    // ASCII-capable or the current layout.
    bool isEqualToKeyEquivalent(const std::string& keyEquivalent, NSEventModifierFlags modifierFlags) const;
    bool isEqualToKeyEquivalent(const std::string& keyEquivalent, NSEventModifierFlags modifierFlags,
                                const KRKeyCodeTransformer& transformer) const;

    // Immutable: a copy is the same object.
    std::shared_ptr<KRShortcut> copy() { return shared_from_this(); }

    static const KRClass<KRShortcut>& shortcutClass();
    virtual const KRClass<KRShortcut>& objectClass() const { return shortcutClass(); }

    std::string archiveClassName() const override { return "KRShortcut"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  protected:
    KRShortcut(uint16_t keyCode, NSEventModifierFlags modifierFlags, std::optional<std::string> characters,
               std::optional<std::string> charactersIgnoringModifiers);

  private:
    KRShortcut() = default;
    void assign(uint16_t keyCode, NSEventModifierFlags modifierFlags, std::optional<std::string> characters,
                std::optional<std::string> charactersIgnoringModifiers);

    uint16_t keyCode_ = KRKeyCodeNone;
    NSEventModifierFlags modifierFlags_ = 0;
    std::optional<std::string> characters_;
    std::optional<std::string> charactersIgnoringModifiers_;
};
