#include <gtest/gtest.h>
#include <unicode/utypes.h>

#include "measurement/foundation/ZDMRegularExpression.h"
#include "measurement/interpreter/tests/InterpreterTestSupport.h"

using namespace interpreter_test;

namespace {

ZDMPValueRef call(std::u16string text, std::u16string method, ZDMPValueList arguments) {
    return C(u"2", {S(std::move(text)), S(std::move(method)), C(u"7", std::move(arguments))});
}

TEST(ZDMPStringMethods, RowsOfEachMethod) {
    const struct {
        std::u16string text;
        std::u16string method;
        ZDMPValueList arguments;
        std::u16string result;
    } rows[] = {
        {u"abc", u"charAt", {N(-1)}, u"''"},
        {u"abc", u"charAt", {N(3)}, u"''"},
        {u"abc", u"charAt", {N(1.9)}, u"'b'"},
        {u"abc", u"charAt", {N(NAN)}, u"'a'"},
        {u"abc", u"charAt", {}, u"'a'"},
        {u"abc", u"charAt", {N(-INFINITY)}, u"''"},
        {u"abc", u"charAt", {N(1e300)}, u"''"},
        {u"abc", u"hasOwnProperty", {S(u"length")}, u"true"},
        {u"abc", u"hasOwnProperty", {S(u"2")}, u"true"},
        {u"abc", u"hasOwnProperty", {N(3)}, u"false"},
        {u"abc", u"hasOwnProperty", {N(1.5)}, u"false"},
        {u"abc", u"indexOf", {S(u"")}, u"-1"},
        {u"abc", u"indexOf", {S(u"a"), N(-5)}, u"0"},
        {u"abcabc", u"indexOf", {S(u"c"), N(3)}, u"5"},
        {u"abcabc", u"indexOf", {S(u"c"), N(1e300)}, u"-1"},
        {u"abcabc", u"lastIndexOf", {S(u"c"), N(4)}, u"2"},
        {u"abcabc", u"lastIndexOf", {S(u"c")}, u"5"},
        {u"abcabc", u"lastIndexOf", {S(u"c"), N(NAN)}, u"5"},
        {u"abcabc", u"lastIndexOf", {S(u"bc"), N(1)}, u"1"},
        {u"a-b", u"match", {S(u"z")}, u"null"},
        {u"a1b22", u"match", {S(u"[0-9]+")}, u"['1']"},
        {u"abc", u"match", {}, u"['']"},
        {u"a\nb", u"match", {S(u"a.b")}, u"null"},
        {u"x\nab", u"match", {S(u"^ab")}, u"null"},
        {u"abc", u"replace", {S(u"b")}, u"'aundefinedc'"},
        {u"abc", u"replace", {S(u""), S(u"x")}, u"'xabc'"},
        {u"aXbX", u"replace", {S(u"X"), S(u"-")}, u"'a-bX'"},
        {u"aXb", u"replace", {S(u"X"), S(u"$&")}, u"'a$&b'"},
        {u"abc", u"search", {S(u"")}, u"0"},
        {u"abc", u"search", {}, u"-1"},
        {u"xxabc", u"search", {S(u"b+")}, u"3"},
        {u"abcdef", u"slice", {N(-2)}, u"'ef'"},
        {u"abcdef", u"slice", {N(4), N(2)}, u"''"},
        {u"abcdef", u"slice", {S(u"x"), U()}, u"''"},
        {u"abcdef", u"slice", {N(1), N(-1)}, u"'bcde'"},
        {u"abcdef", u"substring", {N(4), N(2)}, u"'cd'"},
        {u"abcdef", u"substring", {N(0), N(INFINITY)}, u"''"},
        {u"abcdef", u"substring", {N(2)}, u"'cdef'"},
        {u"", u"split", {S(u",")}, u"['']"},
        {u"a,,b", u"split", {S(u",")}, u"['a'|''|'b']"},
        {u"abc", u"split", {S(u"")}, u"['a'|'b'|'c']"},
        {u"a,b,c", u"split", {S(u","), N(2)}, u"['a'|'b']"},
        {u"a,b,c", u"split", {S(u","), U()}, u"[]"},
        {u"abc", u"split", {}, u"['abc']"},
        {u",a,", u"split", {S(u",")}, u"[''|'a'|'']"},
        {u"ab", u"concat", {N(1), Null(), A({N(2), N(3)})}, u"'ab1null2,3'"},
        {u"\u00df", u"toUpperCase", {}, u"'SS'"},
        {u"\u0130", u"toLowerCase", {}, u"'i\u0307'"},
        {u"aBc", u"toString", {}, u"'aBc'"},
        {u" \u2028 x\t\u3000", u"trim", {}, u"'x'"},
        {u"Ab", u"toLocaleUpperCase", {}, u"'AB'"},
        {u"Ab", u"toLocaleLowerCase", {}, u"'ab'"},
    };
    for (const auto& row : rows) {
        Interpreter interpreter;
        const Outcome outcome = interpreter.evaluate(call(row.text, row.method, row.arguments));
        EXPECT_EQ(outcome.code, 0) << ZDMPUtf8(row.method) << " on " << ZDMPUtf8(row.text);
        EXPECT_EQ(shown(outcome.value), row.result) << ZDMPUtf8(row.method) << " on " << ZDMPUtf8(row.text)
                                                    << " gave " << ZDMPUtf8(shown(outcome.value));
    }
}

TEST(ZDMPStringMethods, CountsAndNamesAreCheckedFirst) {
    Interpreter interpreter;
    interpreter.value(Declare(u"x"));
    const struct {
        std::u16string method;
        size_t arguments;
        int64_t code;
    } rows[] = {
        {u"toUpperCase", 1, 9}, {u"trim", 1, 9},           {u"charAt", 2, 9},    {u"slice", 3, 9},
        {u"split", 3, 9},       {u"hasOwnProperty", 0, 9}, {u"padStart", 1, 17}, {u"length", 0, 17},
    };
    for (const auto& row : rows) {
        Error error;
        const ZDMPValueRef result = S(u"abc")->applyWithName(
            row.method, ZDMPValueList(row.arguments, Assign(u"x", N(7))), interpreter.scope, &error);
        EXPECT_EQ(error.code, row.code) << ZDMPUtf8(row.method);
        EXPECT_EQ(result, ZDMPUndefined()) << ZDMPUtf8(row.method);
    }
    Error error;
    S(u"abc")->applyWithName(u"unknown", {Assign(u"x", N(42))}, interpreter.scope, &error);
    EXPECT_EQ(error.code, 17);
    EXPECT_EQ(number(interpreter.value(Var(u"x"))), 7);
}

TEST(ZDMPStringMethods, AReplacementFunctionIsCalledOnlyForAnOccurrence) {
    Interpreter interpreter;
    ZDMPValueList seen;
    const auto replacer = std::make_shared<NativeFunction>(u"replacer", [&](const ZDMPValueList& arguments) {
        seen = arguments;
        return S(u"<" + text(arguments.at(0)) + u">");
    });
    interpreter.scope->addValue(replacer, u"replacer");
    EXPECT_EQ(text(interpreter.value(call(u"abc", u"replace", {S(u"z"), Var(u"replacer")}))), u"abc");
    EXPECT_EQ(replacer->calls, 0);
    EXPECT_EQ(text(interpreter.value(call(u"abcb", u"replace", {S(u"b"), Var(u"replacer")}))), u"a<b>cb");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(number(seen[1]), 1);
    EXPECT_EQ(text(seen[2]), u"abcb");
    EXPECT_EQ(text(interpreter.value(call(u"abc", u"replace", {S(u""), Var(u"replacer")}))), u"<>abc");
    EXPECT_EQ(replacer->calls, 2);
}

TEST(ZDMPStringMethods, RegularExpressionFailuresComeFromTheEngine) {
    Interpreter interpreter;
    const Outcome bad = interpreter.evaluate(call(u"abc", u"match", {S(u"(a")}));
    EXPECT_EQ(bad.value, ZDMPUndefined());
    Error error;
    ZDMFirstRegularExpressionMatch(u"(a", u"abc", &error);
    EXPECT_EQ(error.domain, kZDMRegularExpressionErrorDomain);
    EXPECT_EQ(error.code, U_REGEX_MISMATCHED_PAREN);
    EXPECT_EQ(bad.code, U_REGEX_MISMATCHED_PAREN);
    EXPECT_EQ(bad.domain, kZDMRegularExpressionErrorDomain);

    const std::u16string backtracking = std::u16string(40, u'a') + u"b";
    error = Error();
    EXPECT_FALSE(ZDMFirstRegularExpressionMatch(u"(a+)+$", backtracking, &error));
    EXPECT_EQ(error.code, U_REGEX_TIME_OUT);
    EXPECT_EQ(interpreter.evaluate(call(backtracking, u"search", {S(u"(a+)+$")})).code, U_REGEX_TIME_OUT);
}

TEST(ZDMPStringMethods, AConcatLoopStopsAtTheAllocationBudget) {
    Interpreter interpreter;
    interpreter.value(C(u"52", {S(u"limit"), N(0)}));
    interpreter.scope->addValue(S(u"0123456789abcdef"), u"s");
    const Outcome outcome = interpreter.evaluate(
        C(u"42", {B(true), N(0), B(false),
                  List({Assign(u"s", C(u"2", {Var(u"s"), S(u"concat"), C(u"7", {Var(u"s")})}))})}));
    EXPECT_EQ(outcome.code, 18);
    const double length = static_cast<double>(text(interpreter.scope->valueForName(u"s")).size());
    EXPECT_LE(length * 2, ZDMPRunBudget::kMaximumAllocationBytes);
    EXPECT_GE(length * 2 * 4, ZDMPRunBudget::kMaximumAllocationBytes);

    interpreter.runtime.resetInstructionCount();
    const Outcome cut =
        interpreter.evaluate(call(std::u16string(3 * 1024 * 1024, u','), u"split", {S(u",")}));
    EXPECT_EQ(cut.code, 18);
}

}  // namespace
