// Programs loaded into event editing and run over one event: callbacks in priority order, what
// their outcomes keep, parameter coercion, created events and the editing failure codes.
#include <gtest/gtest.h>

#include <limits>

#include "measurement/foundation/tests/MonitorFixture.h"
#include "measurement/interpreter/ZDMPEventEditing.h"
#include "measurement/interpreter/tests/InterpreterTestSupport.h"
#include "measurement/interpreter/tests/ProgramText.h"

using namespace interpreter_test;

namespace {

constexpr int64_t kMaxInt64 = std::numeric_limits<int64_t>::max();

// "cycled" at 10 s: an internal integer, an integer, a floating-point number and a text.
std::shared_ptr<ZDMPEvent> cycled() {
    return ZDMPEvent::initWithName(
        "cycled", 10,
        {{"_c", Value(int64_t{1})}, {"value", Value(int64_t{3})}, {"f", Value(1.5)}, {"x", Value("t")}});
}

// Binds "r" to the registering module, so that callbacks read (r 0 (51 ...) (8 "type" ...)).
const std::string kPrelude = R"((41 "r") (3 "r" (require "internal.registerCallback")) )";

std::string editCallback(const std::string& body, int priority = 5) {
    return R"((r 0 (51 "" (7 "e") )" + body + R"() (8 "type" "edit" "priority" )" + std::to_string(priority) +
           "))";
}

struct Loaded {
    std::unique_ptr<ZDMPEventEditing> editing;
    Error error;
};

Loaded load(const ProgramSource& source) {
    Loaded loaded{std::make_unique<ZDMPEventEditing>(), {}};
    const auto program = ZDMPBProgram::initWithBuffer(programBytes(source));
    EXPECT_TRUE(program);
    if (program) loaded.editing->loadProgram(*program, &loaded.error);
    return loaded;
}

// Loads (which must succeed) and runs the program over "cycled".
std::unique_ptr<ZDMPEventEditing> runOverCycled(const std::string& instructions, Error* error = nullptr,
                                                bool* changed = nullptr) {
    Loaded loaded = load({instructions});
    EXPECT_FALSE(ZDMPFailed(loaded.error)) << loaded.error.code << " loading " << instructions;
    const bool result = loaded.editing->handleEvent(cycled(), error);
    if (changed) *changed = result;
    return std::move(loaded.editing);
}

const Value& outputParameter(const ZDMPEventEditing& editing, const char* name) {
    static const Value absent;
    const Value* value = editing.eventContext().outputEvent()->parameterForName(name);
    return value ? *value : absent;
}

}  // namespace

TEST(ZDMPEventEditing, CallbacksOfTheSamePriorityRunInRegistrationOrder) {
    ZDMPEditingCallbackHandler handler;
    const auto callback = std::make_shared<ZDMPFunctionValue>(
        u"f", std::vector<std::u16string>{}, ZDMPValueList{}, ZDMPScope::initWithParentScope(nullptr));
    for (int32_t priority : {5, 5, 3})
        ASSERT_TRUE(handler.registerWithPriority(priority, callback, u"edit", nullptr));
    EXPECT_EQ(handler.editPriorities(), (std::vector<int64_t>{3, 5, 6}));
    // After the largest 32-bit priority the next is one more, not a wrapped negative one.
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(
            handler.registerWithPriority(std::numeric_limits<int32_t>::max(), callback, u"create", nullptr));
    EXPECT_EQ(handler.createPriorities(), (std::vector<int64_t>{2147483647, 2147483648}));

    const auto editing =
        runOverCycled(kPrelude + editCallback(R"((2 $e "setEventName" (7 "a")) 0)") +
                      editCallback(R"((2 $e "setEventName" (7 (0 (2 $e "getEventName" (7)) "b"))) 0)"));
    EXPECT_EQ(editing->eventContext().outputEvent()->name(), "ab");
}

TEST(ZDMPEventEditing, OutcomesDecideWhetherAnEditStays) {
    struct Row {
        const char* outcome;
        bool kept;
    };
    const Row rows[] = {{"true", false}, {"2", false}, {"\"0\"", false},
                        {"0", true},     {"1", true},  {"-3", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.outcome);
        bool changed = false;
        const auto editing = runOverCycled(
            kPrelude +
                editCallback(std::string(R"((2 $e "setEventName" (7 "renamed")) (36 )") + row.outcome + ")"),
            nullptr, &changed);
        EXPECT_EQ(editing->eventContext().outputEvent()->name(), row.kept ? "renamed" : "cycled");
        EXPECT_EQ(editing->hasEdits(), row.kept);
        EXPECT_EQ(changed, row.kept);
    }
}

TEST(ZDMPEventEditing, WrittenParametersAreCoercedAgainstTheirCurrentValue) {
    struct Row {
        const char* name;
        const char* value;
        Value stored;
    };
    const Row rows[] = {
        {"_c", "5", Value(int64_t{1})},         // an internal integer keeps its value
        {"value", "2.5", Value(int64_t{2})},    // an integer takes the whole part
        {"f", "2.5", Value(2.5)},               // a floating-point number takes it as it is
        {"x", "7", Value("7")},                 // a text takes the number's text
        {"_el", "3.9", Value(int64_t{3})},      // no current value, whole part by name
        {"fresh", "3.9", Value(3.9)},           // no current value, as it is
        {"_el", "Infinity", Value(kMaxInt64)},  // the nearest bound, never an undefined cast
        {"value", "1e300", Value(kMaxInt64)},   // beyond the range: the nearest bound
        {"value", "-1e300", Value(std::numeric_limits<int64_t>::min())},
        {"value", "NaN", Value("NaN")},  // NaN is written as its text
        {"value", "(44)", Value("")},    // undefined is the empty text
        {"value", "\"text\"", Value("text")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " = " + row.value);
        const auto editing =
            runOverCycled(kPrelude + editCallback(std::string(R"((2 $e "setParamValue" (7 ")") + row.name +
                                                  "\" " + row.value + ")) 0"));
        const Value& stored = outputParameter(*editing, row.name);
        EXPECT_EQ(stored, row.stored);
        EXPECT_EQ(stored.isReal(), row.stored.isReal());
    }
}

TEST(ZDMPEventEditing, ACurrentIntegerUnderscoreParameterKeepsItsValue) {
    Value current(int64_t{4});
    EXPECT_EQ(ZDMPCoerceParameter("_el", &current, Value(3.9)), Value(int64_t{4}));
    EXPECT_EQ(ZDMPCoerceParameter("", &current, Value(3.9)), Value(int64_t{3}));
    EXPECT_EQ(ZDMPCoerceParameter("_el", nullptr, Value(3.9)), Value(int64_t{3}));
    EXPECT_EQ(ZDMPCoerceParameter("any", &current, Value(true)), Value(true));
}

TEST(ZDMPEventEditing, RemovingOnlyAParameterIsAnEdit) {
    bool changed = false;
    const auto editing =
        runOverCycled(kPrelude + editCallback(R"((2 $e "setParamValue" (7 "x" (45))) 0)"), nullptr, &changed);
    EXPECT_FALSE(editing->eventContext().outputEvent()->hasParameterName("x"));
    EXPECT_TRUE(editing->hasEdits());
    EXPECT_TRUE(changed);
}

TEST(ZDMPEventEditing, EventsAreEqualOnlyWithTheSameParametersOfTheSameKinds) {
    const auto base = cycled();
    struct Row {
        const char* what;
        std::function<void(ZDMPEvent&)> change;
        bool equal;
    };
    const Row rows[] = {
        {"unchanged", [](ZDMPEvent&) {}, true},
        {"a parameter removed", [](ZDMPEvent& e) { e.setParameter(Value(), "x"); }, false},
        {"a parameter added", [](ZDMPEvent& e) { e.setParameter(Value("n"), "new"); }, false},
        {"integer to floating-point",
         [](ZDMPEvent& e) {
             Dictionary parameters = e.parameters();
             parameters.set("value", Value(3.0));
             e = *ZDMPEvent::initWithName(e.name(), e.timestamp(), parameters);
         },
         false},
        {"time within epsilon", [](ZDMPEvent& e) { e.setTimestamp(10 + 1e-17); }, true},
        {"time beyond it", [](ZDMPEvent& e) { e.setTimestamp(10.000001); }, false},
        {"renamed", [](ZDMPEvent& e) { e.setName("other"); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto changed = base->copy();
        row.change(*changed);
        EXPECT_EQ(changed->isEqualToEvent(*base), row.equal);
        EXPECT_EQ(base->isEqualToEvent(*changed), row.equal);
    }
}

TEST(ZDMPEventEditing, ReadingTheEventGivesItsNameTimeAndParameters) {
    const auto editing = runOverCycled(kPrelude + editCallback(
                                                      R"((41 "p") (3 "p" (2 $e "getParams" (7)))
        (2 $e "setParamValue" (7 "seen" (0 (0 (0 (2 $e "getEventName" (7)) (2 $e "getTimestamp" (7)))
            (0 (16 $p "x") (2 $e "getParamValue" (7 "value")))) (2 $e "getParamValue" (7 "absent"))))) 0)"));
    EXPECT_EQ(outputParameter(*editing, "seen"), Value("cycled10t3null"));
}

TEST(ZDMPEventEditing, CreateCallbacksLogEventsWithCoercedParameters) {
    bool changed = false;
    const auto editing = runOverCycled(kPrelude + R"((41 "log") (3 "log" (require "internal.eventLogger"))
        (r 0 (51 "" (7 "e") (log "extra" 12.7 (8 "_o" "fa" "value" 2.5 "gone" (45)))) (8 "type" "create")))",
                                       nullptr, &changed);
    EXPECT_TRUE(changed);
    EXPECT_FALSE(editing->hasEdits());
    ASSERT_TRUE(editing->hasCreatedEvents());
    const auto& created = *editing->eventContext().eventsToLog().front();
    EXPECT_EQ(created.name(), "extra");
    EXPECT_EQ(created.timestamp(), 12);
    EXPECT_EQ(created.parameters(), (Dictionary{{"_o", Value("fa")}, {"value", Value(int64_t{2})}}));
}

TEST(ZDMPEventEditing, FailuresCarryTheirCodes) {
    struct Row {
        const char* what;
        ProgramSource source;
        const char* domain;
        int64_t code;
    };
    const std::string registerOnce = kPrelude + R"((r 0 (51 "" (7 "e") 0) (8 "type" "edit")))";
    const std::string register1001 =
        kPrelude +
        R"((41 "i") (3 "i" 0) (42 (23 $i 1001) (3 "i" (0 $i 1)) false (46 (r 0 (51 "" (7 "e") 0) (8 "type" "edit")))))";
    const Row rows[] = {
        {"options without type",
         {kPrelude + R"((r 0 (51 "" (7)) (8 "priority" 1)))"},
         kZDMPEventEditingErrorDomain,
         2},
        {"rule type delete",
         {kPrelude + R"((r 0 (51 "" (7)) (8 "type" "delete")))"},
         kZDMPEventEditingErrorDomain,
         3},
        {"the 1001st registration", {register1001}, kZDMPEventEditingErrorDomain, 4},
        {"top level ends in return", {"(41 \"a\") (36 1)"}, kZDMPEventEditingErrorDomain, 5},
        {"top level ends in break", {"(4)"}, kZDMPEventEditingErrorDomain, 5},
        {"activity not a map", {registerOnce, {{"rules", "5"}}}, kZDMPEventEditingErrorDomain, 6},
        {"activity naming a number",
         {R"((41 "n") (3 "n" 4))", {{"n", "(8)"}}},
         kZDMPEventEditingErrorDomain,
         7},
        {"activity naming nothing", {"", {{"absent", "(8)"}}}, kZDMPEventEditingErrorDomain, 7},
        {"callback not a function",
         {kPrelude + R"((r 0 5 (8 "type" "edit")))"},
         kZDMPInterpreterErrorDomain,
         10},
        {"two arguments", {kPrelude + R"((r 0 (51 "" (7))))"}, kZDMPInterpreterErrorDomain, 9},
        {"a failing top level", {R"((3 "nowhere" 1))"}, kZDMPInterpreterErrorDomain, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Loaded loaded = load(row.source);
        EXPECT_EQ(loaded.error.domain, row.domain);
        EXPECT_EQ(loaded.error.code, row.code);
    }
}

TEST(ZDMPEventEditing, ActivitiesHandTheirMapsToTheRuleFunction) {
    const Loaded loaded =
        load({R"((50 "rules" (7 "options") (41 "r") (3 "r" (require "internal.registerCallback"))
            (r 0 (51 "" (7 "e") (2 $e "setEventName" (7 (16 $options "to"))) 0) (8 "type" "edit"))) (41 "unused"))",
              {{"rules", R"((8 "to" "first") (8 "to" "second"))"}}});
    ASSERT_FALSE(ZDMPFailed(loaded.error)) << loaded.error.code;
    EXPECT_TRUE(loaded.editing->handleEvent(cycled(), nullptr));
    // Both registered at 1000: the second runs last.
    EXPECT_EQ(loaded.editing->eventContext().outputEvent()->name(), "second");
}

TEST(ZDMPEventEditing, AFailingCallbackLeavesTheEventAsItWasAndStopsTheRest) {
    const std::string program =
        kPrelude + editCallback(R"((2 $e "setEventName" (7 "first")) 0)", 1) +
        editCallback(R"((2 $e "setEventName" (7 "second")) (2 $e "nothing" (7)))", 2) +
        editCallback(R"((2 $e "setEventName" (7 "third")) 0)", 3);
    Error error;
    bool changed = true;
    const auto editing = runOverCycled(program, &error, &changed);
    EXPECT_FALSE(changed);
    EXPECT_EQ(error.code, 17);
    EXPECT_EQ(editing->eventContext().outputEvent()->name(), "first");
}

TEST(ZDMPEventEditing, ACallbackRecursingForeverFailsWithTheBudgetAndNoOverflow) {
    const std::string program = R"((50 "down" (7 "n") (36 (down (0 $n 1)))) )" + kPrelude +
                                editCallback(R"((2 $e "setEventName" (7 "x")) (down 0))");
    Error error;
    const auto editing = runOverCycled(program, &error);
    EXPECT_EQ(error.domain, kZDMPInterpreterErrorDomain);
    EXPECT_EQ(error.code, 18);
    EXPECT_FALSE(editing->hasEdits());
    // The next event gets a fresh budget and fails the same way, not at once.
    Error again;
    EXPECT_FALSE(editing->handleEvent(cycled(), &again));
    EXPECT_EQ(again.code, 18);
}

class ZDMPEventEditingMonitor : public SharedMonitorFixture {};

TEST_F(ZDMPEventEditingMonitor, ProgramLinesReachTheLibraryMonitorWithTheirCode) {
    Interpreter interpreter;
    interpreter.runtime.setModuleCreator(
        [] { return std::make_shared<ZDMPMessageLogger>(std::make_shared<ZDMPixieLogger>()); },
        u"internal.logger");
    for (const char* program : {R"((2 (require "internal.logger") "log" (7 "x")))",
                                R"((2 (require "internal.logger") "log" (7 5 "m" "a" "b" "c" "d")))"}) {
        Error error;
        std::vector<std::shared_ptr<const ZDMPBRuntimeEntity>> entities;
        for (const Data& bytes : ProgramText(program).entities()) entities.push_back(entity(bytes));
        interpreter.runtime.executeStatements(entities, &error);
        EXPECT_FALSE(ZDMPFailed(error)) << program;
    }
    flush(*monitor_);
    const auto lines = logger_->lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].code, 24005);
    EXPECT_EQ(lines[0].level, 6);
    EXPECT_NE(lines[0].message.find("x"), std::string::npos);
    EXPECT_EQ(lines[1].code, 24005);
    EXPECT_EQ(lines[1].level, 4);
    EXPECT_NE(lines[1].message.find("m"), std::string::npos);
    EXPECT_NE(lines[1].message.find("c"), std::string::npos);
    EXPECT_EQ(lines[1].message.find("d"), std::string::npos);
}

TEST(ZDMPEventEditing, ScopesAndValuesOfPastEventsAreFreedEvenInCycles) {
    // Each event: a nested function kept in the scope it closes over, a map holding itself, an
    // array holding itself and the callbacks' argument stored into a global map.
    const std::string program = R"((41 "kept") (3 "kept" (8)) )" + kPrelude + editCallback(R"(
        (50 "inner" (7) (36 $e))
        (41 "m") (3 "m" (8)) (43 $m "self" $m) (43 $m "f" $inner)
        (41 "a") (3 "a" (7)) (43 $a 0 $a) (43 $a 1 $m)
        (43 $kept "last" $e) (43 $e "loop" $e)
        (2 $e "setParamValue" (7 "n" (0 (2 $e "getParamValue" (7 "value")) 1))) 0)");
    const auto editing = runOverCycled(program);
    const size_t scopes = editing->runtime().liveScopeCount();
    const size_t values = editing->runtime().liveValueCount();
    for (int i = 0; i < 10000; ++i) ASSERT_TRUE(editing->handleEvent(cycled(), nullptr));
    EXPECT_EQ(editing->runtime().liveScopeCount(), scopes);
    EXPECT_EQ(editing->runtime().liveValueCount(), values);
    EXPECT_EQ(outputParameter(*editing, "n"), Value(4.0));
}

TEST(ZDMPEventEditing, WhatTheGlobalScopeStillReachesSurvivesReclaiming) {
    const std::string program = R"((41 "kept") (3 "kept" (7)) )" + kPrelude + editCallback(R"(
        (41 "m") (3 "m" (8 "count" (0 (16 $kept "length") 1))) (43 $m "self" $m)
        (2 $kept "push" (7 $m)) (2 $e "setParamValue" (7 "n" (16 (16 (16 $kept 0) "self") "count"))) 0)");
    const auto editing = runOverCycled(program);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(editing->handleEvent(cycled(), nullptr));
    EXPECT_EQ(outputParameter(*editing, "n"), Value(1.0));
}
