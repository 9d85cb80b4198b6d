#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Unicode.h"

namespace {

const std::string kEuro = "\xE2\x82\xAC";          // U+20AC: three bytes, one unit
const std::string kGrinning = "\xF0\x9F\x98\x80";  // U+1F600: four bytes, a surrogate pair

TEST(Unicode, MeasuresInUtf16UnitsAndCountsEachStrayByteAsOne) {
    struct Case {
        std::string text;
        size_t units;
        bool valid;
    };
    const Case cases[] = {
        {"", 0, true},
        {"abc", 3, true},
        {"\xC3\xA9" + kEuro, 2, true},
        {kGrinning, 2, true},
        {"\xF4\x8F\xBF\xBF", 2, true},   // U+10FFFF, the last code point
        {"\x80", 1, false},              // a continuation byte alone
        {"\xC0\xAF", 2, false},          // overlong "/"
        {"\xE0\x80\xAF", 3, false},      // overlong "/" in three bytes
        {"\xED\xA0\x80", 3, false},      // a surrogate
        {"\xF4\x90\x80\x80", 4, false},  // past U+10FFFF
        {"\xF0\x9F\x98", 3, false},      // cut short
        {"a\xFF" + kGrinning, 4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(utf16Length(c.text), c.units);
        EXPECT_EQ(isValidUtf8(c.text), c.valid);
    }
}

TEST(Unicode, PrefixNeverSplitsACharacter) {
    const std::string text = "a" + kGrinning + kEuro + "\xFF" + "z";  // units: 1, 2, 1, 1, 1
    const std::string expected[] = {
        "", "a", "a", "a" + kGrinning, "a" + kGrinning + kEuro, "a" + kGrinning + kEuro + "\xFF", text, text,
    };
    for (size_t units = 0; units < std::size(expected); ++units)
        EXPECT_EQ(prefixOfUtf16Length(text, units), expected[units]) << units << " units";
}

TEST(Unicode, DecodesAndStepsBackOneCharacterAtATime) {
    const std::string text = "a\xC3\xA9" + kEuro + kGrinning + "\x80" + "\xE2\x82";
    std::vector<char32_t> decoded;
    for (size_t i = 0; i < text.size();) decoded.push_back(decodeUtf8(text, i));
    EXPECT_EQ(decoded,
              (std::vector<char32_t>{U'a', U'\u00E9', U'\u20AC', U'\U0001F600', 0xFFFD, 0xFFFD, 0xFFFD}));

    std::vector<std::string> removed;
    for (std::string rest = text; !rest.empty(); rest.resize(lastCharacterStart(rest)))
        removed.push_back(rest.substr(lastCharacterStart(rest)));
    EXPECT_EQ(removed, (std::vector<std::string>{"\x82", "\xE2", "\x80", kGrinning, kEuro, "\xC3\xA9", "a"}));
    EXPECT_EQ(lastCharacterStart(""), 0u);
}

}  // namespace
