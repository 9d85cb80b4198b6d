#include <gtest/gtest.h>

#include "platform/foundation/UnicodeText.h"

TEST(UnicodeText, CaseMappingIsLocaleFreeAndMayChangeLength) {
    EXPECT_EQ(lowercaseString("ESC Ω É"), "esc ω é");
    EXPECT_EQ(uppercaseString("straße å"), "STRASSE Å");
    EXPECT_EQ(uppercaseString("i"), "I");  // not the dotted capital of a Turkish locale
    EXPECT_EQ(lowercaseString("↩⌘"), "↩⌘");
    EXPECT_EQ(lowercaseString(""), "");
}

TEST(UnicodeText, ComposedSequencesKeepMarksAndPairsTogether) {
    using Sequences = std::vector<std::string>;
    EXPECT_EQ(composedCharacterSequences("⌘⌃"), (Sequences{"⌘", "⌃"}));
    EXPECT_EQ(composedCharacterSequences("?\u20DDe\u0301😀"), (Sequences{"?\u20DD", "e\u0301", "😀"}));
    EXPECT_EQ(composedCharacterSequences(""), Sequences{});
    EXPECT_EQ(composedCharacterSequences("a\xFF"), (Sequences{"a", "\uFFFD"}));
}

TEST(UnicodeText, ConvertsBetweenUtf8AndUtf16) {
    EXPECT_EQ(utf16String("a⌘😀"), (std::u16string{u'a', 0x2318, 0xD83D, 0xDE00}));
    EXPECT_EQ(utf8String(std::u16string{0xF704, 0x000D}), "\uF704\r");
    EXPECT_EQ(utf8String(std::u16string{0xD83D}), "\uFFFD");  // a lone surrogate
    EXPECT_EQ(utf16String("\xC0"), std::u16string{0xFFFD});
}
