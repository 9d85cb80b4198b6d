#include "shortcut_recorder/KRShortcutValidator.h"

#include <initializer_list>
#include <vector>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSWindow.h"
#include "platform/carbon/SymbolicHotKeys.h"
#include "platform/foundation/SystemTrace.h"

namespace {

constexpr uint32_t kCarbonModifierMask = 0x1B00;
constexpr size_t kMaxMenuPathItems = 1000;
constexpr std::string_view kMenuPathSeparator = " \u2192 ";

// The localized format with each "%@" replaced by the next argument, in order.
std::string formatted(const std::string& key, std::initializer_list<std::string> arguments) {
    const std::string format = KRLocalizedString(key);
    std::string result;
    auto next = arguments.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format.compare(i, 2, "%@") == 0 && next != arguments.end()) {
            result += *next++;
            ++i;
        } else {
            result += format[i];
        }
    }
    return result;
}

NSEventModifierFlags cocoaFlagsOfCarbon(uint32_t carbon) {
    carbon &= kCarbonModifierMask;
    NSEventModifierFlags flags = 0;
    if (carbon & 0x0100) flags |= NSEventModifierFlagCommand;
    if (carbon & 0x0200) flags |= NSEventModifierFlagShift;
    if (carbon & 0x0800) flags |= NSEventModifierFlagOption;
    if (carbon & 0x1000) flags |= NSEventModifierFlagControl;
    return flags;
}

bool matchesHotKey(const Value& hotKey, const KRShortcut& shortcut) {
    const Value& enabled = hotKey[kHISymbolicHotKeyEnabled];
    if (!enabled.isBool() || !enabled.boolOr(false)) return false;
    const Value& code = hotKey[kHISymbolicHotKeyCode];
    if (!code.isNumber() || code.integerOr(-1) != shortcut.keyCode()) return false;
    auto carbon = static_cast<uint32_t>(hotKey[kHISymbolicHotKeyModifiers].integerOr(0));
    return cocoaFlagsOfCarbon(carbon) == shortcut.modifierFlags();
}

}  // namespace

std::string KRShortcutValidator::readableString(const KRShortcut& shortcut) {
    auto delegate = delegate_.lock();
    bool ascii = true;
    if (delegate) ascii = delegate->shortcutValidatorShouldUseASCIIStringForKeyCodes(*this).value_or(true);
    return shortcut.readableStringRepresentation(ascii);
}

Error KRShortcutValidator::refusal(const KRShortcut& shortcut, const std::string& description) {
    Dictionary userInfo;
    userInfo.set(NSLocalizedFailureReasonErrorKey,
                 Value(formatted("The \"%@\" shortcut can't be used!", {readableString(shortcut)})));
    userInfo.set(NSLocalizedDescriptionKey, Value(description));
    return Error(NSCocoaErrorDomain, 0, description, Value(std::move(userInfo)));
}

bool KRShortcutValidator::validateShortcut(const KRShortcut& shortcut, Error* error) {
    TraceActivity activity("-[KRShortcutValidator validateShortcut:error:]");
    if (!validateShortcutAgainstDelegate(shortcut, error)) return false;
    auto delegate = delegate_.lock();
    bool checkSystem =
        delegate ? delegate->shortcutValidatorShouldCheckSystemShortcuts(*this).value_or(true) : true;
    if (checkSystem && !validateShortcutAgainstSystemShortcuts(shortcut, error)) return false;
    bool checkMenu = delegate ? delegate->shortcutValidatorShouldCheckMenu(*this).value_or(true) : true;
    if (!checkMenu) return true;
    auto mainMenu = NSApplication::sharedApplication()->mainMenu();
    return !mainMenu || validateShortcut(shortcut, *mainMenu, error);
}

bool KRShortcutValidator::validateShortcutAgainstDelegate(const KRShortcut& shortcut, Error* error) {
    TraceActivity activity("-[KRShortcutValidator validateShortcutAgainstDelegate:error:]");
    auto delegate = delegate_.lock();
    if (!delegate) return true;
    std::string reason;
    bool valid = true;
    if (auto answer = delegate->shortcutValidatorIsShortcutValid(*this, shortcut, &reason)) {
        valid = *answer;
    } else if (auto taken = delegate->shortcutValidatorIsKeyCodeAndFlagsTaken(
                   *this, shortcut.keyCode(), shortcut.modifierFlags(), &reason)) {
        valid = !*taken;
    }
    if (valid) return true;
    if (error) {
        const std::string readable = readableString(shortcut);
        std::string description =
            reason.empty() ? formatted("The \"%@\" shortcut is already in use.", {readable})
                           : formatted("The \"%@\" shortcut can't be used because %@.", {readable, reason});
        *error = refusal(shortcut, description);
    }
    return false;
}

bool KRShortcutValidator::validateShortcutAgainstSystemShortcuts(const KRShortcut& shortcut, Error* error) {
    TraceActivity activity("-[KRShortcutValidator validateShortcutAgainstSystemShortcuts:error:]");
    std::vector<Value> hotKeys;
    if (OSStatus status = CopySymbolicHotKeys(&hotKeys); status != noErr) {
        traceLogFormat(TraceLevel::Error, "#Error Unable to read System Shortcuts: %d",
                       static_cast<int>(status));
        return false;
    }
    for (const Value& hotKey : hotKeys) {
        if (!matchesHotKey(hotKey, shortcut)) continue;
        if (error) {
            *error = refusal(shortcut,
                             formatted("The \"%@\" shortcut can't be used because it's already used by a "
                                       "system-wide keyboard shortcut. If you really want to use this "
                                       "shortcut, most shortcuts can be changed in the Keyboard panel in "
                                       "System Preferences.",
                                       {readableString(shortcut)}));
        }
        return false;
    }
    return true;
}

bool KRShortcutValidator::validateShortcut(const KRShortcut& shortcut, const NSMenu& menu, Error* error) {
    TraceActivity activity("-[KRShortcutValidator validateShortcut:againstMenu:error:]");
    for (const auto& item : menu.itemArray()) {
        if (item->submenu() && !validateShortcut(shortcut, *item->submenu(), error)) return false;
        if (item->keyEquivalent().empty() ||
            !shortcut.isEqualToKeyEquivalent(item->keyEquivalent(), item->keyEquivalentModifierMask()))
            continue;
        if (error) {
            *error =
                refusal(shortcut,
                        formatted("The \"%@\" shortcut can't be used because it's already used by the \"%@\" "
                                  "menu item.",
                                  {readableString(shortcut), KR_path(*item)}));
        }
        return false;
    }
    return true;
}

bool KRShortcutValidator::recorderControl(NSControl& control, const KRShortcut& shortcut) {
    Error error;
    if (validateShortcut(shortcut, &error)) return true;
    // An unreadable list of system shortcuts refuses without an error: there is nothing to show.
    if (error.domain.empty()) return false;
    auto application = NSApplication::sharedApplication();
    NSWindow* window = control.window();
    if (auto shared = window ? window->sharedAs<NSWindow>() : nullptr)
        application->presentErrorModalForWindow(error, shared);
    else
        application->presentError(error);
    return false;
}

std::string KR_path(const NSMenuItem& item) {
    std::vector<std::string> titles{item.title()};
    for (auto parent = item.parentItem(); parent && titles.size() < kMaxMenuPathItems;
         parent = parent->parentItem())
        titles.push_back(parent->title());
    std::string path;
    for (auto title = titles.rbegin(); title != titles.rend(); ++title) {
        path += *title;
        path += kMenuPathSeparator;
    }
    if (path.size() > kMenuPathSeparator.size()) path.resize(path.size() - kMenuPathSeparator.size());
    return path;
}
