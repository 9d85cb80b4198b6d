#include <gtest/gtest.h>

#include "shortcut_recorder/KRShortcut.h"
#include "shortcut_recorder/KRShortcutFormatter.h"
#include "shortcut_recorder/tests/ShortcutFixture.h"

namespace {

using ShortcutFormatter = ShortcutTest;

AnyObject shiftCommand(uint16_t keyCode) {
    return AnyObject(KRShortcut::shortcutWithCode(keyCode, kShift | kCommand, std::nullopt, std::nullopt));
}

TEST_F(ShortcutFormatter, DefaultsShowGlyphsThenTheKeyName) {
    KRShortcutFormatter formatter;
    EXPECT_TRUE(formatter.isKeyCodeLiteral());
    EXPECT_FALSE(formatter.areModifierFlagsLiteral());
    EXPECT_TRUE(formatter.usesASCIICapableKeyboardInputSource());
    EXPECT_EQ(formatter.layoutDirection(), NSUserInterfaceLayoutDirection::LeftToRight);
    EXPECT_EQ(formatter.stringForObjectValue(shiftCommand(0)), "⇧⌘A");
    EXPECT_EQ(formatter.stringForObjectValue(AnyObject(Value("⇧⌘A"))), std::nullopt);
}

TEST_F(ShortcutFormatter, TakesTheApplicationsDirectionAtCreation) {
    NSApplication::sharedApplication()->setUserInterfaceLayoutDirection(
        NSUserInterfaceLayoutDirection::RightToLeft);
    EXPECT_EQ(KRShortcutFormatter().layoutDirection(), NSUserInterfaceLayoutDirection::RightToLeft);
}

TEST_F(ShortcutFormatter, SettingsChooseTheForms) {
    KRShortcutFormatter formatter;
    formatter.setAreModifierFlagsLiteral(true);
    EXPECT_EQ(formatter.stringForObjectValue(shiftCommand(0)), "Shift-CommandA");
    formatter.setAreModifierFlagsLiteral(false);
    formatter.setIsKeyCodeLiteral(false);
    EXPECT_EQ(formatter.stringForObjectValue(shiftCommand(0)), "⇧⌘a");
    EXPECT_EQ(formatter.stringForObjectValue(shiftCommand(0x7F00)), "⇧⌘<32512>");
}

TEST_F(ShortcutFormatter, ParsesOnlyLiteralASCIILeftToRight) {
    KRShortcutFormatter formatter;
    AnyObject parsed;
    ASSERT_TRUE(formatter.getObjectValue(&parsed, "⇧⌘A", nullptr));
    EXPECT_TRUE(parsed.object<KRShortcut>()->isEqual(shiftCommand(0).object<KRShortcut>().get()));
    EXPECT_FALSE(formatter.getObjectValue(&parsed, "⇧⌘Ω", nullptr));

    struct Case {
        bool literal;
        bool ascii;
        NSUserInterfaceLayoutDirection direction;
    } refusing[] = {
        {false, true, NSUserInterfaceLayoutDirection::LeftToRight},
        {true, false, NSUserInterfaceLayoutDirection::LeftToRight},
        {true, true, NSUserInterfaceLayoutDirection::RightToLeft},
    };
    for (const auto& c : refusing) {
        formatter.setIsKeyCodeLiteral(c.literal);
        formatter.setUsesASCIICapableKeyboardInputSource(c.ascii);
        formatter.setLayoutDirection(c.direction);
        for (const char* text : {"⇧⌘A", "A", "⌘", ""}) {
            AnyObject untouched;
            std::string description = "unchanged";
            EXPECT_FALSE(formatter.getObjectValue(&untouched, text, &description)) << text;
            EXPECT_TRUE(untouched.isNil());
            EXPECT_EQ(description, "unchanged");
        }
    }
}

}  // namespace
