#include <gtest/gtest.h>

#include <cmath>

#include "measurement/interpreter/tests/InterpreterTestSupport.h"

using namespace interpreter_test;

namespace {

std::shared_ptr<ZDMPMapValue> mapOf(std::initializer_list<std::pair<std::u16string, ZDMPValueRef>> entries) {
    auto map = ZDMPMapValue::make();
    for (const auto& [name, value] : entries) map->setValue(value, name);
    return map;
}

TEST(ZDMPValues, ConvertByKind) {
    const ZDMPValueRef statement = C(u"0");
    const auto function = std::make_shared<ZDMPFunctionValue>(
        u"f", std::vector<std::u16string>{}, ZDMPValueList{}, ZDMPScope::initWithParentScope(nullptr));
    const struct {
        const char* name;
        ZDMPValueRef value;
        std::u16string text;
        double number;  // NaN stands for NaN
        bool truth;
        int64_t failure;  // the code every conversion fails with, 0 for none
        std::u16string typeOf;
    } cases[] = {
        {"undefined", U(), u"undefined", NAN, false, 0, u"undefined"},
        {"null", Null(), u"null", 0, false, 0, u"object"},
        {"true", B(true), u"true", 1, true, 0, u"boolean"},
        {"false", B(false), u"false", 0, false, 0, u"boolean"},
        {"zero", N(-0.0), u"0", -0.0, false, 0, u"number"},
        {"NaN", N(NAN), u"NaN", NAN, false, 0, u"number"},
        {"empty text", S(u""), u"", 0, false, 0, u"string"},
        {"text", S(u"x"), u"x", NAN, true, 0, u"string"},
        {"map", ZDMPMapValue::make(), u"[object Object]", NAN, true, 0, u"object"},
        {"function", function, u"f", NAN, true, 0, u"function"},
        {"statement", statement, u"", NAN, false, -1, u"object"},
        {"break", ZDMPControlValue::breakValue(), u"", NAN, false, -1, u"object"},
    };
    for (const auto& c : cases) {
        Error textError, numberError, truthError;
        EXPECT_EQ(c.value->stringValueOrError(&textError), c.text) << c.name;
        const double number = c.value->doubleValueOrError(&numberError);
        EXPECT_TRUE(std::isnan(c.number) ? std::isnan(number) : number == c.number) << c.name;
        EXPECT_EQ(c.value->booleanValueOrError(&truthError), c.truth) << c.name;
        EXPECT_EQ(ZDMPTypeOfName(*c.value), c.typeOf) << c.name;
        if (c.failure) {
            EXPECT_EQ(textError.code, 5) << c.name;
            EXPECT_EQ(numberError.code, 4) << c.name;
            EXPECT_EQ(truthError.code, 3) << c.name;
        } else {
            EXPECT_FALSE(ZDMPFailed(textError) || ZDMPFailed(numberError) || ZDMPFailed(truthError))
                << c.name;
        }
    }
}

TEST(ZDMPValues, NaNIsEqualToNaNButNotStrictly) {
    EXPECT_TRUE(N(NAN)->isEqualToRuntimeValue(*N(NAN)));
    EXPECT_FALSE(ZDMPStrictlyEqual(*N(NAN), *N(NAN), nullptr));
    EXPECT_TRUE(N(-0.0)->isEqualToRuntimeValue(*N(0)));
    EXPECT_TRUE(ZDMPStrictlyEqual(*N(-0.0), *N(0), nullptr));
    EXPECT_FALSE(ZDMPStrictlyEqual(*N(1), *B(true), nullptr));
    EXPECT_TRUE(ZDMPStrictlyEqual(*S(u"a"), *S(u"a"), nullptr));
}

TEST(ZDMPValues, MapsAreEqualByNamesAndValuesInAnyOrder) {
    const auto ab = mapOf({{u"a", N(1)}, {u"b", S(u"x")}});
    const auto ba = mapOf({{u"b", S(u"x")}, {u"a", N(1)}});
    const auto abc = mapOf({{u"a", N(1)}, {u"b", S(u"x")}, {u"c", N(2)}});
    const auto other = mapOf({{u"a", N(1)}, {u"b", S(u"y")}});
    EXPECT_TRUE(ab->isEqualToRuntimeValue(*ba));
    EXPECT_FALSE(ab->isEqualToRuntimeValue(*abc));
    EXPECT_FALSE(abc->isEqualToRuntimeValue(*ab));
    EXPECT_FALSE(ab->isEqualToRuntimeValue(*other));
    EXPECT_FALSE(ZDMPStrictlyEqual(*ab, *ba, nullptr));
}

TEST(ZDMPValues, ACyclicMapIsUnequalInsteadOfOverflowing) {
    const auto first = ZDMPMapValue::make();
    const auto second = ZDMPMapValue::make();
    first->setValue(first, u"self");
    second->setValue(second, u"self");
    EXPECT_FALSE(first->isEqualToRuntimeValue(*second));
    EXPECT_TRUE(first->isEqualToRuntimeValue(*first));
    first->propertyMap().removeAll();
    second->propertyMap().removeAll();
}

TEST(ZDMPValues, MethodsFollowTheBaseRules) {
    Interpreter interpreter;
    const struct {
        const char* name;
        ZDMPValueRef value;
        std::u16string method;
        int64_t code;
        std::u16string result;
    } cases[] = {
        {"undefined", U(), u"toString", 7, u"undefined"},
        {"null", Null(), u"toString", 7, u"undefined"},
        {"true", B(true), u"toString", 0, u"true"},
        {"number", N(1.5), u"toString", 0, u"1.5"},
        {"number, unknown", N(1), u"toFixed", 17, u"undefined"},
        {"map", ZDMPMapValue::make(), u"toString", 0, u"[object Object]"},
        {"map, unknown", ZDMPMapValue::make(), u"keys", 17, u"undefined"},
        {"map, property not a function", mapOf({{u"f", N(1)}}), u"f", 17, u"undefined"},
        {"map, hasOwnProperty", mapOf({{u"f", N(1)}}), u"hasOwnProperty", 0, u"true"},
    };
    for (const auto& c : cases) {
        Error error;
        const ZDMPValueRef result = c.value->applyWithName(c.method, {S(u"f")}, interpreter.scope, &error);
        EXPECT_EQ(error.code, c.code) << c.name;
        EXPECT_EQ(text(result), c.result) << c.name;
    }
    Error error;
    mapOf({})->applyWithName(u"hasOwnProperty", {}, interpreter.scope, &error);
    EXPECT_EQ(error.code, 9);
}

TEST(ZDMPValues, AMapCallsItsFunctionProperty) {
    Interpreter interpreter;
    const auto twice = std::make_shared<NativeFunction>(
        u"twice", [](const ZDMPValueList& arguments) { return N(2 * number(arguments.at(0))); });
    const auto map = mapOf({{u"twice", twice}});
    EXPECT_EQ(number(map->applyWithName(u"twice", {C(u"0", {N(1), N(2)})}, interpreter.scope, nullptr)), 6);
}

TEST(ZDMPScope, AssignsWhereTheNameLivesAndCreatesItHereOtherwise) {
    const auto grandparent = ZDMPScope::initWithParentScope(nullptr);
    grandparent->addValue(N(1), u"x");
    const auto parent = grandparent->createChildScope();
    const auto child = parent->createChildScope();
    child->setValue(N(2), u"x");
    EXPECT_EQ(number(grandparent->valueForName(u"x")), 2);
    EXPECT_FALSE(parent->hasName(u"y"));

    child->setValue(N(3), u"y");
    EXPECT_TRUE(child->hasName(u"y"));
    EXPECT_FALSE(parent->hasName(u"y"));
    EXPECT_EQ(grandparent->valueForName(u"y"), ZDMPUndefined());

    child->addValue(N(4), u"x");
    EXPECT_EQ(number(child->valueForName(u"x")), 4);
    EXPECT_EQ(number(grandparent->valueForName(u"x")), 2);
}

TEST(ZDMPScope, ConstantsAndImmutableScopesRefuseSilently) {
    const auto scope = ZDMPScope::initWithParentScope(nullptr);
    scope->addImmutableValue(N(1), u"c");
    scope->setValue(N(2), u"c");
    scope->addValue(N(3), u"c");
    scope->addImmutableValue(N(4), u"c");
    EXPECT_EQ(number(scope->valueForName(u"c")), 1);

    ZDMPPropertyMap map;
    map.setImmutableValue(N(1), u"c");
    map.removeValueForName(u"c");
    EXPECT_TRUE(map.hasName(u"c"));

    const auto child = scope->createChildScope();
    child->addValue(N(1), u"v");
    child->makeImmutable();
    child->setValue(N(2), u"v");
    child->addValue(N(3), u"w");
    child->setValue(N(3), u"c");
    EXPECT_EQ(number(child->valueForName(u"v")), 1);
    EXPECT_FALSE(child->hasName(u"w"));
    EXPECT_EQ(number(scope->valueForName(u"c")), 1);
    EXPECT_EQ(child->valueForName(u"missing"), ZDMPUndefined());
}

}  // namespace
