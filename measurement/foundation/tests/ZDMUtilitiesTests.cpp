#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "MonitorFixture.h"
#include "measurement/foundation/ZDMDataMD5.h"
#include "measurement/foundation/ZDMDictionaryQuery.h"
#include "measurement/foundation/ZDMNumericUtil.h"
#include "measurement/foundation/ZDMStringAdditions.h"

namespace {

TEST(Fingerprints, LeastSignificantBitsReadTheLastEightBytesBigEndian) {
    EXPECT_EQ(zdm_64LeastSignificantBits(Data{0x01, 0x02}), 258);
    EXPECT_EQ(zdm_64LeastSignificantBits(Data{0, 1, 2, 3, 4, 5, 6, 7, 8}), 0x0102030405060708);
    EXPECT_EQ(zdm_64LeastSignificantBits(Data{}), 0);
    EXPECT_EQ(zdm_64LeastSignificantBits(Data(8, 0xff)), -1);
}

TEST(Fingerprints, MD5OfKnownInput) {
    // The digest of no bytes is d41d8cd98f00b204e9800998ecf8427e.
    const Data empty = zdm_MD5Data(Data{});
    ASSERT_EQ(empty.size(), 16u);
    EXPECT_EQ(empty[0], 0xd4);
    EXPECT_EQ(empty[15], 0x7e);
    EXPECT_EQ(zdm_64LSBMD5(Data{}), static_cast<int64_t>(0xe9800998ecf8427eULL));

    EXPECT_EQ(zdm_MD5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
    for (const char* text : {"", "a", "\xF0\x9F\x98\x80 emoji"}) {
        const auto hex = zdm_MD5String(text);
        ASSERT_TRUE(hex) << text;
        EXPECT_EQ(hex->size(), 32u);
        EXPECT_EQ(hex->find_first_not_of("0123456789abcdef"), std::string::npos) << *hex;
    }
    EXPECT_FALSE(zdm_MD5String("\xC3"));  // a cut two-byte sequence cannot be converted
}

TEST(Utf32, CountsAndCopiesScalarValues) {
    const std::string emoji = "\xF0\x9F\x98\x80";
    EXPECT_EQ(zdm_UTF32Length(emoji), 1u);
    EXPECT_EQ(zdm_UTF32Length("a\xC3\xA9" + emoji), 3u);
    EXPECT_EQ(zdm_UTF32Length(""), 0u);

    unsigned char buffer[12];
    std::memset(buffer, 0xAA, sizeof buffer);
    zdm_getUTF32Bytes("a" + emoji + "b", buffer, 10);  // room for two whole scalars only
    const unsigned char expected[12] = {'a', 0, 0, 0, 0x00, 0xF6, 0x01, 0, 0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof buffer), 0);
}

TEST(Query, EncodesPairsLeavingTheQuerySetAlone) {
    EXPECT_EQ(zdm_queryString(Dictionary{{"a b", "x&y"}}), "a%20b=x&y");
    EXPECT_EQ(zdm_queryString(Dictionary{}), "");
    EXPECT_EQ(zdm_queryString(Dictionary{{"platform", "macos"}, {"zor_version", 101300}, {"k", "\xC3\xA9#"}}),
              "platform=macos&zor_version=101300&k=%C3%A9%23");
}

TEST(Query, ParsesArgumentsWithTheFirstOccurrenceWinning) {
    const Dictionary parsed = zdm_dictionaryWithHttpArgumentsString("a=1&b&a=2&&c=x%3Dy+z");
    EXPECT_EQ(parsed.size(), 3u);
    EXPECT_EQ(parsed["a"], Value("1"));
    EXPECT_EQ(parsed["b"], Value(""));
    EXPECT_EQ(parsed["c"], Value("x=y z"));

    // A side that does not unescape becomes empty; nothing is lost or thrown on bad escapes.
    const Dictionary bad = zdm_dictionaryWithHttpArgumentsString("k=%zz&%4=v&e=%C3");
    EXPECT_EQ(bad["k"], Value(""));
    EXPECT_EQ(bad[""], Value("v"));
    EXPECT_EQ(bad["e"], Value(""));
    EXPECT_EQ(zdm_stringByUnescapingFromURLArgument("%"), std::nullopt);
    EXPECT_EQ(zdm_stringByUnescapingFromURLArgument("a+%2B%c3%a9"), "a +\xC3\xA9");
}

TEST(DecimalCheck, AcceptsOnlyPlainDecimalTexts) {
    for (const char* text : {"5.", ".5", "-0.25", "+7", "0", "-.5", "007", "1.50"})
        EXPECT_TRUE(ZDMIsDecimalNumberString(text)) << text;
    for (const char* text : {"", "1e5", "1,000", " 1", "1 ", "--1", ".", "+", "-.", "1.2.3", "0x1", "5\n"})
        EXPECT_FALSE(ZDMIsDecimalNumberString(text)) << text;
    EXPECT_TRUE(ZDMIsDecimalNumberString(std::string(100000, '9')));  // long input, linear scan
}

using DecimalParse = SharedMonitorFixture;

TEST_F(DecimalParse, ParsesExactlyOrRefuses) {
    struct Case {
        const char* text;
        const char* rendered;
    };
    const Case cases[] = {
        {".5", "0.5"},
        {"-.5", "-0.5"},
        {"1.50", "1.5"},
        {"007", "7"},
        {"+7", "7"},
        {"5.", "5"},
        {"-0.25", "-0.25"},
        {"100", "100"},
        {"0.000", "0"},
        {"12345678901234567890123456789012345678", "12345678901234567890123456789012345678"},
    };
    for (const auto& c : cases) {
        const auto number = ZDMDecimalNumberFromString(c.text);
        ASSERT_TRUE(number) << c.text;
        EXPECT_EQ(number->stringValue(), c.rendered) << c.text;
    }
    EXPECT_EQ(ZDMDecimalNumberFromString("-.5")->doubleValue(), -0.5);
    EXPECT_EQ(lastSampledMessage(), "");

    EXPECT_FALSE(ZDMDecimalNumberFromString("1e5"));
    EXPECT_EQ(lastSampledMessage(), "E:String value does not represent a numeric value. Value");
    EXPECT_FALSE(ZDMDecimalNumberFromString("123456789012345678901234567890123456789"));  // 39 digits
    EXPECT_EQ(lastSampledMessage(),
              "E:Unable to create a NSDecimalNumber from string value: loss of precision. Value");
    EXPECT_FALSE(ZDMDecimalNumberFromString("0." + std::string(200, '0') + "1"));  // beyond the exponent
    EXPECT_EQ(lastSampledMessage(), "E:Unable to create a NSDecimalNumber from string value. Value");
}

TEST(RandomInt64, DrawsDifferentValues) {
    std::set<int64_t> drawn;
    for (int i = 0; i < 8; ++i) drawn.insert(ZDMNumericUtil::randomInt64());
    EXPECT_GT(drawn.size(), 1u);
}

}  // namespace
