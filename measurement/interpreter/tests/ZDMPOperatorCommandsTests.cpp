#include <gtest/gtest.h>

#include <cmath>

#include "measurement/interpreter/ZDMPCommandRegistrar.h"
#include "measurement/interpreter/tests/InterpreterTestSupport.h"

using namespace interpreter_test;

namespace {

// The text of a result, with the sign of a zero shown.
std::u16string shown(const ZDMPValueRef& value) {
    if (value->kind() == ZDMPValueKind::number && number(value) == 0 && std::signbit(number(value)))
        return u"-0";
    return (value->kind() == ZDMPValueKind::string ? u"'" : u"") + text(value);
}

TEST(ZDMPOperatorCommands, RowsOfEachOperator) {
    const auto nan = N(NAN);
    const struct {
        std::u16string code;
        ZDMPValueList operands;
        std::u16string result;
    } rows[] = {
        {u"0", {S(u"1"), N(2)}, u"'12"},
        {u"0", {N(1), B(true)}, u"2"},
        {u"0", {A({N(1), N(2)}), N(3)}, u"'1,23"},
        {u"0", {U(), N(1)}, u"NaN"},
        {u"0", {Null(), N(1)}, u"1"},
        {u"10", {N(1), N(0)}, u"Infinity"},
        {u"10", {N(0), N(0)}, u"NaN"},
        {u"25", {N(-7), N(2)}, u"-1"},
        {u"25", {N(7), N(0)}, u"NaN"},
        {u"25", {N(7), N(INFINITY)}, u"7"},
        {u"26", {S(u"3"), N(4)}, u"12"},
        {u"37", {N(3), S(u"5")}, u"-2"},
        {u"27", {N(0)}, u"-0"},
        {u"35", {S(u"7")}, u"'7"},
        {u"56", {N(3000000000.0), N(-1)}, u"-1294967296"},
        {u"59", {N(1), N(2)}, u"3"},
        {u"62", {N(5), N(1)}, u"4"},
        {u"61", {N(-1), N(0)}, u"4294967295"},
        {u"57", {N(1), N(32)}, u"1"},
        {u"57", {N(1), N(31)}, u"-2147483648"},
        {u"60", {N(-8), N(1)}, u"-4"},
        {u"61", {N(-8), N(1)}, u"2147483644"},
        {u"58", {nan}, u"-1"},
        {u"58", {N(2.9)}, u"-3"},
        {u"58", {N(-2.9)}, u"1"},
        {u"23", {S(u"10"), S(u"9")}, u"true"},
        {u"23", {S(u"10"), N(9)}, u"false"},
        {u"18", {N(2), N(1)}, u"true"},
        {u"19", {N(1), N(1)}, u"true"},
        {u"24", {S(u"\u00e9"), S(u"e\u0301")}, u"true"},
        {u"28", {A()}, u"false"},
        {u"28", {S(u"")}, u"true"},
        {u"30", {S(u""), S(u"x")}, u"'x"},
        {u"1", {N(0), S(u"x")}, u"0"},
        {u"1", {N(2), S(u"x")}, u"'x"},
    };
    for (const auto& row : rows) {
        Interpreter interpreter;
        const Outcome outcome = interpreter.evaluate(C(row.code, row.operands));
        EXPECT_EQ(outcome.code, 0) << ZDMPUtf8(row.code);
        EXPECT_EQ(shown(outcome.value), row.result)
            << ZDMPUtf8(row.code) << " → " << ZDMPUtf8(shown(outcome.value));
    }
}

TEST(ZDMPOperatorCommands, OrderingWithNaNIsAlwaysFalse) {
    Interpreter interpreter;
    for (const char16_t* code : {u"18", u"19", u"23", u"24"}) {
        for (const auto& operands : {ZDMPValueList{N(NAN), N(1)}, ZDMPValueList{N(1), N(NAN)},
                                     ZDMPValueList{U(), U()}, ZDMPValueList{S(u"a"), N(1)}}) {
            EXPECT_EQ(interpreter.value(C(code, operands)), ZDMPBoolean(false)) << ZDMPUtf8(code);
        }
    }
}

TEST(ZDMPOperatorCommands, PassThroughCommandsYieldTheSameObject) {
    Interpreter interpreter;
    const auto array = A({N(1)});
    EXPECT_EQ(interpreter.value(C(u"33", {array, N(2)})), array);
    EXPECT_EQ(interpreter.value(C(u"32", {array, N(2)})), array);
    EXPECT_EQ(interpreter.value(C(u"34", {array})), array);
    const ZDMPValueRef first = A();
    EXPECT_EQ(interpreter.value(C(u"30", {first, N(1)})), first);
}

TEST(ZDMPOperatorCommands, EqualityMatrix) {
    const auto sameArray = A({N(5)});
    const ZDMPValueRef values[] = {U(),     Null(), N(0), S(u""),    S(u"1"),   N(1),
                                   B(true), N(NAN), A(),  sameArray, sameArray, ZDMPMapValue::make()};
    const char* names[] = {"undefined", "null", "0", "''", "'1'", "1", "true", "NaN", "[]", "a", "a", "{}"};
    // Loose equality, row by row over the columns above ("a" is the same array twice).
    const char* loose[] = {
        "110000000000",  // undefined
        "110000000000",  // null
        "001100001000",  // 0
        "001100001000",  // ''
        "000011100000",  // '1'
        "000011100000",  // 1
        "000011100000",  // true
        "000000000000",  // NaN
        "001100001000",  // []
        "000000000110",  // a
        "000000000110",  // a
        "000000000001",  // {}
    };
    Interpreter interpreter;
    for (size_t i = 0; i < std::size(values); ++i) {
        for (size_t j = 0; j < std::size(values); ++j) {
            const bool expectedLoose = loose[i][j] == '1';
            const bool sameValue = values[i] == values[j] && !(i == 7 && j == 7);
            const bool expectedStrict =
                sameValue || (i == 2 && j == 2) || ((i == 9 || i == 10) && (j == 9 || j == 10));
            const std::string pair = std::string(names[i]) + " vs " + names[j];
            EXPECT_EQ(text(interpreter.value(C(u"12", {values[i], values[j]}))), text(B(expectedLoose)))
                << "12 " << pair;
            EXPECT_EQ(text(interpreter.value(C(u"29", {values[i], values[j]}))), text(B(!expectedLoose)))
                << "29 " << pair;
            EXPECT_EQ(text(interpreter.value(C(u"20", {values[i], values[j]}))), text(B(expectedStrict)))
                << "20 " << pair;
            EXPECT_EQ(text(interpreter.value(C(u"21", {values[i], values[j]}))), text(B(!expectedStrict)))
                << "21 " << pair;
        }
    }
    EXPECT_EQ(interpreter.value(C(u"20", {S(u"x"), S(u"x")})), ZDMPBoolean(true));
    EXPECT_EQ(interpreter.value(C(u"20", {N(1), B(true)})), ZDMPBoolean(false));
}

TEST(ZDMPOperatorCommands, OperandCountsAreCheckedBeforeOrAfterEvaluatingByFamily) {
    const struct {
        std::u16string code;
        size_t operands;
        bool evaluatesFirst;
    } rows[] = {
        {u"12", 1, false}, {u"23", 3, false}, {u"1", 1, false}, {u"30", 3, false}, {u"28", 2, false},
        {u"0", 3, true},   {u"27", 2, true},  {u"56", 1, true}, {u"58", 2, true},  {u"33", 1, true},
    };
    for (const auto& row : rows) {
        Interpreter interpreter;
        interpreter.value(Declare(u"x"));
        ZDMPValueList operands;
        for (size_t i = 0; i < row.operands; ++i)
            operands.push_back(Assign(u"x", N(static_cast<double>(i + 1))));
        const Outcome outcome = interpreter.evaluate(C(row.code, operands));
        EXPECT_EQ(outcome.code, 9) << ZDMPUtf8(row.code);
        const ZDMPValueRef x = interpreter.value(Var(u"x"));
        if (row.evaluatesFirst) {
            EXPECT_EQ(number(x), static_cast<double>(row.operands)) << ZDMPUtf8(row.code);
        } else {
            EXPECT_EQ(x, ZDMPUndefined()) << ZDMPUtf8(row.code);
        }
    }
}

TEST(ZDMPOperatorCommands, LogicalOperandsAreEvaluatedLazily) {
    Interpreter interpreter;
    interpreter.value(Declare(u"x"));
    EXPECT_EQ(number(interpreter.value(C(u"1", {N(0), Assign(u"x", N(1))}))), 0);
    EXPECT_EQ(number(interpreter.value(C(u"30", {N(2), Assign(u"x", N(1))}))), 2);
    EXPECT_EQ(interpreter.value(Var(u"x")), ZDMPUndefined());
    EXPECT_EQ(interpreter.evaluate(C(u"28", {C(u"3", {N(1), N(1)})})).code, 10);
}

TEST(ZDMPOperatorCommands, AFailingConversionEndsTheCommand) {
    Interpreter interpreter;
    const ZDMPValueRef statement = C(u"4");
    for (const char16_t* code : {u"0", u"37", u"56", u"23", u"12"}) {
        // A break value has no conversions: evaluate it as an operand, then convert it.
        const Outcome outcome = interpreter.evaluate(C(code, {N(1), statement}));
        EXPECT_NE(outcome.code, 0) << ZDMPUtf8(code);
        EXPECT_EQ(outcome.value, ZDMPUndefined()) << ZDMPUtf8(code);
    }
}

TEST(ZDMPCommandRegistrar, EveryCodeReachesItsFamily) {
    const struct {
        const char* family;
        std::vector<std::u16string> codes;
    } families[] = {
        {"bitwise", {u"56", u"57", u"58", u"59", u"60", u"61", u"62"}},
        {"comparison", {u"12", u"18", u"19", u"20", u"21", u"23", u"24", u"29"}},
        {"control",
         {u"2", u"4", u"5", u"6", u"9", u"13", u"22", u"36", u"38", u"39", u"46", u"50", u"51", u"53"}},
        {"logical", {u"1", u"28", u"30"}},
        {"loop", {u"42", u"47", u"54", u"55", u"63", u"64", u"65", u"66"}},
        {"math", {u"0", u"10", u"25", u"26", u"27", u"32", u"33", u"34", u"35", u"37"}},
        {"variable", {u"3", u"7", u"8", u"15", u"16", u"17", u"40", u"41", u"43", u"44", u"45", u"52"}},
    };
    const auto registrar = ZDMPCommandRegistrar::sharedInstance();
    for (const auto& family : families) {
        const ZDMPCommandEvaluator& evaluator = registrar->evaluatorFor(family.codes[0]);
        auto supported = evaluator.allSupportedCommands();
        auto expected = family.codes;
        std::sort(supported.begin(), supported.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(supported, expected) << family.family;
        for (const auto& code : family.codes) {
            EXPECT_EQ(&registrar->evaluatorFor(code), &evaluator) << family.family << " " << ZDMPUtf8(code);
        }
    }
    EXPECT_TRUE(dynamic_cast<ZDMPFunctionEvaluator*>(&registrar->evaluatorFor(u"11")));
}

TEST(ZDMPRuntime, ACounterDeclaredByTheProgramDoesNotResetTheBudget) {
    Interpreter interpreter;
    ZDMPValueList statements{Declare(u"runtime.counter")};
    for (int i = 0; i < 1000000; ++i) statements.push_back(Assign(u"runtime.counter", N(0)));
    const Outcome outcome = interpreter.evaluate(C(u"5", {List(std::move(statements))}));
    EXPECT_EQ(outcome.code, 18);
    EXPECT_EQ(interpreter.runtime.getInstructionCount(nullptr), ZDMPRunBudget::kMaximumEvaluations);
}

}  // namespace
