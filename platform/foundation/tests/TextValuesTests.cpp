#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/TextValues.h"

TEST(TextValues, ABooleanIsReadFromTheFirstCharacterAfterBlanksSignAndZeros) {
    struct Case {
        const char* text;
        bool expected;
    } const cases[] = {
        {"YES", true}, {"yes", true},        {"true", true},   {"T", true},    {"1", true},
        {"9", true},   {" \t\n+0042", true}, {"-7", true},     {"0001", true}, {"", false},
        {"NO", false}, {"no", false},        {"false", false}, {"0", false},   {"-0", false},
        {"+", false},  {"   ", false},       {"x1", false},    {"+-1", false}, {" 0.5", false},
    };
    for (const auto& c : cases) EXPECT_EQ(boolValueOfText(c.text), c.expected) << '"' << c.text << '"';
}
