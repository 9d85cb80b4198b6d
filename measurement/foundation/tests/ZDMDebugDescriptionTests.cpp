#include <gtest/gtest.h>

#include "measurement/foundation/ZDMDebugDescription.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "measurement/foundation/tests/ParameterHelpers.h"
#include "platform/foundation/Runtime.h"

namespace {

class DebugDescription : public SharedMonitorFixture {
  protected:
    ~DebugDescription() override { Runtime::unregisterClass("VUZArezivodo"); }
    void debugView() {
        monitor_->setDebugModeEnabled(true);
        Runtime::registerClass("VUZArezivodo");
    }
};

TEST_F(DebugDescription, InternalNamesShowTheirPublicNamesOnlyInDebugMode) {
    struct Case {
        std::string (*describe)(const Value&);
        Value name;
        std::string plain;
        std::string debug;
    };
    const Case cases[] = {
        {ZDMEventNameForLog, Value("_vs"), "_vs", "screen_view (_vs)"},
        {ZDMEventNameForLog, Value("_cmp"), "_cmp", "za_campaign (_cmp)"},
        {ZDMEventNameForLog, Value("_unknown"), "_unknown", "_unknown"},
        {ZDMEventNameForLog, Value("purchase"), "purchase", "purchase"},
        {ZDMEventNameForLog, Value(7), "7", "7"},
        {ZDMParameterNameForLog, Value("_err"), "_err", "za_error (_err)"},
        {ZDMParameterNameForLog, Value("_ffr"), "_ffr", "zudedaro_feature_rollouts (_ffr)"},
        {ZDMUserPropertyNameForLog, Value("_exp_12"), "experiment_id (_exp_12)", "experiment_id (_exp_12)"},
        {ZDMUserPropertyNameForLog, Value("_id"), "_id", "user_id (_id)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.describe(c.name), c.plain) << c.plain;
    monitor_->setDebugModeEnabled(true);
    EXPECT_EQ(ZDMEventNameForLog(Value("_vs")), "_vs");  // debug mode alone is not enough
    debugView();
    for (const auto& c : cases) EXPECT_EQ(c.describe(c.name), c.debug) << c.plain;
}

TEST_F(DebugDescription, ParametersAreListedSortedInDebugMode) {
    const Value parameters(
        Dictionary{{"b", measurementValue(1)}, {"_err", measurementValue(5)}, {"A", measurementValue("x")}});
    EXPECT_EQ(ZDMParametersDescriptionForLog(parameters), ZDMDescription(parameters));

    debugView();
    EXPECT_EQ(ZDMParametersDescriptionForLog(parameters),
              "{\n    A = x;\n    b = 1;\n    za_error (_err) = ParameterLimitReached (5);\n}");
    EXPECT_EQ(ZDMParametersDescriptionForLog(Value(Dictionary{{"_err", measurementValue(26)}})),
              "{\n    za_error (_err) = 26;\n}");
    EXPECT_EQ(ZDMParametersDescriptionForLog(Value("text")), "text");

    const Value withItems(Dictionary{{"items", measurementValue(Value(Value::Array{
                                                   Value(Dictionary{{"item_id", "a"}}),
                                                   Value(Dictionary{{"price", 2}, {"Item_name", "n"}})}))}});
    EXPECT_EQ(ZDMParametersDescriptionForLog(withItems),
              "{\n    items = [\n    {\n        item_id = a;\n    },\n    {\n        Item_name = n;\n        "
              "price = "
              "2;\n    }\n    ];\n}");
}

}  // namespace
