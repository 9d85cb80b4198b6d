#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "measurement/interpreter/ZDMPCommandRegistrar.h"
#include "measurement/interpreter/ZDMPRuntimeEntityConverter.h"
#include "measurement/interpreter/tests/InterpreterTestSupport.h"
#include "measurement/interpreter/tests/ProgramText.h"

using namespace interpreter_test;

namespace {

Outcome convert(const Data& bytes) {
    Error error;
    ZDMPValueRef value =
        ZDMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(entity(bytes).get(), &error);
    return {std::move(value), error.code, error.domain};
}

TEST(ZDMPRuntimeEntityConverter, ConvertsEntitiesByKind) {
    EXPECT_EQ(text(convert(textEntity("héllo")).value), u"h\u00e9llo");
    EXPECT_EQ(text(convert(kindOnly(1)).value), u"");
    EXPECT_EQ(number(convert(numberEntity(2.5)).value), 2.5);
    EXPECT_TRUE(std::isnan(number(convert(kindOnly(2)).value)));
    EXPECT_EQ(convert(booleanEntity(true)).value, ZDMPBoolean(true));
    EXPECT_EQ(convert(kindOnly(3)).value, ZDMPBoolean(false));

    const Outcome statement = convert(statementEntity("0", {numberEntity(1), textEntity("x")}));
    ASSERT_EQ(statement.code, 0);
    const auto* converted = ZDMPAs<ZDMPStatementValue>(statement.value);
    ASSERT_TRUE(converted);
    EXPECT_EQ(converted->functionName(), u"0");
    ASSERT_EQ(converted->arguments().size(), 2u);
    EXPECT_EQ(text(converted->arguments()[1]), u"x");
    EXPECT_TRUE(ZDMPAs<ZDMPStatementValue>(convert(statementEntity("44", {})).value)->arguments().empty());

    const struct {
        const char* name;
        Data bytes;
        int64_t code;
    } failures[] = {
        {"kind 0", kindOnly(0), 12},
        {"no kind", Data{}, 12},
        {"kind 5", kindOnly(5), 12},
        {"statement without command", statementEntity(std::nullopt, {numberEntity(1)}), 14},
        {"unknown kind inside", statementEntity("0", {numberEntity(1), kindOnly(9)}), 12},
    };
    for (const auto& c : failures) {
        const Outcome outcome = convert(c.bytes);
        EXPECT_EQ(outcome.code, c.code) << c.name;
        EXPECT_EQ(outcome.value, ZDMPUndefined()) << c.name;
    }
}

TEST(ZDMPRuntime, RunsAProgramInTheGlobalScope) {
    ZDMPRuntime runtime;
    Error error;
    EXPECT_EQ(runtime.executeStatements({}, &error), ZDMPUndefined());
    EXPECT_FALSE(ZDMPFailed(error));

    const ZDMPValueRef result = runtime.executeStatements(
        {entity(statementEntity("41", {textEntity("x")})),
         entity(statementEntity(
             "3", {textEntity("x"), statementEntity("0", {numberEntity(40), numberEntity(2)})})),
         entity(statementEntity("15", {textEntity("x")}))},
        &error);
    EXPECT_FALSE(ZDMPFailed(error));
    EXPECT_EQ(number(result), 42);
    EXPECT_EQ(number(runtime.globalScope()->valueForName(u"x")), 42);

    const auto run = runtime.getRunScope();
    run->addValue(N(1), u"local");
    EXPECT_FALSE(runtime.getRunScope()->hasName(u"local"));
    EXPECT_TRUE(run->hasName(u"x"));
}

TEST(ZDMPRuntime, AFailureEndsTheRun) {
    ZDMPRuntime runtime;
    Error error;
    const ZDMPValueRef result =
        runtime.executeStatements({entity(statementEntity("3", {textEntity("undeclared"), numberEntity(1)})),
                                   entity(statementEntity("41", {textEntity("after")}))},
                                  &error);
    EXPECT_EQ(error.code, 2);
    EXPECT_EQ(result, ZDMPUndefined());
    EXPECT_FALSE(runtime.globalScope()->hasName(u"after"));

    error = Error();
    runtime.executeStatements({entity(kindOnly(0))}, &error);
    EXPECT_EQ(error.code, 12);
}

TEST(ZDMPRuntime, TheMillionthEvaluationSucceedsAndTheNextFailsBeforeAnyWork) {
    Interpreter interpreter;
    const ZDMPValueRef one = N(1);
    for (int i = 1; i < ZDMPRunBudget::kMaximumEvaluations; ++i) {
        ASSERT_EQ(ZDMPEvaluator::evaluateStatement(one, interpreter.scope, nullptr), one);
    }
    EXPECT_EQ(interpreter.runtime.getInstructionCount(nullptr), 999999);
    EXPECT_EQ(interpreter.evaluate(Declare(u"last")).code, 18);
    EXPECT_FALSE(interpreter.scope->hasName(u"last"));

    interpreter.runtime.resetInstructionCount();
    EXPECT_EQ(interpreter.runtime.getInstructionCount(nullptr), 0);
    EXPECT_EQ(interpreter.evaluate(Declare(u"after")).code, 0);
    EXPECT_EQ(interpreter.runtime.getInstructionCount(nullptr), 2);
}

TEST(ZDMPRuntime, NoScopeHoldsTheStatementCount) {
    Interpreter interpreter;
    interpreter.value(C(u"13", {N(1), N(2), N(3)}));
    const int32_t count = interpreter.runtime.getInstructionCount(nullptr);
    EXPECT_EQ(count, 4);
    EXPECT_FALSE(interpreter.scope->hasName(u"runtime.counter"));
    EXPECT_EQ(interpreter.evaluate(Assign(u"runtime.counter", N(0))).code, 2);
    interpreter.scope->setValue(N(0), u"runtime.counter");
    interpreter.runtime.globalScope()->addValue(N(0), u"runtime.counter");
    EXPECT_EQ(interpreter.runtime.getInstructionCount(nullptr), count + 3);
}

TEST(ZDMPRuntime, DeepNestingFailsInsteadOfOverflowingTheStack) {
    Interpreter interpreter;
    ZDMPValueRef statement = N(1);
    for (int i = 0; i < 10000; ++i) statement = C(u"34", {statement});
    const Outcome outcome = interpreter.evaluate(statement);
    EXPECT_EQ(outcome.code, 18);
    EXPECT_EQ(outcome.value, ZDMPUndefined());

    ZDMPValueRef shallow = N(1);
    for (int i = 0; i < 400; ++i) shallow = C(u"34", {shallow});
    EXPECT_EQ(number(interpreter.value(shallow)), 1);

    // Destroying the 10,000-deep statement must not recurse as deep either.
    while (auto* outer = ZDMPAs<ZDMPStatementValue>(statement)) {
        ZDMPValueRef inner = outer->arguments()[0];
        statement = std::move(inner);
    }
}

TEST(ZDMPRuntime, EndlessRecursionFailsInsteadOfOverflowingTheStack) {
    Interpreter interpreter;
    // function f() { return [f()]; } f();
    interpreter.value(C(u"50", {S(u"f"), C(u"7"), C(u"36", {C(u"7", {C(u"f")})})}));
    const Outcome outcome = interpreter.evaluate(C(u"f"));
    EXPECT_EQ(outcome.code, 18);
    EXPECT_EQ(outcome.value, ZDMPUndefined());
}

TEST(ZDMPCommandRegistrar, UnknownCodesCallTheFunctionOfThatName) {
    Interpreter interpreter;
    EXPECT_EQ(interpreter.evaluate(C(u"99", {N(1)})).value, ZDMPUndefined());
    const auto echo = std::make_shared<NativeFunction>(u"99", [](const ZDMPValueList& a) { return a.at(0); });
    interpreter.scope->addValue(echo, u"99");
    interpreter.scope->addValue(N(5), u"five");
    EXPECT_EQ(number(interpreter.value(C(u"99", {C(u"0", {N(1), N(2)})}))), 3);
    const Outcome notAFunction = interpreter.evaluate(C(u"five"));
    EXPECT_EQ(notAFunction.code, 0);
    EXPECT_EQ(notAFunction.value, ZDMPUndefined());
}

TEST(ZDMPCommandRegistrar, ALaterRegistrationWins) {
    class Claims final : public ZDMPCommandEvaluator {
      public:
        std::vector<std::u16string> allSupportedCommands() const override { return {u"0", u"200"}; }
    };
    ZDMPCommandRegistrar registrar;
    const ZDMPCommandEvaluator* before = &registrar.evaluatorFor(u"0");
    const auto claims = std::make_shared<Claims>();
    registrar.registerEvaluator(claims);
    EXPECT_NE(&registrar.evaluatorFor(u"0"), before);
    EXPECT_EQ(&registrar.evaluatorFor(u"0"), claims.get());
    EXPECT_EQ(&registrar.evaluatorFor(u"200"), claims.get());
    EXPECT_EQ(&registrar.evaluatorFor(u"37"), &registrar.evaluatorFor(u"26"));
}

TEST(ZDMPRuntimeEntityConverter, HostObjectsBecomeValues) {
    Dictionary dictionary;
    dictionary.set("5", Value(int64_t{1}));
    dictionary.set("flag", Value(true));
    dictionary.set("list", Value(Value::Array{Value("a"), Value(), Value(2.5)}));
    Error error;
    const ZDMPValueRef converted =
        ZDMPRuntimeEntityConverter::runtimeValueFromNSObject(Value(dictionary), &error);
    EXPECT_FALSE(ZDMPFailed(error));
    auto* map = ZDMPAs<ZDMPMapValue>(converted);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->valueForProperty(u"flag"), ZDMPBoolean(true));
    EXPECT_EQ(map->valueForProperty(u"5")->kind(), ZDMPValueKind::number);
    EXPECT_EQ(number(map->valueForProperty(u"5")), 1);
    EXPECT_EQ(text(map->valueForProperty(u"list")), u"a,,2.5");

    ZDMPRuntimeEntityConverter::runtimeValueFromNSObject(Value(Value::Array{Value(Data{1})}), &error);
    EXPECT_EQ(error.code, 13);
    EXPECT_EQ(ZDMPRuntimeEntityConverter::runtimeValueFromNSObject(Value(), nullptr), ZDMPNull());
}

TEST(ZDMPRuntimeEntityConverter, ValuesBecomeHostObjects) {
    const struct {
        const char* name;
        ZDMPValueRef value;
        Value expected;
    } cases[] = {
        {"numeric text", S(u"42"), Value(42.0)},
        {"text", S(u"abc"), Value("abc")},
        {"empty text", S(u""), Value(0.0)},
        {"true", B(true), Value(1.0)},
        {"NaN", N(NAN), Value("NaN")},
        {"undefined", U(), Value("")},
        {"null", Null(), Value()},
        {"array", A({N(1), Null(), S(u"x")}), Value(Value::Array{Value(1.0), Value(), Value("x")})},
    };
    for (const auto& c : cases) {
        Error error;
        EXPECT_EQ(ZDMPRuntimeEntityConverter::objectFromRuntimeValue(c.value, &error), c.expected) << c.name;
        EXPECT_FALSE(ZDMPFailed(error)) << c.name;
    }
    auto map = ZDMPMapValue::make();
    map->setValue(Null(), u"gone");
    map->setValue(S(u"7"), u"kept");
    EXPECT_EQ(ZDMPRuntimeEntityConverter::objectFromRuntimeValue(map, nullptr),
              Value(Dictionary{{"kept", Value(7.0)}}));

    Error error;
    ZDMPRuntimeEntityConverter::objectFromRuntimeValue(C(u"0"), &error);
    EXPECT_EQ(error.code, 5);

    const auto cyclic = ZDMPMapValue::make();
    cyclic->setValue(cyclic, u"self");
    error = Error();
    ZDMPRuntimeEntityConverter::objectFromRuntimeValue(cyclic, &error);
    EXPECT_EQ(error.code, 18);
    cyclic->propertyMap().removeAll();
}

}  // namespace
