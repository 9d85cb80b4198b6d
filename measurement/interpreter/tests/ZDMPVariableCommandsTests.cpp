#include <gtest/gtest.h>

#include "measurement/interpreter/tests/InterpreterTestSupport.h"

using namespace interpreter_test;

namespace {

TEST(ZDMPVariableCommands, AssignmentNeedsADeclaredNameAndKeepsConstants) {
    Interpreter interpreter;
    EXPECT_EQ(interpreter.evaluate(Assign(u"nowhere", N(1))).code, 2);
    EXPECT_FALSE(interpreter.scope->hasName(u"nowhere"));
    EXPECT_EQ(interpreter.evaluate(C(u"3", {N(1), N(2)})).code, 10);
    EXPECT_EQ(interpreter.evaluate(C(u"3", {S(u"x")})).code, 9);

    interpreter.value(C(u"52", {S(u"k"), N(1)}));
    EXPECT_EQ(number(interpreter.value(Assign(u"k", N(2)))), 2);
    EXPECT_EQ(number(interpreter.value(Var(u"k"))), 1);
}

TEST(ZDMPVariableCommands, DeclarationsStopAtTheFirstBadName) {
    Interpreter interpreter;
    EXPECT_EQ(interpreter.evaluate(C(u"52", {S(u"a"), N(1), S(u"b")})).code, 9);
    EXPECT_FALSE(interpreter.scope->hasName(u"a"));
    EXPECT_EQ(interpreter.evaluate(C(u"52", {S(u"a"), N(1), N(7), N(2)})).code, 10);
    EXPECT_EQ(number(interpreter.value(Var(u"a"))), 1);

    EXPECT_EQ(interpreter.evaluate(C(u"41", {S(u"p"), N(3), S(u"q")})).code, 10);
    EXPECT_TRUE(interpreter.scope->hasName(u"p"));
    EXPECT_FALSE(interpreter.scope->hasName(u"q"));

    interpreter.value(Assign(u"p", N(4)));
    interpreter.value(Declare(u"p"));
    EXPECT_EQ(interpreter.value(Var(u"p")), ZDMPUndefined());
}

TEST(ZDMPVariableCommands, ArgumentsBeforeAFailureKeepTheirEffects) {
    Interpreter interpreter;
    interpreter.value(Declare(u"x"));
    EXPECT_EQ(
        interpreter.evaluate(C(u"7", {Assign(u"x", N(1)), Assign(u"undeclared", N(2)), Assign(u"x", N(3))}))
            .code,
        2);
    EXPECT_EQ(number(interpreter.value(Var(u"x"))), 1);
}

TEST(ZDMPVariableCommands, PropertyReadsByKindOfObject) {
    Interpreter interpreter;
    const auto map = ZDMPMapValue::make();
    map->setValue(N(5), u"1");
    const struct {
        const char* name;
        ZDMPValueRef object;
        ZDMPValueRef key;
        std::u16string result;
    } rows[] = {
        {"abc[1]", S(u"abc"), N(1), u"b"},
        {"abc['1']", S(u"abc"), S(u"1"), u"b"},
        {"abc[1.5]", S(u"abc"), N(1.5), u"undefined"},
        {"abc[3]", S(u"abc"), N(3), u"undefined"},
        {"abc.length", S(u"abc"), S(u"length"), u"3"},
        {"number", N(5), S(u"length"), u"undefined"},
        {"null", Null(), N(0), u"undefined"},
        {"map by number key", map, N(1), u"5"},
        {"map, absent", map, S(u"x"), u"undefined"},
        {"array", A({N(8), N(9)}), S(u"1"), u"9"},
        {"array length", A({N(8), N(9)}), S(u"length"), u"2"},
    };
    for (const auto& row : rows) {
        for (const char16_t* code : {u"16", u"17"}) {
            const Outcome outcome = interpreter.evaluate(C(code, {row.object, row.key}));
            EXPECT_EQ(outcome.code, 0) << row.name;
            EXPECT_EQ(text(outcome.value), row.result) << row.name;
        }
    }
}

TEST(ZDMPVariableCommands, PropertyWritesByKindOfObject) {
    Interpreter interpreter;
    EXPECT_EQ(interpreter.evaluate(C(u"43", {Null(), S(u"x"), N(1)})).code, 6);
    EXPECT_EQ(interpreter.evaluate(C(u"43", {U(), S(u"x"), N(1)})).code, 6);
    EXPECT_EQ(number(interpreter.value(C(u"43", {N(5), S(u"x"), N(1)}))), 1);

    const auto map = ZDMPMapValue::make();
    EXPECT_EQ(number(interpreter.value(C(u"43", {map, N(2), N(7)}))), 7);
    EXPECT_EQ(number(map->valueForProperty(u"2")), 7);

    const auto array = A();
    interpreter.value(C(u"43", {array, S(u"2"), N(1)}));
    EXPECT_EQ(array->count(), 3u);
    EXPECT_EQ(interpreter.evaluate(C(u"43", {array, S(u"length"), N(-1)})).code, 11);
}

TEST(ZDMPVariableCommands, LiteralsAndTypeOf) {
    Interpreter interpreter;
    EXPECT_EQ(text(interpreter.value(C(u"40", {Null()}))), u"object");
    EXPECT_EQ(text(interpreter.value(C(u"40", {Var(u"undeclared")}))), u"undefined");
    EXPECT_EQ(text(interpreter.value(C(u"40", {C(u"51", {S(u"f"), C(u"7")})}))), u"function");
    EXPECT_EQ(interpreter.value(C(u"44", {N(1)})), ZDMPUndefined());
    EXPECT_EQ(interpreter.value(C(u"45")), ZDMPNull());
    EXPECT_EQ(interpreter.evaluate(C(u"15", {N(1)})).code, 10);

    const ZDMPValueRef object = interpreter.value(C(u"8", {S(u"a"), N(1), N(2), S(u"two"), S(u"a"), N(3)}));
    auto* map = ZDMPAs<ZDMPMapValue>(object);
    ASSERT_TRUE(map);
    EXPECT_EQ(number(map->valueForProperty(u"a")), 3);
    EXPECT_EQ(text(map->valueForProperty(u"2")), u"two");
    EXPECT_EQ(interpreter.evaluate(C(u"8", {S(u"a")})).code, 9);
    EXPECT_EQ(text(interpreter.value(C(u"7", {N(1), S(u"x")}))), u"1,x");
}

}  // namespace
