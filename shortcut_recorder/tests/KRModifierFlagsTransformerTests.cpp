#include <gtest/gtest.h>

#include "platform/appkit/NSEventModifierFlags.h"
#include "shortcut_recorder/KRModifierFlagsTransformer.h"
#include "shortcut_recorder/tests/KeyboardFixture.h"
#include "testing/EnvironmentOverride.h"

namespace {

constexpr auto LTR = NSUserInterfaceLayoutDirection::LeftToRight;
constexpr auto RTL = NSUserInterfaceLayoutDirection::RightToLeft;
constexpr uint64_t kControl = NSEventModifierFlagControl;
constexpr uint64_t kOption = NSEventModifierFlagOption;
constexpr uint64_t kShift = NSEventModifierFlagShift;
constexpr uint64_t kCommand = NSEventModifierFlagCommand;

AnyObject number(uint64_t n) {
    return AnyObject(Value(n));
}

class ModifierFlagsTransformers : public KeyboardTest {
  protected:
    ModifierFlagsTransformers() { environment.set("QUORVANE_RESOURCES", nullptr); }
    EnvironmentOverride environment;
};

TEST_F(ModifierFlagsTransformers, WordsAreLocalizedAndFollowTheLayoutDirection) {
    const auto literal = KRLiteralModifierFlagsTransformer::sharedTransformer();
    struct Case {
        const char* language;
        uint64_t flags;
        NSUserInterfaceLayoutDirection direction;
        const char* words;
    } cases[] = {
        {"en", kCommand | kShift | kControl, LTR, "Control-Shift-Command"},
        {"en", kCommand | kShift | kControl, RTL, "Command-Shift-Control"},
        {"de", kCommand | kShift | kControl, LTR, "Control-Umschalt-Befehl"},
        {"en", kOption | NSEventModifierFlagCapsLock, LTR, "Option"},
        {"en", 0, RTL, ""},
    };
    for (const auto& c : cases) {
        environment.set("LANGUAGE", c.language);
        EXPECT_EQ(literal->transformedValue(number(c.flags), c.direction), c.words) << c.language << c.flags;
    }
    EXPECT_TRUE(literal->transformedValue(AnyObject(Value("Shift"))).isNil());
    EXPECT_EQ(trace.count("#Error Invalid value for transformation"), 1u);
    EXPECT_FALSE(literal->allowsReverseTransformation());
}

TEST_F(ModifierFlagsTransformers, GlyphsGoInTheirFixedOrder) {
    const auto symbolic = KRSymbolicModifierFlagsTransformer::sharedTransformer();
    EXPECT_EQ(symbolic->transformedValue(number(kCommand | kShift | kOption | kControl), LTR), "⌃⌥⇧⌘");
    EXPECT_EQ(symbolic->transformedValue(number(kCommand | kShift | kOption | kControl), RTL), "⌘⇧⌥⌃");
    EXPECT_EQ(*symbolic->transformedValue(number(kCommand | kControl)).value(), Value("⌃⌘"));
    EXPECT_EQ(symbolic->transformedValue(number(0), LTR), "");
    EXPECT_TRUE(symbolic->transformedValue(AnyObject()).isNil());
}

TEST_F(ModifierFlagsTransformers, GlyphsParseBackInAnyOrderEachOnce) {
    const auto symbolic = KRSymbolicModifierFlagsTransformer::sharedTransformer();
    struct Case {
        const char* glyphs;
        std::optional<uint64_t> flags;
    } cases[] = {
        {"⌘⌃", kControl | kCommand},
        {"⇧⌥⌘⌃", kControl | kOption | kShift | kCommand},
        {"", 0},
        {"⌘⌘", std::nullopt},
        {"x", std::nullopt},
        {"⌘x", std::nullopt},
        {"⌘\u0301", std::nullopt},  // a mark joins the glyph into another character
    };
    for (const auto& c : cases) {
        AnyObject parsed = symbolic->reverseTransformedValue(AnyObject(Value(c.glyphs)));
        if (c.flags)
            EXPECT_EQ(parsed.value() ? parsed.value()->asInteger() : std::nullopt, int64_t(*c.flags))
                << c.glyphs;
        else
            EXPECT_TRUE(parsed.isNil()) << c.glyphs;
    }
    EXPECT_TRUE(symbolic->reverseTransformedValue(number(kShift)).isNil());
    EXPECT_EQ(trace.count("#Error Invalid value for reverse transformation"), 5u);
}

TEST_F(ModifierFlagsTransformers, TheBaseClassStandsForTheGlyphs) {
    EXPECT_EQ(KRModifierFlagsTransformer::sharedTransformer(),
              KRSymbolicModifierFlagsTransformer::sharedTransformer());
    EXPECT_EQ(KRModifierFlagsTransformer::create(), KRSymbolicModifierFlagsTransformer::sharedTransformer());
    EXPECT_TRUE(trace.lines().empty());
}

}  // namespace
