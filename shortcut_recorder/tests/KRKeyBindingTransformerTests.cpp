#include <gtest/gtest.h>

#include "shortcut_recorder/KRKeyBindingTransformer.h"
#include "shortcut_recorder/KRShortcut.h"
#include "shortcut_recorder/tests/ShortcutFixture.h"

namespace {

using KeyBindings = ShortcutTest;

TEST_F(KeyBindings, StringsBecomeShortcuts) {
    struct Case {
        const char* binding;
        uint16_t keyCode;
        uint64_t flags;
    } cases[] = {
        {"^$a", 0, kControl | kShift}, {"A", 0, kShift}, {"@#1", 83, kCommand},
        {"@1", 18, kCommand},          {"#.", 47, 0},    {"~\uF700", 126, kOption},
    };
    for (const auto& c : cases) {
        auto shortcut = KRShortcut::shortcutWithKeyBinding(c.binding);
        ASSERT_TRUE(shortcut) << c.binding;
        EXPECT_EQ(shortcut->keyCode(), c.keyCode) << c.binding;
        EXPECT_EQ(shortcut->modifierFlags(), c.flags) << c.binding;
    }
    auto controlShiftA = KRShortcut::shortcutWithKeyBinding("^$a");
    EXPECT_EQ(controlShiftA->charactersIgnoringModifiers(), "a");
}

TEST_F(KeyBindings, BadStringsGiveNil) {
    EXPECT_EQ(KRShortcut::shortcutWithKeyBinding(""), nullptr);
    EXPECT_TRUE(KRKeyBindingTransformer::sharedTransformer()->transformedValue(AnyObject(Value(7))).isNil());
    EXPECT_EQ(trace.count("#Error unexpected key symbol"), 0u);
    for (const char* bad : {"^~", "ab", "@\u00A7\u00A7"}) {
        trace.clear();
        EXPECT_EQ(KRShortcut::shortcutWithKeyBinding(bad), nullptr) << bad;
        EXPECT_EQ(trace.count("#Error unexpected key symbol"), 1u) << bad;
    }
}

TEST_F(KeyBindings, ShortcutsBecomeStringsWithMarkersInFixedOrder) {
    const auto transformer = KRKeyBindingTransformer::sharedTransformer();
    auto write = [&](uint16_t keyCode, uint64_t flags) {
        AnyObject written = transformer->reverseTransformedValue(
            AnyObject(KRShortcut::shortcutWithCode(keyCode, flags, std::nullopt, std::nullopt)));
        return written.string() ? *written.string() : std::string("<nil>");
    };
    EXPECT_EQ(write(76, kCommand), "@#\x03");
    EXPECT_EQ(write(0, kCommand | kShift | kOption | kControl), "^~$@a");
    EXPECT_EQ(write(18, 0), "1");

    AnyObject fromDictionary = transformer->reverseTransformedValue(
        AnyObject(Value(Dictionary{{"keyCode", 83}, {"modifierFlags", "x"}})));
    EXPECT_EQ(*fromDictionary.string(), "#1");
}

TEST_F(KeyBindings, WritingRefusesWhatIsNoShortcut) {
    const auto transformer = KRKeyBindingTransformer::sharedTransformer();
    struct Case {
        AnyObject value;
        const char* line;
    } cases[] = {
        {AnyObject(Value("^a")), "#Error invalid class of the value"},
        {AnyObject(Value(Dictionary{{"modifierFlags", 0}})), "#Error invalid key code"},
        {AnyObject(KRShortcut::shortcutWithCode(0x7F00, kCommand, std::nullopt, std::nullopt)),
         "#Error unexpected key code"},
    };
    for (const auto& c : cases) {
        trace.clear();
        EXPECT_TRUE(transformer->reverseTransformedValue(c.value).isNil()) << c.line;
        EXPECT_EQ(trace.count(c.line), 1u) << c.line;
    }
}

}  // namespace
