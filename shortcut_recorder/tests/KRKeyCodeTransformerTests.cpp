#include <gtest/gtest.h>

#include "platform/appkit/NSEventModifierFlags.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"
#include "shortcut_recorder/KRKeyEquivalentTransformer.h"
#include "shortcut_recorder/tests/KeyboardFixture.h"
#include "testing/EnvironmentOverride.h"

namespace {

constexpr auto LTR = NSUserInterfaceLayoutDirection::LeftToRight;
constexpr auto RTL = NSUserInterfaceLayoutDirection::RightToLeft;

AnyObject number(int64_t n) {
    return AnyObject(Value(n));
}
AnyObject string(const std::string& s) {
    return AnyObject(Value(s));
}
std::optional<int64_t> keyCodeOf(const AnyObject& object) {
    return object.isNumber() ? object.value()->asInteger() : std::nullopt;
}

class KeyCodeTransformers : public KeyboardTest {
  protected:
    KeyCodeTransformers() {
        environment.set("LANGUAGE", "en");
        environment.set("QUORVANE_RESOURCES", nullptr);
    }
    EnvironmentOverride environment;
};

TEST_F(KeyCodeTransformers, KeyTableGivesLiteralsAndSymbols) {
    const auto literal = KRLiteralKeyCodeTransformer::sharedTransformer();
    const auto symbol = KRSymbolicKeyCodeTransformer::sharedTransformer();
    const uint64_t shift = NSEventModifierFlagShift;
    struct Case {
        uint16_t keyCode;
        uint64_t implicitFlags;
        NSUserInterfaceLayoutDirection direction;
        const char* literal;
        const char* symbol;
    } cases[] = {
        {0, 0, LTR, "A", "a"},         {19, shift, LTR, "@", "@"},   {48, 0, LTR, "⇥", "\t"},
        {48, 0, RTL, "⇤", "\t"},       {48, shift, LTR, "⇤", "\t"},  {48, shift, RTL, "⇥", "\t"},
        {51, 0, LTR, "⌫", "\b"},       {51, 0, RTL, "⌦", "\b"},      {117, 0, LTR, "⌦", "\x7F"},
        {117, 0, RTL, "⌫", "\x7F"},    {96, 0, LTR, "F5", "\uF708"}, {122, shift, RTL, "F1", "\uF704"},
        {90, 0, LTR, "F20", "\uF717"}, {49, 0, LTR, "Space", " "},   {114, 0, LTR, "?\u20DD", "\uF746"},
        {36, 0, LTR, "↩", "\r"},       {71, 0, LTR, "⌧", "\uF739"},  {76, 0, LTR, "⌅", "\x03"},
        {126, 0, LTR, "↑", "\uF700"},  {94, 0, LTR, "＿", "＿"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(literal->literalForKeyCode(c.keyCode, c.implicitFlags, 0, c.direction), c.literal)
            << c.keyCode;
        EXPECT_EQ(symbol->symbolForKeyCode(c.keyCode, c.implicitFlags, 0, c.direction), c.symbol)
            << c.keyCode;
    }
}

TEST_F(KeyCodeTransformers, SpaceIsNamedInTheUsersLanguage) {
    environment.set("LANGUAGE", "de");
    EXPECT_EQ(KRLiteralKeyCodeTransformer::sharedTransformer()->literalForKeyCode(49, 0, 0, LTR),
              "Leertaste");
    EXPECT_EQ(*KRASCIILiteralKeyCodeTransformer::sharedTransformer()
                   ->reverseTransformedValue(string("LEERTASTE"))
                   .value(),
              Value(49));
}

TEST_F(KeyCodeTransformers, FormsRunInTheirActivityAndRefuseNonNumbers) {
    struct Case {
        std::shared_ptr<KRKeyCodeTransformer> transformer;
        const char* activity;
    } cases[] = {
        {KRLiteralKeyCodeTransformer::sharedTransformer(), "Key Code -> Literal"},
        {KRSymbolicKeyCodeTransformer::sharedTransformer(), "Key Code -> Symbol"},
        {KRASCIILiteralKeyCodeTransformer::sharedTransformer(), "Key Code -> ASCII Literal"},
        {KRASCIISymbolicKeyCodeTransformer::sharedTransformer(), "Key Code -> ASCII Symbol"},
    };
    for (const auto& c : cases) {
        trace.clear();
        EXPECT_TRUE(c.transformer->transformedValue(string("0")).isNil());
        auto lines = trace.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].message, "#Error Invalid key code");
        EXPECT_EQ(lines[0].activity, c.activity);
    }
    // Nil flags count as none; explicit flags never change the character.
    auto symbol = KRSymbolicKeyCodeTransformer::sharedTransformer();
    EXPECT_EQ(symbol->transformedValue(number(19), AnyObject(), number(NSEventModifierFlagShift), LTR), "2");
    EXPECT_EQ(symbol->transformedValue(number(19), number(NSEventModifierFlagShift), AnyObject(), LTR), "@");
    EXPECT_EQ(*symbol->transformedValue(number(0)).value(), Value("a"));
    EXPECT_TRUE(symbol->reverseTransformedValue(string("a")).isNil());
}

TEST_F(KeyCodeTransformers, TheBaseClassStandsForTheSymbolicForm) {
    auto shared = KRKeyCodeTransformer::sharedTransformer();
    EXPECT_EQ(shared, KRSymbolicKeyCodeTransformer::sharedTransformer());
    EXPECT_EQ(KRKeyCodeTransformer::create(), shared);
    auto onSource = KRKeyCodeTransformer::create(SimulatedTextInput::qwertzLayout());
    EXPECT_NE(std::dynamic_pointer_cast<KRSymbolicKeyCodeTransformer>(onSource), nullptr);
    EXPECT_EQ(onSource->inputSource(), SimulatedTextInput::qwertzLayout());
    EXPECT_EQ(onSource->transformedValue(number(6), AnyObject(), AnyObject(), LTR), "y");
    EXPECT_EQ(trace.count("#Developer #Error Use KRSymbolicKeyCodeTransformer instead"), 2u);
    EXPECT_EQ(shared->inputSource(), SimulatedTextInput::usLayout());
}

TEST_F(KeyCodeTransformers, PlainFormsFollowTheKeyboardLayoutAndASCIIFormsTheASCIICapableOne) {
    ASSERT_EQ(TISSelectInputSource(SimulatedTextInput::greekLayout()), noErr);
    EXPECT_EQ(KRLiteralKeyCodeTransformer::sharedTransformer()->literalForKeyCode(0, 0, 0, LTR), "Α");
    EXPECT_EQ(KRASCIILiteralKeyCodeTransformer::sharedTransformer()->literalForKeyCode(0, 0, 0, LTR), "A");
}

TEST_F(KeyCodeTransformers, ASCIILiteralParsesNamesAndGlyphs) {
    // A source without an ID shows when a string reached the translator: it logs that.
    auto usWithoutID = std::make_shared<const TISInputSource>(
        std::nullopt, true,
        std::shared_ptr<const UCKeyboardLayout>(SimulatedTextInput::usLayout(),
                                                SimulatedTextInput::usLayout()->unicodeKeyLayoutData()));
    KRASCIILiteralKeyCodeTransformer probe(usWithoutID);
    const auto shared = KRASCIILiteralKeyCodeTransformer::sharedTransformer();
    struct Case {
        const char* text;
        std::optional<int64_t> keyCode;
        bool reachesTranslator;
    } cases[] = {
        {"F12", 111, false},
        {"f1", 122, false},
        {"f20", 90, false},
        {"f0", std::nullopt, true},
        {"f21", std::nullopt, true},
        {"f05", std::nullopt, true},
        {"Escape", 53, false},
        {"ESC", 53, false},
        {"Enter", 36, false},
        {"TAB", 48, false},
        {"space", 49, false},
        {"Space", 49, false},
        {"help", 114, false},
        {"?\u20DD", 114, false},
        {"1", 18, false},
        {"-", 27, false},
        {"⇤", 48, false},
        {"⌫", 51, false},
        {"Z", 6, true},
        {"a", 0, true},
    };
    for (const auto& c : cases) {
        trace.clear();
        EXPECT_EQ(keyCodeOf(shared->reverseTransformedValue(string(c.text))), c.keyCode) << c.text;
        probe.reverseTransformedValue(string(c.text));
        EXPECT_EQ(trace.count("#Error Input source misses an ID") == 1, c.reachesTranslator) << c.text;
    }
    trace.clear();
    EXPECT_TRUE(shared->reverseTransformedValue(string("")).isNil());
    EXPECT_TRUE(shared->reverseTransformedValue(number(1)).isNil());
    EXPECT_EQ(trace.count("#Error Invalid ASCII literal"), 2u);
    EXPECT_TRUE(shared->reverseTransformedValue(string("f0")).isNil());
    auto lines = trace.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().message, "#Error Invalid value for reverse transformation");
    EXPECT_EQ(lines.back().activity, "ASCII Literal -> Key Code");
}

TEST_F(KeyCodeTransformers, ASCIISymbolParsesOneUnit) {
    const auto shared = KRASCIISymbolicKeyCodeTransformer::sharedTransformer();
    struct Case {
        const char* text;
        std::optional<int64_t> keyCode;
    } cases[] = {
        {"\x19", 48},        {"\r", 36},           {"\t", 48},          {" ", 49},
        {"\x1B", 53},        {"\b", 51},           {"\x7F", 117},       {"\x03", 76},
        {"\uF70F", 111},     {"\uF746", 114},      {"1", 18},           {"A", 0},
        {"=", 24},           {"ab", std::nullopt}, {"😀", std::nullopt}, {"", std::nullopt},
        {"ω", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(keyCodeOf(shared->reverseTransformedValue(string(c.text))), c.keyCode) << c.text;
    EXPECT_EQ(trace.count("#Error Invalid ASCII symbol"), 3u);
}

TEST_F(KeyCodeTransformers, KeyEquivalentAndMaskReadTheShortcutDictionary) {
    const auto equivalent = KRKeyEquivalentTransformer::sharedTransformer();
    const auto mask = KRKeyEquivalentModifierMaskTransformer::sharedTransformer();
    const Value command{int64_t(NSEventModifierFlagCommand)};
    auto dictionary = [](Dictionary d) { return AnyObject(Value(std::move(d))); };

    EXPECT_EQ(*equivalent->transformedValue(dictionary({{"keyCode", 0}})).value(), Value("a"));
    EXPECT_EQ(
        *equivalent->transformedValue(dictionary({{"keyCode", 19}, {"modifierFlags", command}})).value(),
        Value("2"));
    EXPECT_EQ(*equivalent->transformedValue(dictionary({{"keyCode", 122}, {"modifierFlags", "x"}})).value(),
              Value("\uF704"));
    EXPECT_TRUE(equivalent->transformedValue(dictionary({{"keyCode", "0"}})).isNil());
    EXPECT_TRUE(equivalent->transformedValue(dictionary({})).isNil());
    EXPECT_TRUE(equivalent->transformedValue(number(0)).isNil());

    EXPECT_EQ(*mask->transformedValue(dictionary({{"keyCode", 0}, {"modifierFlags", command}})).value(),
              command);
    EXPECT_TRUE(mask->transformedValue(dictionary({{"modifierFlags", "x"}})).isNil());
    EXPECT_TRUE(mask->transformedValue(string("x")).isNil());
}

}  // namespace
