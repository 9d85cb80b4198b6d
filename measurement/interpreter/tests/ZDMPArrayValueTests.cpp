#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "measurement/interpreter/tests/InterpreterTestSupport.h"

using namespace interpreter_test;

namespace {

std::vector<std::u16string> texts(const ZDMPArrayValue& array) {
    std::vector<std::u16string> result;
    for (const auto& slot : array.slots())
        result.push_back(ZDMPArrayValue::isHole(slot) ? u"<hole>" : text(slot));
    return result;
}

int64_t setCode(ZDMPArrayValue& array, const ZDMPValueRef& value, const ZDMPValueRef& key) {
    Error error;
    array.setValueForProperty(value, *key, &error);
    return error.code;
}

TEST(ZDMPArrayValue, AnIndexBeyondTheEndLeavesHoles) {
    const auto array = A();
    EXPECT_EQ(setCode(*array, S(u"x"), N(5)), 0);
    EXPECT_EQ(array->count(), 6u);
    EXPECT_EQ(array->valueForProperty(*N(2), nullptr), ZDMPUndefined());
    EXPECT_FALSE(array->hasProperty(*N(2), nullptr));
    EXPECT_TRUE(array->hasProperty(*N(5), nullptr));
    EXPECT_EQ(array->allPropertyNames(), std::vector<std::u16string>{u"5"});
    EXPECT_EQ(number(array->valueForProperty(*S(u"length"), nullptr)), 6);
}

TEST(ZDMPArrayValue, LengthWritesTruncateGrowOrFail) {
    const auto array = A({N(1), N(2), N(3), N(4)});
    EXPECT_EQ(setCode(*array, N(2), S(u"length")), 0);
    EXPECT_EQ(texts(*array), (std::vector<std::u16string>{u"1", u"2"}));
    EXPECT_EQ(setCode(*array, S(u"3"), S(u"length")), 0);
    EXPECT_EQ(texts(*array), (std::vector<std::u16string>{u"1", u"2", u"<hole>"}));
    for (const auto& bad : {N(-1), N(1.5), S(u"abc"), N(NAN), N(INFINITY), B(true)}) {
        EXPECT_EQ(setCode(*array, bad, S(u"length")), 11) << ZDMPUtf8(text(bad));
    }
    EXPECT_EQ(array->count(), 3u);
}

TEST(ZDMPArrayValue, IndexLikeKeysReachTheSameSlot) {
    const auto array = A({N(10), N(11)});
    for (const auto& key : {S(u"1"), N(1), S(u"01"), S(u" 1 ")}) {
        EXPECT_EQ(number(array->valueForProperty(*key, nullptr)), 11) << ZDMPUtf8(text(key));
    }
    EXPECT_EQ(number(array->valueForProperty(*N(-0.0), nullptr)), 10);
    EXPECT_EQ(setCode(*array, N(7), S(u"x")), 0);
    EXPECT_EQ(number(array->valueForProperty(*S(u"x"), nullptr)), 7);
    EXPECT_EQ(setCode(*array, N(8), N(1.5)), 0);
    EXPECT_EQ(number(array->valueForProperty(*S(u"1.5"), nullptr)), 8);
    EXPECT_EQ(array->count(), 2u);
    EXPECT_EQ(array->allPropertyNames(), (std::vector<std::u16string>{u"1.5", u"x", u"0", u"1"}));

    Error error;
    array->valueForProperty(*C(u"0"), &error);
    EXPECT_EQ(error.code, 5);
}

TEST(ZDMPArrayValue, DeletingAnIndexLeavesAHole) {
    const auto array = A({N(1), N(2)});
    array->removeValueForProperty(*N(0), nullptr);
    array->removeValueForProperty(*N(9), nullptr);
    EXPECT_EQ(texts(*array), (std::vector<std::u16string>{u"<hole>", u"2"}));
    EXPECT_EQ(array->allElements()[0], ZDMPUndefined());
}

TEST(ZDMPArrayValue, ConvertsThroughItsText) {
    const struct {
        const char* name;
        std::shared_ptr<ZDMPArrayValue> array;
        std::u16string text;
        double number;
    } cases[] = {
        {"nested", A({A({N(1), N(2)}), N(3)}), u"1,2,3", NAN},
        {"empty", A(), u"", 0},
        {"one number", A({N(5)}), u"5", 5},
        {"two numbers", A({N(1), N(2)}), u"1,2", NAN},
        {"undefined and null", A({N(1), U(), N(3), Null()}), u"1,,3,", NAN},
        {"only null", A({Null()}), u"", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text(c.array), c.text) << c.name;
        const double converted = number(c.array);
        EXPECT_TRUE(std::isnan(c.number) ? std::isnan(converted) : converted == c.number) << c.name;
        EXPECT_TRUE(c.array->booleanValueOrError(nullptr)) << c.name;
    }
    Error error;
    A({N(1), C(u"0")})->stringValueOrError(&error);
    EXPECT_EQ(error.code, 5);
}

TEST(ZDMPArrayValue, DistinctEqualArraysAreEqualButNotStrictly) {
    const auto a = A({N(1), S(u"x")});
    const auto b = A({N(1), S(u"x")});
    EXPECT_TRUE(a->isEqualToRuntimeValue(*b));
    EXPECT_FALSE(ZDMPStrictlyEqual(*a, *b, nullptr));
    EXPECT_FALSE(a->isEqualToRuntimeValue(*A({N(1)})));
}

TEST(ZDMPArrayValue, SortsByTextOrByAComparatorWithUndefinedAndHolesLast) {
    Interpreter interpreter;
    const auto byText = A({N(10), N(9), N(1)});
    byText->sortUsingFunctionValue(nullptr, interpreter.scope, nullptr);
    EXPECT_EQ(texts(*byText), (std::vector<std::u16string>{u"1", u"10", u"9"}));

    const auto difference = std::make_shared<NativeFunction>(
        u"difference", [](const ZDMPValueList& a) { return N(number(a.at(0)) - number(a.at(1))); });
    const auto byNumber = A({N(10), U(), N(9), N(1)});
    byNumber->setValueForProperty(N(2), *N(6), nullptr);
    byNumber->sortUsingFunctionValue(difference, interpreter.scope, nullptr);
    EXPECT_EQ(texts(*byNumber),
              (std::vector<std::u16string>{u"1", u"2", u"9", u"10", u"undefined", u"<hole>", u"<hole>"}));
}

TEST(ZDMPArrayValue, AComparatorAnsweringAtRandomEndsWithAPermutation) {
    Interpreter interpreter;
    std::mt19937 random(7);
    ZDMPValueList elements;
    for (int i = 0; i < 10000; ++i) elements.push_back(N(i));
    const auto array = A(elements);
    const auto chaos = std::make_shared<NativeFunction>(u"chaos", [&](const ZDMPValueList&) {
        // Also shrinks the array under the sort.
        array->setLength(static_cast<double>(array->count() / 2), nullptr);
        return N(static_cast<double>(random() % 3) - 1);
    });
    array->sortUsingFunctionValue(chaos, interpreter.scope, nullptr);
    ASSERT_EQ(array->count(), elements.size());
    std::vector<double> sorted;
    for (const auto& slot : array->slots()) sorted.push_back(number(slot));
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(sorted[static_cast<size_t>(i)], i);
    EXPECT_GT(chaos->calls, 10000);
}

TEST(ZDMPArrayValue, AFailingComparisonIsPassedUpAfterTheSort) {
    Interpreter interpreter;
    const auto array = A({N(3), N(1), N(2)});
    const auto failing =
        std::make_shared<NativeFunction>(u"failing", [](const ZDMPValueList&) { return C(u"0"); });
    Error error;
    array->sortUsingFunctionValue(failing, interpreter.scope, &error);
    EXPECT_EQ(error.code, 4);
    EXPECT_EQ(failing->calls, 1);
    EXPECT_EQ(array->count(), 3u);
}

TEST(ZDMPArrayValue, AnIndexWriteBeyondTheAllocationBudgetFailsAtOnce) {
    const auto array = A();
    EXPECT_EQ(setCode(*array, N(9007199254740990.0), N(9007199254740990.0)), 18);
    EXPECT_EQ(setCode(*array, N(9007199254740990.0), S(u"length")), 18);
    EXPECT_EQ(array->count(), 0u);
}

TEST(ZDMPArrayValue, AnArrayHoldingItselfFailsToConvertInsteadOfOverflowing) {
    const auto array = A({N(1)});
    array->setValueForProperty(array, *N(1), nullptr);
    Error error;
    EXPECT_EQ(array->stringValueOrError(&error), u"");
    EXPECT_EQ(error.code, 18);
    EXPECT_TRUE(array->isEqualToRuntimeValue(*array));
    const auto other = A({N(1)});
    other->setValueForProperty(other, *N(1), nullptr);
    EXPECT_FALSE(array->isEqualToRuntimeValue(*other));
    array->setLength(0, nullptr);
    other->setLength(0, nullptr);
}

TEST(ZDMPArrayValue, PrimitivesEditTheSlots) {
    const auto array = A({N(1), N(2), N(3)});
    const ZDMPValueList removed = array->spliceFrom(1, 5, {S(u"a"), S(u"b")}, nullptr);
    ASSERT_EQ(removed.size(), 2u);
    EXPECT_EQ(texts(*array), (std::vector<std::u16string>{u"1", u"a", u"b"}));
    EXPECT_EQ(array->prependElements({N(0)}, nullptr), 4u);
    EXPECT_EQ(array->appendElements({N(9)}, nullptr), 5u);
    EXPECT_TRUE(array->concat(A({N(7), ZDMPArrayValue::emptyValue()}), nullptr));
    Error error;
    EXPECT_FALSE(array->concat(ZDMPControlValue::breakValue(), &error));
    EXPECT_EQ(error.code, 10);
    EXPECT_EQ(texts(*array), (std::vector<std::u16string>{u"0", u"1", u"a", u"b", u"9", u"7", u"<hole>"}));
    EXPECT_EQ(array->indexOfValue(*S(u"a"), 0, nullptr), 2);
    EXPECT_EQ(array->indexOfValue(*S(u"a"), 3, nullptr), -1);
    EXPECT_EQ(array->lastIndexOfValue(*N(1), 100, nullptr), 1);
    EXPECT_EQ(array->lastIndexOfValue(*N(1), 0, nullptr), -1);
    EXPECT_EQ(text(array->removeFirstElement()), u"0");
    EXPECT_TRUE(ZDMPArrayValue::isHole(array->removeLastElement()));
    array->reverse();
    EXPECT_EQ(texts(*array->subarrayWithRange(1, 10)), (std::vector<std::u16string>{u"9", u"b", u"a", u"1"}));
    EXPECT_EQ(A()->removeLastElement(), ZDMPUndefined());
}

TEST(ZDMPArrayValue, ANamedPropertyShadowsAMethod) {
    Interpreter interpreter;
    const auto array = A({N(1)});
    Error error;
    EXPECT_EQ(number(array->applyWithName(u"push", {N(2)}, interpreter.scope, &error)), 2);
    EXPECT_EQ(error.code, 0);
    array->setValueForProperty(
        std::make_shared<NativeFunction>(u"push", [](const ZDMPValueList&) { return N(42); }), *S(u"push"),
        nullptr);
    EXPECT_EQ(number(array->applyWithName(u"push", {N(2)}, interpreter.scope, nullptr)), 42);
    array->setValueForProperty(N(1), *S(u"push"), nullptr);
    error = Error();
    array->applyWithName(u"push", {}, interpreter.scope, &error);
    EXPECT_EQ(error.code, 17);
}

}  // namespace
