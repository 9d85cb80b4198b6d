#include <gtest/gtest.h>

#include <random>

#include "measurement/interpreter/ZDMPArrayCommandEvaluator.h"
#include "measurement/interpreter/tests/InterpreterTestSupport.h"

using namespace interpreter_test;

namespace {

const ZDMPValueRef& hole() {
    return ZDMPArrayValue::emptyValue();
}

// A program calling `method` of `array` with the arguments as written.
ZDMPValueRef call(ZDMPValueRef array, std::u16string method, ZDMPValueList arguments) {
    return C(u"2", {std::move(array), S(std::move(method)), C(u"7", std::move(arguments))});
}

// A program function of `parameters` returning `result`.
ZDMPValueRef function(std::vector<std::u16string> parameters, ZDMPValueRef result) {
    ZDMPValueList names;
    for (auto& name : parameters) names.push_back(S(std::move(name)));
    return C(u"51", {S(u""), C(u"7", std::move(names)), C(u"36", {std::move(result)})});
}

// A native callback counting its calls and answering `answer`.
std::shared_ptr<NativeFunction> counting(ZDMPValueRef answer) {
    return std::make_shared<NativeFunction>(u"", [answer](const ZDMPValueList&) { return answer; });
}

TEST(ZDMPArrayMethods, CallbacksVisitThePresentElementsOfTheStartingCount) {
    Interpreter interpreter;
    const auto doubled = function({u"v", u"i", u"a"}, C(u"26", {Var(u"v"), N(2)}));
    EXPECT_EQ(shown(interpreter.value(call(A({N(1), hole(), N(3)}), u"map", {doubled}))), u"[2|_|6]");
    EXPECT_EQ(shown(interpreter.value(call(A({N(1), N(2), hole()}), u"map", {doubled}))), u"[2|4]");
    const auto never = counting(U());
    EXPECT_EQ(shown(interpreter.value(call(A({hole(), hole()}), u"map", {never}))), u"[]");
    EXPECT_EQ(never->calls, 0);

    // The callback sees (value, index, the array) and pushes to it; only the first two are visited.
    const auto array = A({S(u"a"), S(u"b")});
    ZDMPValueList seen;
    const auto pushing = std::make_shared<NativeFunction>(u"", [&](const ZDMPValueList& arguments) {
        seen.push_back(S(text(arguments[0]) + text(arguments[1]) + (arguments[2] == array ? u"!" : u"?")));
        array->appendElements({N(9)}, nullptr);
        return U();
    });
    EXPECT_EQ(interpreter.value(call(array, u"forEach", {pushing})), ZDMPUndefined());
    EXPECT_EQ(shown(A(seen)), u"['a0!'|'b1!']");
    EXPECT_EQ(array->count(), 4u);

    const auto positive = function({u"v"}, C(u"18", {Var(u"v"), N(0)}));
    EXPECT_EQ(shown(interpreter.value(call(A({N(1), N(-1), hole(), N(2)}), u"filter", {positive}))),
              u"[1|2]");
    EXPECT_EQ(text(interpreter.value(call(A({N(1), N(-1)}), u"every", {positive}))), u"false");
    EXPECT_EQ(text(interpreter.value(call(A({N(-1), N(1)}), u"some", {positive}))), u"true");
    EXPECT_EQ(text(interpreter.value(call(A(), u"every", {never}))), u"true");
    EXPECT_EQ(text(interpreter.value(call(A(), u"some", {never}))), u"false");
    EXPECT_EQ(never->calls, 0);
    // every stops at the first false result.
    const auto no = counting(B(false));
    EXPECT_EQ(text(interpreter.value(call(A({N(1), N(2)}), u"every", {no}))), u"false");
    EXPECT_EQ(no->calls, 1);
}

TEST(ZDMPArrayMethods, ReductionsTakeTheirAccumulatorByTheRules) {
    Interpreter interpreter;
    const auto never = counting(U());
    const auto joined = function({u"acc", u"v"}, C(u"0", {Var(u"acc"), Var(u"v")}));
    const struct {
        std::shared_ptr<ZDMPArrayValue> array;
        std::u16string method;
        ZDMPValueList arguments;
        std::u16string result;
        int64_t code;
    } rows[] = {
        {A(), u"reduce", {never}, u"undefined", 8},
        {A({hole(), hole()}), u"reduceRight", {never}, u"undefined", 8},
        {A(), u"reduce", {never, N(0)}, u"0", 0},
        {A(), u"reduce", {never, U()}, u"undefined", 0},
        {A({hole(), hole(), S(u"x")}), u"reduce", {never}, u"'x'", 0},
        {A({N(1), N(2), N(3)}), u"reduceRight", {joined, S(u"")}, u"'321'", 0},
        {A({S(u"a"), hole(), S(u"b")}), u"reduce", {joined}, u"'ab'", 0},
        {A({S(u"a"), S(u"b"), hole()}), u"reduceRight", {joined}, u"'ba'", 0},
        {A({N(1)}), u"reduce", {N(1)}, u"undefined", 10},
        {A({N(1)}), u"reduce", {never, ZDMPControlValue::breakValue()}, u"undefined", 10},
        {A({N(1)}), u"reduce", {}, u"undefined", 9},
        {A({N(1)}), u"reduce", {never, N(0), N(0)}, u"undefined", 9},
    };
    for (const auto& row : rows) {
        const Outcome outcome = interpreter.evaluate(call(row.array, row.method, row.arguments));
        EXPECT_EQ(shown(outcome.value), row.result)
            << ZDMPUtf8(shown(row.array)) << " " << ZDMPUtf8(row.method);
        EXPECT_EQ(outcome.code, row.code) << ZDMPUtf8(shown(row.array));
    }
    EXPECT_EQ(never->calls, 0);
}

TEST(ZDMPArrayMethods, SearchConversionAndCopyRows) {
    Interpreter interpreter;
    const auto abc = [] { return A({S(u"a"), S(u"b"), S(u"c")}); };
    const auto five = [] { return A({N(1), N(2), N(3), N(4), N(5)}); };
    const struct {
        std::shared_ptr<ZDMPArrayValue> array;
        std::u16string method;
        ZDMPValueList arguments;
        std::u16string result;
        std::u16string after;
    } rows[] = {
        {A({S(u"1")}), u"indexOf", {N(1)}, u"-1", u"['1']"},
        {A({N(1), N(1)}), u"indexOf", {N(1), N(2)}, u"-1", u"[1|1]"},
        {A({N(1), N(1)}), u"indexOf", {N(1), N(-1)}, u"1", u"[1|1]"},
        {A({N(1), N(1)}), u"indexOf", {N(1), N(-9)}, u"0", u"[1|1]"},
        {A({hole(), U()}), u"indexOf", {}, u"1", u"[_|undefined]"},
        {A({N(NAN)}), u"indexOf", {N(NAN)}, u"-1", u"[NaN]"},
        {A({S(u"x"), S(u"y"), S(u"x")}), u"lastIndexOf", {S(u"x"), N(-1)}, u"2", u"['x'|'y'|'x']"},
        {A({S(u"x"), S(u"y"), S(u"x")}), u"lastIndexOf", {S(u"x"), N(1)}, u"0", u"['x'|'y'|'x']"},
        {A({S(u"x"), S(u"y"), S(u"x")}), u"lastIndexOf", {S(u"x"), N(-4)}, u"-1", u"['x'|'y'|'x']"},
        {A({S(u"x"), S(u"y"), S(u"x")}), u"lastIndexOf", {S(u"x"), N(NAN)}, u"2", u"['x'|'y'|'x']"},
        {A({S(u"x")}), u"lastIndexOf", {S(u"x"), N(99)}, u"0", u"['x']"},
        {A({hole()}), u"lastIndexOf", {}, u"-1", u"[_]"},
        {abc(), u"hasOwnProperty", {S(u"length")}, u"true", u"['a'|'b'|'c']"},
        {abc(), u"hasOwnProperty", {S(u"02")}, u"true", u"['a'|'b'|'c']"},
        {A({hole()}), u"hasOwnProperty", {N(0)}, u"false", u"[_]"},
        {abc(), u"join", {}, u"'a,b,c'", u"['a'|'b'|'c']"},
        {abc(), u"join", {U()}, u"'abc'", u"['a'|'b'|'c']"},
        {abc(), u"join", {Null()}, u"'abc'", u"['a'|'b'|'c']"},
        {A({N(1), Null(), hole(), N(2)}), u"join", {N(0)}, u"'10002'", u"[1|null|_|2]"},
        {A({N(1), N(2)}), u"toString", {}, u"'1,2'", u"[1|2]"},
        {five(), u"slice", {N(-2)}, u"[4|5]", u"[1|2|3|4|5]"},
        {five(), u"slice", {N(3), N(1)}, u"[]", u"[1|2|3|4|5]"},
        {five(), u"slice", {N(1), N(-1)}, u"[2|3|4]", u"[1|2|3|4|5]"},
        {A({hole(), N(1)}), u"slice", {}, u"[_|1]", u"[_|1]"},
        {five(), u"slice", {N(-INFINITY), N(INFINITY)}, u"[1|2|3|4|5]", u"[1|2|3|4|5]"},
        {abc(), u"splice", {N(1), N(1), S(u"x"), S(u"y")}, u"['b']", u"['a'|'x'|'y'|'c']"},
        {abc(), u"splice", {N(-1)}, u"['c']", u"['a'|'b']"},
        {abc(), u"splice", {}, u"[]", u"['a'|'b'|'c']"},
        {abc(), u"splice", {N(INFINITY), N(1)}, u"['a']", u"['b'|'c']"},
        {abc(), u"splice", {N(-INFINITY)}, u"['a'|'b'|'c']", u"[]"},
        {abc(), u"splice", {N(1e300), N(1)}, u"['a']", u"['b'|'c']"},
        {abc(), u"splice", {N(-5), N(-1), S(u"z")}, u"[]", u"['z'|'a'|'b'|'c']"},
        {abc(), u"splice", {N(2), N(1e300)}, u"['c']", u"['a'|'b']"},
        {A({N(1), hole()}), u"concat", {A({hole(), N(2)}), N(3)}, u"[1|_|_|2|3]", u"[1|_]"},
        {A({N(5)}), u"sort", {N(5)}, u"[5]", u"[5]"},
        {A({N(10), N(9), U(), hole(), N(1)}), u"sort", {}, u"[1|10|9|undefined|_]", u"[1|10|9|undefined|_]"},
        {abc(), u"reverse", {}, u"['c'|'b'|'a']", u"['c'|'b'|'a']"},
        {A(), u"pop", {}, u"undefined", u"[]"},
        {A(), u"shift", {}, u"undefined", u"[]"},
        {abc(), u"shift", {}, u"'a'", u"['b'|'c']"},
        {A(), u"push", {N(1), N(2)}, u"2", u"[1|2]"},
        {A({N(3)}), u"unshift", {N(1), N(2)}, u"3", u"[1|2|3]"},
        // A removed hole reads as undefined, never as the marker itself.
        {A({N(1), hole()}), u"pop", {}, u"undefined", u"[1]"},
        {A({hole(), N(1)}), u"shift", {}, u"undefined", u"[1]"},
    };
    for (const auto& row : rows) {
        const Outcome outcome = interpreter.evaluate(call(row.array, row.method, row.arguments));
        EXPECT_EQ(outcome.code, 0) << ZDMPUtf8(row.method);
        EXPECT_EQ(shown(outcome.value), row.result)
            << ZDMPUtf8(row.method) << " -> " << ZDMPUtf8(shown(outcome.value));
        EXPECT_EQ(shown(row.array), row.after) << ZDMPUtf8(row.method) << " → " << ZDMPUtf8(shown(row.array));
    }
}

TEST(ZDMPArrayMethods, ReverseAndSortGiveTheArrayItself) {
    Interpreter interpreter;
    const auto array = A({N(2), N(1)});
    EXPECT_EQ(interpreter.value(call(array, u"reverse", {})), array);
    EXPECT_EQ(
        interpreter.value(call(array, u"sort", {function({u"a", u"b"}, C(u"37", {Var(u"b"), Var(u"a")}))})),
        array);
    EXPECT_EQ(shown(array), u"[2|1]");
}

TEST(ZDMPArrayMethods, NamesCountsAndKindsAreChecked) {
    Interpreter interpreter;
    const auto never = counting(U());
    // Evaluating this argument would fail with 2, so a 17 shows nothing was evaluated.
    const ZDMPValueRef undeclared = Assign(u"nowhere", N(1));
    const struct {
        std::u16string method;
        ZDMPValueList arguments;
        int64_t code;
    } rows[] = {
        {u"flatten", {undeclared}, 17},
        {u"map", {undeclared}, 2},
        {u"map", {}, 9},
        {u"map", {never, N(1)}, 9},
        {u"forEach", {never, never}, 9},
        {u"filter", {N(1)}, 10},
        {u"every", {S(u"f")}, 10},
        {u"some", {A()}, 10},
        {u"sort", {N(5)}, 10},
        {u"sort", {never, never}, 9},
        {u"concat", {N(1), ZDMPControlValue::continueValue()}, 10},
        {u"pop", {N(1)}, 9},
        {u"shift", {N(1)}, 9},
        {u"reverse", {N(1)}, 9},
        {u"toString", {N(1)}, 9},
        {u"join", {N(1), N(2)}, 9},
        {u"slice", {N(1), N(2), N(3)}, 9},
        {u"indexOf", {N(1), N(2), N(3)}, 9},
        {u"lastIndexOf", {N(1), N(2), N(3)}, 9},
        {u"hasOwnProperty", {}, 9},
        {u"join", {A({ZDMPControlValue::breakValue()})}, 5},
    };
    for (const auto& row : rows) {
        const auto array = A({N(2), N(1)});
        Error error;
        const ZDMPValueRef result =
            array->applyWithName(row.method, row.arguments, interpreter.scope, &error);
        EXPECT_EQ(error.code, row.code) << ZDMPUtf8(row.method);
        EXPECT_EQ(result, ZDMPUndefined()) << ZDMPUtf8(row.method);
        EXPECT_EQ(shown(array), u"[2|1]") << ZDMPUtf8(row.method);
    }
    EXPECT_EQ(never->calls, 0);
}

TEST(ZDMPArrayMethods, AFailingCallbackStopsWithItsEffectsKept) {
    Interpreter interpreter;
    const auto array = A({N(1), N(2), N(3)});
    int calls = 0;
    const auto failing = std::make_shared<NativeFunction>(u"", [&](const ZDMPValueList&) {
        array->appendElements({N(0)}, nullptr);
        return ++calls == 2 ? ZDMPValueRef(ZDMPControlValue::breakValue()) : N(1);
    });
    // A control value has no number conversion: the comparator's second answer ends the sort.
    const Outcome outcome =
        interpreter.evaluate(call(array, u"map", {function({u"v"}, Assign(u"nowhere", N(1)))}));
    EXPECT_EQ(outcome.code, 2);
    const Outcome sorted = interpreter.evaluate(call(A({N(1), N(2), N(3)}), u"sort", {failing}));
    EXPECT_EQ(sorted.code, 4);
    EXPECT_EQ(array->count(), 5u);
}

TEST(ZDMPArrayMethods, ComparatorsThatChangeTheArrayOrAnswerAtRandomEnd) {
    Interpreter interpreter;
    ZDMPValueList originals;
    for (int i = 0; i < 200; ++i) originals.push_back(N(i));
    const auto array = A(originals);
    std::mt19937 random(7);
    const auto meddling = std::make_shared<NativeFunction>(u"", [&](const ZDMPValueList&) {
        array->appendElements({S(u"extra")}, nullptr);
        array->removeLastElement();
        array->removeFirstElement();
        array->prependElements({N(-1)}, nullptr);
        return N(static_cast<double>(random() % 3) - 1);
    });
    EXPECT_EQ(interpreter.value(call(array, u"sort", {meddling})), array);
    const auto chaotic = counting(N(NAN));
    std::vector<double> values;
    for (const auto& slot : array->slots()) values.push_back(number(slot));
    std::sort(values.begin(), values.end());
    ASSERT_EQ(values.size(), originals.size());
    for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(values[i], static_cast<double>(i));
    EXPECT_EQ(interpreter.value(call(array, u"sort", {chaotic})), array);
    EXPECT_EQ(array->count(), originals.size());
}

TEST(ZDMPArrayMethods, GrowthIsChargedToTheRunBudget) {
    Interpreter interpreter;
    // Doubling by concat and by push of a spread copy passes the 64 MiB of the run and ends with 18.
    const ZDMPValueList program = {
        Declare(u"a"),
        Assign(u"a", C(u"7", {N(1)})),
        C(u"42", {B(true), U(), B(false), List({Assign(u"a", call(Var(u"a"), u"concat", {Var(u"a")}))})}),
    };
    Error error;
    ZDMPEvaluator::executeStatements(program, interpreter.scope, &error);
    EXPECT_EQ(error.code, 18);
}

}  // namespace
