#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "measurement/interpreter/tests/InterpreterTestSupport.h"

using namespace interpreter_test;

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(ZDMPConversions, NumbersFormatAsText) {
    const struct {
        double number;
        std::u16string text;
    } cases[] = {
        {1e21, u"1e+21"},
        {1e20, u"100000000000000000000"},
        {123456789012345680000.0, u"123456789012345680000"},
        {-123456789012345680000.0, u"-123456789012345680000"},
        {1152921504606846976.0, u"1152921504606847000"},
        {9007199254740993.0, u"9007199254740992"},
        {1e-7, u"1e-7"},
        {1.5e-7, u"1.5e-7"},
        {-1e-7, u"-1e-7"},
        {-0.0, u"0"},
        {0.0, u"0"},
        {1234567.5, u"1234567.5"},
        {0.1 + 0.2, u"0.30000000000000004"},
        {1e-6, u"0.000001"},
        {-42, u"-42"},
        {1.7976931348623157e308, u"1.7976931348623157e+308"},
        {std::nan(""), u"NaN"},
        {kInfinity, u"Infinity"},
        {-kInfinity, u"-Infinity"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text(N(c.number)), c.text) << c.number;
    }
}

TEST(ZDMPConversions, TextsConvertToNumbers) {
    const double nan = std::nan("");
    const struct {
        std::u16string text;
        double number;
    } cases[] = {
        {u"  12.5\n", 12.5},
        {u"", 0},
        {u"   ", 0},
        {u"12px", nan},
        {u"infinity", nan},
        {u"+Infinity", nan},
        {u"0x10", nan},
        {u"1e", nan},
        {u".5", 0.5},
        {u"5.", 5},
        {u"1e3", 1000},
        {u"-Infinity", -kInfinity},
        {u"Infinity", kInfinity},
        {u"NaN", nan},
        {u"inf", nan},
        {u"+7", 7},
        {u"-.5e-1", -0.05},
        {u".", nan},
        {u"1 2", nan},
        {u"1e400", kInfinity},
        {u"-1e400", -kInfinity},
        {u"1e-400", 0},
        {u"\u00a012\u3000", 12},
        {u"\u0661", nan},
    };
    for (const auto& c : cases) {
        const double converted = number(S(c.text));
        if (std::isnan(c.number)) {
            EXPECT_TRUE(std::isnan(converted)) << ZDMPUtf8(c.text);
        } else {
            EXPECT_EQ(converted, c.number) << ZDMPUtf8(c.text);
        }
    }
}

TEST(ZDMPConversions, IntegerConversionsHandleEveryDouble) {
    const struct {
        double x;
        int32_t int32;
        uint32_t uint32;
        double integerPart;
    } cases[] = {
        {std::nan(""), 0, 0, 0},
        {kInfinity, 0, 0, kInfinity},
        {-kInfinity, 0, 0, -kInfinity},
        {4294967295.0, -1, 4294967295u, 4294967295.0},
        {3000000000.0, -1294967296, 3000000000u, 3000000000.0},
        {-1, -1, 4294967295u, -1},
        {2.9, 2, 2, 2},
        {-2.9, -2, 4294967294u, -2},
        {1e300, 0, 0, 1e300},
        {-4294967297.5, -1, 4294967295u, -4294967297.0},
        {2147483648.0, -2147483648, 2147483648u, 2147483648.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ZDMPToInt32(c.x), c.int32) << c.x;
        EXPECT_EQ(ZDMPToUint32(c.x), c.uint32) << c.x;
        if (std::isnan(c.x)) {
            EXPECT_EQ(ZDMPIntegerPart(c.x), 0);
        } else {
            EXPECT_EQ(ZDMPIntegerPart(c.x), c.integerPart) << c.x;
        }
    }
}

TEST(ZDMPConversions, CanonicallyEquivalentTextsOrderTheSame) {
    EXPECT_EQ(ZDMPCompareTexts(u"\u00e9", u"e\u0301"), 0);
    EXPECT_EQ(ZDMPCompareTexts(u"10", u"9"), -1);
    EXPECT_EQ(ZDMPCompareTexts(u"b", u"B"), 1);
    EXPECT_EQ(ZDMPCompareTexts(u"", u""), 0);
}

}  // namespace
