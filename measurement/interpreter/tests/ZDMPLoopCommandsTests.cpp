#include <gtest/gtest.h>

#include "measurement/interpreter/tests/InterpreterTestSupport.h"

using namespace interpreter_test;

namespace {

// A body that appends the loop variable's text, then "|", to the variable "log".
ZDMPValueRef logging(std::u16string variable) {
    return List({Assign(u"log", C(u"0", {Var(u"log"), C(u"0", {Var(std::move(variable)), S(u"|")})}))});
}

struct LoopFixture : Interpreter {
    LoopFixture() { scope->addValue(S(u""), u"log"); }
    std::u16string log() { return text(scope->valueForName(u"log")); }
};

TEST(ZDMPLoopCommands, KeyAndItemLoopsBindTheirItems) {
    const auto holes = A({N(1)});
    holes->setValueForProperty(N(3), *N(2), nullptr);
    holes->setValueForProperty(N(9), *S(u"x"), nullptr);
    const auto map = ZDMPMapValue::make();
    map->setValue(N(1), u"k");
    const struct {
        const char* name;
        std::u16string code;
        ZDMPValueRef collection;
        std::u16string log;
    } rows[] = {
        {"keys of a text", u"55", S(u"ab"), u"0|1|"},
        {"keys of an array", u"54", holes, u"x|0|2|"},
        {"keys of a map", u"47", map, u"k|"},
        {"keys of a number", u"55", N(5), u""},
        {"items of an array", u"66", holes, u"1|undefined|3|"},
        {"items of a text", u"65", S(u"ab"), u"a|b|"},
    };
    for (const auto& row : rows) {
        LoopFixture loop;
        const Outcome outcome = loop.evaluate(C(row.code, {S(u"v"), row.collection, logging(u"v")}));
        EXPECT_EQ(outcome.code, 0) << row.name;
        EXPECT_EQ(outcome.value, ZDMPUndefined()) << row.name;
        EXPECT_EQ(loop.log(), row.log) << row.name;
    }

    LoopFixture loop;
    loop.value(C(u"55", {S(u"v"), S(u"ab"),
                         List({C(u"22", {C(u"20", {Var(u"v"), N(0)}), S(u"x")}),
                               Assign(u"log", C(u"40", {Var(u"v")}))})}));
    EXPECT_EQ(loop.log(), u"string");
}

TEST(ZDMPLoopCommands, OperandsAreCheckedInOrder) {
    LoopFixture loop;
    loop.value(Declare(u"x"));
    const struct {
        const char* name;
        ZDMPValueRef statement;
        int64_t code;
    } rows[] = {
        {"two operands", C(u"64", {S(u"v"), Assign(u"x", N(1))}), 9},
        {"counted with three", C(u"63", {C(u"7"), B(true), Assign(u"x", N(1))}), 9},
        {"while with five", C(u"42", {B(false), N(0), B(false), List({}), Assign(u"x", N(1))}), 9},
        {"items of a number", C(u"64", {S(u"v"), N(5), List({})}), 16},
        {"items of a map", C(u"66", {S(u"v"), ZDMPMapValue::make(), N(1)}), 16},
        {"keys of null, body not a list", C(u"47", {S(u"v"), Null(), N(1)}), 10},
        {"counted, names not a list", C(u"63", {N(1), B(true), N(0), List({})}), 10},
        {"counted, body not a list", C(u"63", {C(u"7"), B(true), N(0), N(1)}), 10},
        {"while, body not a list", C(u"42", {B(false), N(0), B(false), N(1)}), 10},
    };
    for (const auto& row : rows) {
        const Outcome outcome = loop.evaluate(row.statement);
        EXPECT_EQ(outcome.code, row.code) << row.name;
        EXPECT_EQ(outcome.value, ZDMPUndefined()) << row.name;
    }
    EXPECT_EQ(loop.value(Var(u"x")), ZDMPUndefined());
}

TEST(ZDMPLoopCommands, BreakContinueAndReturn) {
    LoopFixture loop;
    const auto items = A({N(1), N(2), N(3), N(4)});
    // Skips 2, stops at 3.
    const ZDMPValueRef body = List({C(u"22", {C(u"20", {Var(u"v"), N(2)}), List({C(u"6")})}),
                                    C(u"22", {C(u"20", {Var(u"v"), N(3)}), List({C(u"4")})}),
                                    Assign(u"log", C(u"0", {Var(u"log"), Var(u"v")}))});
    EXPECT_EQ(loop.value(C(u"66", {S(u"v"), items, body})), ZDMPUndefined());
    EXPECT_EQ(loop.log(), u"1");

    // return inside two loops inside a function returns from the function.
    loop.value(
        C(u"50",
          {S(u"find"), C(u"7"),
           C(u"66",
             {S(u"a"), items,
              List({C(u"66", {S(u"b"), items,
                              List({C(u"22", {C(u"20", {C(u"26", {Var(u"a"), Var(u"b")}), N(6)}),
                                              List({C(u"36", {C(u"7", {Var(u"a"), Var(u"b")})})})})})})})}),
           S(u"not found")}));
    EXPECT_EQ(text(loop.value(C(u"find"))), u"2,3");
}

TEST(ZDMPLoopCommands, TheItemsAreFixedBeforeTheFirstIteration) {
    LoopFixture loop;
    const auto items = A({N(1), N(2)});
    loop.scope->addValue(items, u"items");
    loop.value(C(u"66", {S(u"v"), Var(u"items"),
                         List({C(u"43", {Var(u"items"), C(u"16", {Var(u"items"), S(u"length")}), N(9)}),
                               Assign(u"log", C(u"0", {Var(u"log"), Var(u"v")}))})}));
    EXPECT_EQ(loop.log(), u"12");
    EXPECT_EQ(items->count(), 4u);
}

TEST(ZDMPLoopCommands, BindingKindsAndImmutableVariables) {
    LoopFixture loop;
    // A constant loop variable keeps its item when the body assigns it.
    loop.value(C(u"65", {S(u"c"), A({N(1), N(2)}),
                         List({Assign(u"c", N(7)), Assign(u"log", C(u"0", {Var(u"log"), Var(u"c")}))})}));
    EXPECT_EQ(loop.log(), u"12");
    EXPECT_FALSE(loop.scope->hasName(u"c"));

    // An existing-variable loop over a constant leaves it and still runs once per item.
    loop.value(C(u"52", {S(u"fixed"), S(u"k")}));
    loop.value(Assign(u"log", S(u"")));
    loop.value(C(u"64", {S(u"fixed"), A({N(1), N(2), N(3)}), logging(u"fixed")}));
    EXPECT_EQ(loop.log(), u"k|k|k|");

    // An existing-variable loop over a new name leaves it bound in the current scope.
    loop.value(C(u"64", {S(u"last"), A({N(1), N(2)}), List({})}));
    EXPECT_EQ(number(loop.scope->valueForName(u"last")), 2);
}

TEST(ZDMPLoopCommands, CountedLoopIterationsKeepTheirOwnVariables) {
    LoopFixture loop;
    loop.value(C(u"41", {S(u"i"), S(u"fns")}));
    loop.value(Assign(u"i", N(0)));
    loop.value(Assign(u"fns", C(u"7")));
    loop.value(
        C(u"63",
          {C(u"7", {S(u"i")}), C(u"23", {Var(u"i"), N(3)}), Assign(u"i", C(u"0", {Var(u"i"), N(1)})),
           List({C(u"43", {Var(u"fns"), Var(u"i"), C(u"51", {S(u""), C(u"7"), C(u"36", {Var(u"i")})})})})}));
    EXPECT_EQ(number(loop.value(Var(u"i"))), 0);
    for (int k = 0; k < 3; ++k) {
        loop.value(Assign(u"log", C(u"16", {Var(u"fns"), N(k)})));
        loop.scope->addValue(loop.scope->valueForName(u"log"), u"f");
        EXPECT_EQ(number(loop.value(C(u"f"))), k);
    }
}

TEST(ZDMPLoopCommands, WhileLoopsAndTheirBodyFirstPass) {
    const struct {
        const char* name;
        bool bodyFirst;
        std::u16string log;
    } rows[] = {{"body first", true, u"x"}, {"test first", false, u""}};
    for (const auto& row : rows) {
        LoopFixture loop;
        loop.value(Declare(u"steps"));
        loop.value(C(u"42", {B(false), Assign(u"steps", N(1)), B(row.bodyFirst),
                             List({Assign(u"log", C(u"0", {Var(u"log"), S(u"x")}))})}));
        EXPECT_EQ(loop.log(), row.log) << row.name;
        EXPECT_EQ(loop.value(Var(u"steps")), ZDMPUndefined()) << row.name;
    }

    LoopFixture loop;
    loop.value(Declare(u"n"));
    loop.value(Assign(u"n", N(0)));
    loop.value(C(u"42", {C(u"23", {Var(u"n"), N(3)}), Assign(u"n", C(u"0", {Var(u"n"), N(1)})), B(false),
                         List({Assign(u"log", C(u"0", {Var(u"log"), Var(u"n")}))})}));
    EXPECT_EQ(loop.log(), u"012");

    const Outcome endless = loop.evaluate(C(u"42", {B(true), N(0), B(false), List({N(1)})}));
    EXPECT_EQ(endless.code, 18);
}

}  // namespace
