#include <gtest/gtest.h>

#include "measurement/interpreter/tests/InterpreterTestSupport.h"

using namespace interpreter_test;

namespace {

TEST(ZDMPControlCommands, WrongCountsAndKindsFail) {
    Interpreter interpreter;
    const struct {
        const char* name;
        ZDMPValueRef statement;
        int64_t code;
    } cases[] = {
        {"break with an argument", C(u"4", {N(1)}), 9},
        {"continue with an argument", C(u"6", {N(1)}), 9},
        {"return with two", C(u"36", {N(1), N(2)}), 9},
        {"if with none", C(u"22"), 9},
        {"if with four", C(u"22", {B(true), N(1), N(2), N(3)}), 9},
        {"sequence of nothing", C(u"13"), 9},
        {"sequence meeting break", C(u"13", {N(1), C(u"4"), N(2)}), 10},
        {"list of a number", C(u"5", {N(1)}), 10},
        {"method call, name not text", C(u"2", {S(u"x"), N(1), C(u"7")}), 10},
        {"method call, arguments not an array", C(u"2", {S(u"x"), S(u"toString"), N(1)}), 10},
        {"method call on null", C(u"2", {Null(), S(u"toString"), C(u"7")}), 7},
        {"switch without lists", C(u"38", {N(1), N(2), C(u"7")}), 9},
        {"function with one argument", C(u"51", {S(u"f")}), 9},
        {"function, parameters not an array", C(u"51", {S(u"f"), N(1)}), 10},
        {"conditional with two", C(u"39", {B(true), N(1)}), 9},
    };
    for (const auto& c : cases) {
        const Outcome outcome = interpreter.evaluate(c.statement);
        EXPECT_EQ(outcome.code, c.code) << c.name;
        EXPECT_EQ(outcome.value, ZDMPUndefined()) << c.name;
    }
}

TEST(ZDMPControlCommands, ProduceControlValuesAndResults) {
    Interpreter interpreter;
    EXPECT_EQ(interpreter.value(C(u"4")), ZDMPControlValue::breakValue());
    EXPECT_EQ(interpreter.value(C(u"6")), ZDMPControlValue::continueValue());
    const ZDMPValueRef returnValue = interpreter.value(C(u"36", {C(u"0", {N(1), N(2)})}));
    const auto* returned = ZDMPAs<ZDMPControlValue>(returnValue);
    ASSERT_TRUE(returned);
    EXPECT_EQ(returned->type(), u"return");
    EXPECT_EQ(number(returned->data()), 3);
    const ZDMPValueRef empty = interpreter.value(C(u"36"));
    EXPECT_EQ(ZDMPAs<ZDMPControlValue>(empty)->data(), ZDMPUndefined());
    EXPECT_EQ(number(interpreter.value(C(u"13", {N(1), N(2)}))), 2);
    EXPECT_EQ(text(interpreter.value(C(u"2", {N(12), S(u"toString"), C(u"7")}))), u"12");
    EXPECT_EQ(number(interpreter.value(C(u"22", {B(false), N(1), N(2)}))), 2);
    EXPECT_EQ(interpreter.value(C(u"22", {B(false), N(1)})), ZDMPUndefined());
    EXPECT_EQ(interpreter.value(C(u"5", {List({N(1), C(u"6"), C(u"4")})})),
              ZDMPControlValue::continueValue());
    EXPECT_EQ(number(interpreter.value(C(u"9", {List({N(1), N(3)})}))), 3);
}

TEST(ZDMPControlCommands, ABranchListRunsInTheCurrentScope) {
    Interpreter interpreter;
    interpreter.value(C(u"22", {B(true), List({Declare(u"inside"), Assign(u"inside", N(7))})}));
    EXPECT_EQ(number(interpreter.scope->valueForName(u"inside")), 7);

    const ZDMPValueRef unrun = interpreter.value(C(u"39", {B(true), List({Declare(u"never")}), N(0)}));
    EXPECT_EQ(unrun->kind(), ZDMPValueKind::array);
    EXPECT_FALSE(interpreter.scope->hasName(u"never"));
}

TEST(ZDMPControlCommands, ABlockKeepsItsDeclarationsButOuterAssignmentsPersist) {
    Interpreter interpreter;
    interpreter.value(Declare(u"outer"));
    interpreter.value(C(u"53", {Declare(u"inner"), Assign(u"outer", N(5)), Assign(u"inner", N(6))}));
    EXPECT_FALSE(interpreter.scope->hasName(u"inner"));
    EXPECT_EQ(number(interpreter.scope->valueForName(u"outer")), 5);
}

TEST(ZDMPControlCommands, AFunctionDeclarationReplacesAnOuterBinding) {
    Interpreter interpreter;
    interpreter.runtime.globalScope()->addValue(N(1), u"f");
    const auto inner = interpreter.scope->createChildScope();
    Error error;
    ZDMPEvaluator::evaluateStatement(C(u"50", {S(u"f"), C(u"7", {S(u"a")}), C(u"36", {Var(u"a")})}), inner,
                                     &error);
    EXPECT_FALSE(ZDMPFailed(error));
    const auto* function = ZDMPAs<ZDMPFunctionValue>(interpreter.runtime.globalScope()->valueForName(u"f"));
    ASSERT_TRUE(function);
    EXPECT_EQ(function->parameterNames(), std::vector<std::u16string>{u"a"});
    EXPECT_EQ(function->definingScope(), inner);
    EXPECT_EQ(number(interpreter.value(C(u"f", {N(9)}))), 9);

    const ZDMPValueRef anonymous = interpreter.value(C(u"51", {S(u""), C(u"7")}));
    EXPECT_EQ(text(anonymous), u"");
    EXPECT_FALSE(interpreter.scope->hasName(u""));
}

TEST(ZDMPControlCommands, SwitchComparesStrictlyAndFallsThrough) {
    const ZDMPValueRef cases = C(u"7", {N(1), N(2)});
    const auto switchOn = [&](ZDMPValueRef discriminant, ZDMPValueRef matchedBody) {
        return C(u"38", {std::move(discriminant), cases,
                         List({Assign(u"log", C(u"0", {Var(u"log"), S(u"1")})), std::move(matchedBody),
                               Assign(u"log", C(u"0", {Var(u"log"), S(u"d")}))})});
    };
    const ZDMPValueRef recordTwo = Assign(u"log", C(u"0", {Var(u"log"), S(u"2")}));
    const struct {
        const char* name;
        ZDMPValueRef discriminant;
        ZDMPValueRef body2;
        std::u16string log;
        ZDMPValueKind result;
    } rows[] = {
        {"2 without break", N(2), recordTwo, u"2d", ZDMPValueKind::undefined},
        {"text 2", S(u"2"), recordTwo, u"d", ZDMPValueKind::undefined},
        {"1 falls through", N(1), recordTwo, u"12d", ZDMPValueKind::undefined},
        {"break", N(2), C(u"4"), u"", ZDMPValueKind::undefined},
        {"continue", N(2), C(u"6"), u"", ZDMPValueKind::control},
    };
    for (const auto& row : rows) {
        Interpreter interpreter;
        interpreter.scope->addValue(S(u""), u"log");
        const ZDMPValueRef result = interpreter.value(switchOn(row.discriminant, row.body2));
        EXPECT_EQ(text(interpreter.scope->valueForName(u"log")), row.log) << row.name;
        EXPECT_EQ(result->kind(), row.result) << row.name;
        if (row.result == ZDMPValueKind::control) {
            EXPECT_EQ(result, ZDMPControlValue::continueValue());
        }
    }

    Interpreter interpreter;
    const ZDMPValueRef returned =
        interpreter.value(C(u"38", {N(1), C(u"7", {N(1)}), List({C(u"36", {N(5)}), Declare(u"skipped")})}));
    EXPECT_EQ(number(ZDMPAs<ZDMPControlValue>(returned)->data()), 5);
    EXPECT_FALSE(interpreter.scope->hasName(u"skipped"));
    EXPECT_EQ(interpreter.evaluate(C(u"38", {N(1), C(u"7", {N(1)}), List({C(u"3", {N(1), N(2)})})})).code,
              10);
}

}  // namespace
