// Whole programs, sent as protocol-buffer entities, against the value or failure code they must
// give (the table is in ConformanceRows.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "measurement/interpreter/ZDMPEventEditing.h"
#include "measurement/interpreter/tests/ConformanceRows.h"
#include "measurement/interpreter/tests/InterpreterTestSupport.h"
#include "measurement/interpreter/tests/ProgramText.h"

using namespace interpreter_test;

namespace {

// 3, 3.0, 'text'
std::string described(const Value& value) {
    if (value.isInteger()) return std::to_string(*value.asInteger());
    if (const std::string* text = value.asString()) return "'" + *text + "'";
    const std::string number = ZDMPUtf8(ZDMPNumberToText(value.realOr(0)));
    return number.find_first_of(".eIN") == std::string::npos ? number + ".0" : number;
}

// name@time{key=value,...} in key order.
std::string described(const ZDMPEvent& event) {
    std::vector<std::string> keys = event.parameters().keys();
    std::sort(keys.begin(), keys.end());
    std::string text = event.name() + "@" + ZDMPUtf8(ZDMPNumberToText(event.timestamp())) + "{";
    for (size_t i = 0; i < keys.size(); ++i)
        text += (i ? "," : "") + keys[i] + "=" + described(*event.parameterForName(keys[i]));
    return text + "}";
}

std::string editingOutcomeOf(const Row& row) {
    const auto program = ZDMPBProgram::initWithBuffer(programBytes({programOf(row)}));
    ZDMPEventEditing editing;
    Error error;
    if (program) editing.loadProgram(*program, &error);
    if (!ZDMPFailed(error))
        editing.handleEvent(ZDMPEvent::initWithName("cycled", 10,
                                                    {{"_c", Value(int64_t{1})},
                                                     {"value", Value(int64_t{3})},
                                                     {"f", Value(1.5)},
                                                     {"x", Value("t")}}),
                            &error);
    if (ZDMPFailed(error)) return "!" + std::to_string(error.code);
    std::string text = described(*editing.eventContext().outputEvent());
    for (const auto& created : editing.eventContext().eventsToLog()) text += " + " + described(*created);
    return text;
}

std::string outcomeOf(const Row& row) {
    if (isEditingRow(row)) return editingOutcomeOf(row);
    std::vector<std::shared_ptr<const ZDMPBRuntimeEntity>> entities;
    for (const Data& bytes : ProgramText(row.program).entities()) entities.push_back(entity(bytes));
    ZDMPRuntime runtime;
    Error error;
    const ZDMPValueRef value = runtime.executeStatements(entities, &error);
    if (ZDMPFailed(error)) return "!" + std::to_string(error.code);
    return ZDMPUtf8(shown(value));
}

TEST(ZDMPConformance, EveryRowGivesItsValueOrFailure) {
    for (const Row& row : kRows) EXPECT_EQ(outcomeOf(row), row.expected) << row.family << ": " << row.program;
}

TEST(ZDMPConformance, EveryFamilyIsPresent) {
    std::set<std::string> families;
    for (const Row& row : kRows)
        families.insert(std::string(row.family).substr(0, std::string(row.family).find(':')));
    for (const char* family : {"conversion", "operator", "equality", "control", "string", "array", "budget",
                               "own rule", "editing"})
        EXPECT_TRUE(families.count(family)) << family;
}

}  // namespace
