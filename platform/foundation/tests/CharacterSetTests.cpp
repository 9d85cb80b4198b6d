#include <gtest/gtest.h>

#include "platform/foundation/CharacterSet.h"

namespace {

TEST(CharacterSet, LettersAndDigitsOfEveryScript) {
    struct Case {
        char32_t character;
        bool letter;
        bool digit;
    };
    const Case cases[] = {
        {U'a', true, false},           {U'Z', true, false},      {U'\u00E9', true, false},  // é precomposed
        {U'\u01C5', true, false},                                                           // title case Dž
        {U'\u02B0', true, false},                                                           // modifier letter
        {U'\u4E2D', true, false},                                                           // CJK ideograph
        {U'\U0001D400', true, false},  // supplementary plane
        {U'\u0301', false, false},     // combining acute
        {U'_', false, false},          {U'-', false, false},     {U' ', false, false},
        {U'7', false, true},           {U'\u0663', false, true},  // Arabic-Indic three
        {U'\u00B2', false, false},                                // superscript two
        {U'\U0001F600', false, false},                            // emoji
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isLetterCharacter(c.character), c.letter) << uint32_t(c.character);
        EXPECT_EQ(isDecimalDigitCharacter(c.character), c.digit) << uint32_t(c.character);
    }
}

}  // namespace
