#include <gtest/gtest.h>

#include <memory>

#include "MonitorFixture.h"
#include "measurement/foundation/ZDMDescription.h"
#include "measurement/foundation/ZDMNameMaps.h"
#include "measurement/foundation/ZDMValue.h"

namespace {

using ValueTests = SharedMonitorFixture;

TEST_F(ValueTests, TypeFollowsHowTheNumberIsHeld) {
    struct Case {
        Value object;
        int64_t type;
    };
    const Case cases[] = {
        {Value(2.0), ZDMValue::kTypeDouble},    {Value(2), ZDMValue::kTypeInt64},
        {Value(true), ZDMValue::kTypeInt64},    {Value(uint8_t{7}), ZDMValue::kTypeInt64},
        {Value("text"), ZDMValue::kTypeString},
    };
    for (const auto& c : cases) {
        const auto value = ZDMValue::valueFromObject(c.object);
        ASSERT_TRUE(value) << ZDMDescription(c.object);
        EXPECT_EQ(value->valueType(), c.type) << ZDMDescription(c.object);
    }
    EXPECT_EQ(ZDMValue::valueFromObject(Value(true))->int64Value(), 1);
    EXPECT_EQ(ZDMValue::valueFromObject(Value(2.0))->doubleValue(), 2.0);
}

TEST_F(ValueTests, RefusedObjectsAreLoggedAndAnswerNothing) {
    const Value array(Value::Array{Value(Dictionary{{"item_id", "a"}})});
    EXPECT_FALSE(ZDMValue::valueFromObject(array));
    EXPECT_FALSE(ZDMValue::valueFromObject(array, false));
    EXPECT_FALSE(ZDMValue::valueFromObject(Value()));
    EXPECT_FALSE(ZDMValue::valueFromObject(Value(Data{1, 2})));
    EXPECT_FALSE(ZDMValue::initWithString(Value(5)));
    EXPECT_FALSE(ZDMValue::initWithString(Value()));
    EXPECT_FALSE(ZDMValue::initWithArray(Value("x")));
    EXPECT_FALSE(ZDMValue::initWithArray(Value()));
    EXPECT_EQ(loggedCodes(), (std::vector<int64_t>{35001, 35001, 35000, 35001, 35003, 35002, 35005, 35004}));

    const auto allowed = ZDMValue::valueFromObject(array, true);
    ASSERT_TRUE(allowed);
    EXPECT_TRUE(allowed->isArray());
    ASSERT_TRUE(allowed->arrayValue());
    EXPECT_EQ(*allowed->arrayValue(), *array.asArray());
}

TEST_F(ValueTests, AValueIsAnsweredAsTheSameObject) {
    const auto value = ZDMValue::initWithInt64(5);
    EXPECT_EQ(ZDMValue::valueFromObject(Value(std::static_pointer_cast<const Object>(value))), value);
    const auto connectorValue = ZUDAValue::initWithValueType(ZDMValue::kTypeInt64, 5);
    EXPECT_EQ(ZDMValue::valueFromObject(Value(std::static_pointer_cast<const Object>(connectorValue))),
              connectorValue);
}

TEST_F(ValueTests, GettersDoNotConvertBetweenTypes) {
    const auto integer = ZDMValue::initWithInt64(5);
    EXPECT_EQ(integer->doubleValue(), 0.0);
    EXPECT_FALSE(integer->stringValue());
    EXPECT_FALSE(integer->arrayValue());
    EXPECT_TRUE(integer->isInt64());
    EXPECT_FALSE(integer->isDouble() || integer->isString() || integer->isArray());
    const auto text = ZDMValue::initWithString(Value("5"));
    EXPECT_EQ(text->int64Value(), 0);
    EXPECT_EQ(text->stringValue(), "5");
}

TEST_F(ValueTests, EqualityNeedsTheSameClassTypeAndContent) {
    const auto five = ZDMValue::initWithInt64(5);
    const auto otherFive = ZDMValue::initWithInt64(5);
    EXPECT_TRUE(five->isEqual(*otherFive));
    EXPECT_EQ(five->hash(), otherFive->hash());
    EXPECT_FALSE(five->isEqual(*ZDMValue::initWithDouble(5.0)));
    EXPECT_FALSE(five->isEqual(*ZDMValue::initWithInt64(6)));
    EXPECT_FALSE(ZDMValue::initWithString(Value("5"))->isEqual(*five));

    const auto connectorFive = ZUDAValue::initWithValueType(ZDMValue::kTypeInt64, 5);
    EXPECT_FALSE(five->isEqual(*connectorFive));
    EXPECT_FALSE(connectorFive->isEqual(*five));
    EXPECT_EQ(connectorFive->className(), "ZUDAValue");

    // A copy is always a plain value, so a connector value's copy compares equal again.
    const auto copied = connectorFive->copy();
    EXPECT_EQ(copied->className(), "ZDMValue");
    EXPECT_TRUE(copied->isEqual(*five));
}

TEST_F(ValueTests, ArraysCompareByTheirItems) {
    const auto item = [](const char* id) {
        Dictionary item;
        item.set("item_id", Value(id));
        item.set("price", Value(std::static_pointer_cast<const Object>(ZDMValue::initWithDouble(1.5))));
        return Value(std::move(item));
    };
    const auto a = ZDMValue::initWithArray(Value(Value::Array{item("a")}));
    EXPECT_TRUE(a->isEqual(*ZDMValue::initWithArray(Value(Value::Array{item("a")}))));
    EXPECT_FALSE(a->isEqual(*ZDMValue::initWithArray(Value(Value::Array{item("b")}))));
}

TEST(NameMaps, HoldExactlyTheReservedNames) {
    const Dictionary& properties = ZDMPublicToInternalUserPropertyNameMap();
    EXPECT_EQ(properties.size(), 10u);
    EXPECT_EQ(properties["first_open_time"], Value("_fot"));
    EXPECT_EQ(properties["user_id"], Value("_id"));
    EXPECT_EQ(&properties, &ZDMPublicToInternalUserPropertyNameMap());

    const Dictionary& parameters = ZDMPublicToInternalParameterNameMap();
    EXPECT_EQ(parameters.size(), 54u);
    int twins = 0;
    for (const auto& [name, internal] : parameters) {
        if (!name.starts_with("zudedaro_") || name == "zudedaro_feature_rollouts") continue;
        EXPECT_EQ(parameters["za_" + name.substr(9)], internal) << name;
        ++twins;
    }
    EXPECT_EQ(twins, 13);
    EXPECT_FALSE(parameters.contains("za_feature_rollouts"));
    EXPECT_EQ(parameters["ad_event_id"], Value("_aeid"));
    EXPECT_EQ(parameters["update_with_analytics"], Value("_uwa"));
}

}  // namespace
