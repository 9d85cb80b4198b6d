#pragma once
// Whether a shortcut may be used: the delegate's say, then the system-wide keyboard shortcuts, then
// the key equivalents of the application's main menu. A refusal carries an error whose texts name
// the shortcut and what already uses it. As a recorder control's delegate, refused shortcuts are
// not recorded and the error is shown to the user.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/NSControl.h"
#include "platform/appkit/NSMenu.h"
#include "platform/foundation/Error.h"
#include "shortcut_recorder/KRShortcut.h"

class KRShortcutValidator;

// Every method is optional: nullopt stands for a method the delegate does not have.
class KRShortcutValidatorDelegate {
  public:
    virtual ~KRShortcutValidatorDelegate() = default;
    // Valid or not, with an optional reason for a refusal.
    virtual std::optional<bool> shortcutValidatorIsShortcutValid(KRShortcutValidator&, const KRShortcut&,
                                                                 std::string* /*reason*/) {
        return std::nullopt;
    }
    // The older form, asked only without the one above: whether the combination is taken.
    virtual std::optional<bool> shortcutValidatorIsKeyCodeAndFlagsTaken(KRShortcutValidator&,
                                                                        uint16_t /*keyCode*/,
                                                                        NSEventModifierFlags /*flags*/,
                                                                        std::string* /*reason*/) {
        return std::nullopt;
    }
    virtual std::optional<bool> shortcutValidatorShouldCheckSystemShortcuts(KRShortcutValidator&) {
        return std::nullopt;
    }
    virtual std::optional<bool> shortcutValidatorShouldCheckMenu(KRShortcutValidator&) {
        return std::nullopt;
    }
    // Whether messages name keys as on the ASCII-capable layout (the default) or the current one.
    virtual std::optional<bool> shortcutValidatorShouldUseASCIIStringForKeyCodes(KRShortcutValidator&) {
        return std::nullopt;
    }
};

class KRShortcutValidator {
  public:
    explicit KRShortcutValidator(std::shared_ptr<KRShortcutValidatorDelegate> delegate = nullptr)
        : delegate_(delegate) {}

    std::shared_ptr<KRShortcutValidatorDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<KRShortcutValidatorDelegate>& delegate) { delegate_ = delegate; }

    // Every check in order, stopping at the first refusal. An error (NSCocoaErrorDomain, code 0) is
    // made only when asked for, and never when the system's shortcuts cannot be read.
    bool validateShortcut(const KRShortcut& shortcut, Error* error = nullptr);
    bool validateShortcutAgainstDelegate(const KRShortcut& shortcut, Error* error = nullptr);
    bool validateShortcutAgainstSystemShortcuts(const KRShortcut& shortcut, Error* error = nullptr);
    // Submenus first; an item refuses when its key equivalent stands for the shortcut.
    bool validateShortcut(const KRShortcut& shortcut, const NSMenu& menu, Error* error = nullptr);

    // Validates and shows a refusal's error: as a sheet on the control's window, else alone.
    bool recorderControl(NSControl& control, const KRShortcut& shortcut);

  private:
    std::string readableString(const KRShortcut& shortcut);
    Error refusal(const KRShortcut& shortcut, const std::string& description);

    std::weak_ptr<KRShortcutValidatorDelegate> delegate_;
};

// The titles of the item and its parents, outermost first, joined by " → ".
std::string KR_path(const NSMenuItem& item);
