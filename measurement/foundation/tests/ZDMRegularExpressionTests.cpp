#include <gtest/gtest.h>

#include <string>

#include "measurement/foundation/ZDMRegularExpression.h"

namespace {

using Match = ZDMRegularExpression::Match;

void expectMatch(const std::optional<Match>& found, size_t location, size_t length) {
    ASSERT_TRUE(found);
    EXPECT_EQ(found->location, location);
    EXPECT_EQ(found->length, length);
}

// Positions count the searched text's own code units: "é" is one UTF-16 unit but two UTF-8 bytes.
TEST(ZDMRegularExpression, PositionsCountTheTextsOwnUnits) {
    Error error;
    const auto wide = ZDMRegularExpression::compile(std::u16string_view(u"b+"), false, &error);
    const auto narrow = ZDMRegularExpression::compile(std::string_view("b+"), false, &error);
    ASSERT_TRUE(wide && narrow);
    expectMatch(wide->firstMatch(std::u16string_view(u"a\u00e9bbc"), &error), 2, 2);
    expectMatch(narrow->firstMatch(std::string_view("a\xc3\xa9"
                                                    "bbc"),
                                   &error),
                3, 2);
    EXPECT_TRUE(error.domain.empty());
}

// Compiled once, searched many times: each search starts afresh at the start of its own text.
TEST(ZDMRegularExpression, OneCompiledPatternServesManySearches) {
    struct Case {
        bool caseInsensitive;
        const char* text;
        bool found;
    };
    const Case cases[] = {
        {false, "xABCx", false}, {true, "xABCx", true}, {true, "abc", true}, {true, "ab", false}};
    for (const Case& c : cases) {
        Error error;
        const auto regex = ZDMRegularExpression::compile(std::string_view("abc"), c.caseInsensitive, &error);
        ASSERT_TRUE(regex);
        for (int pass = 0; pass < 2; ++pass)
            EXPECT_EQ(regex->firstMatch(std::string_view(c.text), &error).has_value(), c.found) << c.text;
        EXPECT_TRUE(error.domain.empty()) << c.text;
    }
}

TEST(ZDMRegularExpression, FailuresCarryTheEngineStatusAndItsName) {
    Error error;
    EXPECT_FALSE(ZDMRegularExpression::compile(std::string_view("(a"), false, &error));
    EXPECT_EQ(error.domain, kZDMRegularExpressionErrorDomain);
    EXPECT_EQ(error.description, "U_REGEX_MISMATCHED_PAREN");
    EXPECT_NE(error.code, 0);

    // Catastrophic backtracking stops at the step limit, with an error rather than "no match".
    error = Error();
    const auto regex = ZDMRegularExpression::compile(std::string_view("(a+)+$"), false, &error);
    ASSERT_TRUE(regex);
    EXPECT_FALSE(regex->firstMatch(std::string(40, 'a') + "b", &error));
    EXPECT_EQ(error.description, "U_REGEX_TIME_OUT");
    error = Error();
    EXPECT_FALSE(ZDMFirstRegularExpressionMatch(u"(a+)+$", std::u16string(40, u'a') + u"b", &error));
    EXPECT_EQ(error.description, "U_REGEX_TIME_OUT");
    // The expression stays usable after a search that failed.
    expectMatch(regex->firstMatch(std::string_view("aa"), &error), 0, 2);
}

}  // namespace
