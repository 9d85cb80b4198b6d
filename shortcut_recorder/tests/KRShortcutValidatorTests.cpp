#include <gtest/gtest.h>

#include "platform/appkit/NSWindow.h"
#include "shortcut_recorder/KRShortcutValidator.h"
#include "shortcut_recorder/tests/ShortcutFixture.h"

namespace {

constexpr uint16_t kKeyS = 1;
constexpr uint16_t kKeySpace = 49;
constexpr const char* kSystemMessage =
    "The \"Command-Space\" shortcut can't be used because it's already used by a system-wide keyboard "
    "shortcut. "
    "If you really want to use this shortcut, most shortcuts can be changed in the Keyboard panel in System "
    "Preferences.";

std::shared_ptr<KRShortcut> shortcut(uint16_t keyCode, uint64_t flags) {
    return KRShortcut::shortcutWithCode(keyCode, flags, std::nullopt, std::nullopt);
}

Value hotKey(bool enabled, uint16_t keyCode, uint32_t carbonModifiers) {
    return Value(Dictionary{{kHISymbolicHotKeyEnabled, enabled},
                            {kHISymbolicHotKeyCode, keyCode},
                            {kHISymbolicHotKeyModifiers, carbonModifiers}});
}

std::string text(const Error& error, const char* key) {
    return error.userInfo[key].stringOr("<none>");
}

// Answers what the test sets; counts what it is asked.
class Delegate : public KRShortcutValidatorDelegate {
  public:
    std::optional<bool> valid;
    std::optional<bool> taken;
    std::string reason;
    std::optional<bool> checkSystem;
    std::optional<bool> checkMenu;
    int optionQuestions = 0;

    std::optional<bool> shortcutValidatorIsShortcutValid(KRShortcutValidator&, const KRShortcut&,
                                                         std::string* out) override {
        if (valid) *out = reason;
        return valid;
    }
    std::optional<bool> shortcutValidatorIsKeyCodeAndFlagsTaken(KRShortcutValidator&, uint16_t,
                                                                NSEventModifierFlags,
                                                                std::string* out) override {
        if (taken) *out = reason;
        return taken;
    }
    std::optional<bool> shortcutValidatorShouldCheckSystemShortcuts(KRShortcutValidator&) override {
        ++optionQuestions;
        return checkSystem;
    }
    std::optional<bool> shortcutValidatorShouldCheckMenu(KRShortcutValidator&) override {
        ++optionQuestions;
        return checkMenu;
    }
};

class ShortcutValidation : public ShortcutTest {
  protected:
    // File > Save with ⌘S in the application's main menu.
    void installMainMenu() {
        auto mainMenu = std::make_shared<NSMenu>("Main");
        auto file = mainMenu->addItemWithTitle("File", "", "");
        auto fileMenu = std::make_shared<NSMenu>("File");
        file->setSubmenu(fileMenu);
        save = fileMenu->addItemWithTitle("Save", "save:", "s");
        NSApplication::sharedApplication()->setMainMenu(mainMenu);
    }

    std::shared_ptr<NSMenuItem> save;
    std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
};

TEST_F(ShortcutValidation, WithNothingSetAShortcutIsValid) {
    installMainMenu();
    SimulatedSymbolicHotKeys::setHotKeys({hotKey(true, kKeySpace, 0x100)});
    KRShortcutValidator validator;
    Error error;
    EXPECT_TRUE(validator.validateShortcut(*shortcut(kKeyS, kCommand | kOption), &error));
    EXPECT_TRUE(error.domain.empty());
}

TEST_F(ShortcutValidation, OlderDelegateAnsweringTakenRefusesWithItsReason) {
    delegate->taken = true;
    delegate->reason = "it opens the drawer";
    KRShortcutValidator validator(delegate);
    Error error;
    EXPECT_FALSE(validator.validateShortcut(*shortcut(kKeyS, kCommand), &error));
    EXPECT_EQ(error.domain, NSCocoaErrorDomain);
    EXPECT_EQ(error.code, 0);
    EXPECT_EQ(text(error, NSLocalizedDescriptionKey),
              "The \"Command-S\" shortcut can't be used because it opens the drawer.");
    EXPECT_EQ(text(error, NSLocalizedFailureReasonErrorKey), "The \"Command-S\" shortcut can't be used!");

    delegate->reason.clear();
    EXPECT_FALSE(validator.validateShortcut(*shortcut(kKeyS, kCommand), &error));
    EXPECT_EQ(text(error, NSLocalizedDescriptionKey), "The \"Command-S\" shortcut is already in use.");

    delegate->taken = false;
    EXPECT_TRUE(validator.validateShortcut(*shortcut(kKeyS, kCommand)));
}

TEST_F(ShortcutValidation, TheModernDelegateMethodIsAskedFirst) {
    delegate->valid = true;
    delegate->taken = true;
    KRShortcutValidator validator(delegate);
    EXPECT_TRUE(validator.validateShortcutAgainstDelegate(*shortcut(kKeyS, kCommand)));
}

TEST_F(ShortcutValidation, OnlyEnabledSystemShortcutsWithTheExactFlagsRefuse) {
    KRShortcutValidator validator;
    auto commandSpace = shortcut(kKeySpace, kCommand);
    // 0x4000 lies outside the modifier keys and is ignored; Command+Shift is another shortcut.
    SimulatedSymbolicHotKeys::setHotKeys(
        {hotKey(false, kKeySpace, 0x100), hotKey(true, kKeySpace, 0x300), Value(Dictionary{})});
    EXPECT_TRUE(validator.validateShortcutAgainstSystemShortcuts(*commandSpace));

    SimulatedSymbolicHotKeys::setHotKeys({hotKey(false, kKeySpace, 0x100), hotKey(true, kKeySpace, 0x4100)});
    Error error;
    EXPECT_FALSE(validator.validateShortcut(*commandSpace, &error));
    EXPECT_EQ(text(error, NSLocalizedDescriptionKey), kSystemMessage);
}

TEST_F(ShortcutValidation, AMenuItemInASubmenuIsFoundAndNamedByItsPath) {
    installMainMenu();
    KRShortcutValidator validator;
    Error error;
    EXPECT_FALSE(validator.validateShortcut(*shortcut(kKeyS, kCommand), &error));
    EXPECT_EQ(text(error, NSLocalizedDescriptionKey),
              "The \"Command-S\" shortcut can't be used because it's already used by the \"File → Save\" "
              "menu item.");
    EXPECT_TRUE(validator.validateShortcut(*shortcut(kKeyS, kCommand | kShift)));
}

TEST_F(ShortcutValidation, DelegateCanTurnTheMenuAndSystemChecksOff) {
    installMainMenu();
    SimulatedSymbolicHotKeys::setHotKeys({hotKey(true, kKeySpace, 0x100)});
    delegate->checkMenu = false;
    delegate->checkSystem = false;
    KRShortcutValidator validator(delegate);
    EXPECT_TRUE(validator.validateShortcut(*shortcut(kKeyS, kCommand)));
    EXPECT_TRUE(validator.validateShortcut(*shortcut(kKeySpace, kCommand)));
}

TEST_F(ShortcutValidation, ADelegateRefusalStopsBeforeTheOtherChecks) {
    installMainMenu();
    delegate->valid = false;
    KRShortcutValidator validator(delegate);
    Error error;
    EXPECT_FALSE(validator.validateShortcut(*shortcut(kKeyS, kCommand), &error));
    EXPECT_EQ(text(error, NSLocalizedDescriptionKey), "The \"Command-S\" shortcut is already in use.");
    EXPECT_EQ(delegate->optionQuestions, 0);
}

TEST_F(ShortcutValidation, MenuPathsJoinTitlesFromTheTop) {
    installMainMenu();
    EXPECT_EQ(KR_path(*save), "File → Save");
    NSMenuItem untitled("", "", "");
    EXPECT_EQ(KR_path(untitled), " → ");
    NSMenuItem titled("Quit", "", "");
    EXPECT_EQ(KR_path(titled), "Quit");
}

TEST_F(ShortcutValidation, AsRecorderDelegateItPresentsTheRefusal) {
    installMainMenu();
    KRShortcutValidator validator;
    NSControl control;
    EXPECT_TRUE(validator.recorderControl(control, *shortcut(kKeyS, kOption)));
    EXPECT_TRUE(NSApplication::sharedApplication()->presentedErrors().empty());

    EXPECT_FALSE(validator.recorderControl(control, *shortcut(kKeyS, kCommand)));
    const auto& presented = NSApplication::sharedApplication()->presentedErrors();
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_FALSE(presented[0].asSheet);
    EXPECT_EQ(presented[0].error.domain, NSCocoaErrorDomain);

    auto window = std::make_shared<NSWindow>(CGRect{0, 0, 300, 200}, NSWindowStyleMaskTitled,
                                             NSBackingStoreType::Buffered, false);
    auto inWindow = std::make_shared<NSControl>();
    window->setContentView(inWindow);
    EXPECT_FALSE(validator.recorderControl(*inWindow, *shortcut(kKeyS, kCommand)));
    ASSERT_EQ(presented.size(), 2u);
    EXPECT_TRUE(presented[1].asSheet);
    EXPECT_EQ(presented[1].window.lock(), window);
}

TEST_F(ShortcutValidation, AnUnreadableSystemListRefusesWithoutPresentingAnything) {
    SimulatedSymbolicHotKeys::setReadStatus(-50);
    KRShortcutValidator validator;
    Error error;
    EXPECT_FALSE(validator.validateShortcutAgainstSystemShortcuts(*shortcut(kKeyS, kCommand), &error));
    EXPECT_TRUE(error.domain.empty());

    NSControl control;
    EXPECT_FALSE(validator.recorderControl(control, *shortcut(kKeyS, kCommand)));
    EXPECT_EQ(trace.count("#Error Unable to read System Shortcuts: -50"), 2u);
    EXPECT_TRUE(NSApplication::sharedApplication()->presentedErrors().empty());
}

}  // namespace
