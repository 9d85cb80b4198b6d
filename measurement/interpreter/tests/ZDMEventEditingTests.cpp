// The measurement event handed to the interpreter and taken back: names, origin and plain values.
#include <gtest/gtest.h>

#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/interpreter/ZDMEventEditing.h"
#include "measurement/interpreter/ZDMPEvent.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

class EventEditing : public ::testing::Test {
  protected:
    EventEditing() { resetAllForTesting(); }
    ~EventEditing() override { resetAllForTesting(); }
    TestHome home_;
};

Value z(const char* text) {
    return Value(ZDMValue::initWithString(Value(text)));
}

}  // namespace

TEST_F(EventEditing, ScreenViewGoesOutUnderItsPublicNameAndComesBackUnderItsInternalOne) {
    const Value items(ZDMValue::initWithArray(Value(Value::Array{Value(Dictionary{
        {"item_name", z("pen")},
        {"nested", Value(ZDMValue::initWithArray(Value(Value::Array{Value(Dictionary{{"a", z("b")}})})))},
    })})));
    auto event = ZDMEvent::initWithOrigin(
        "auto", false, "_vs", 12.5, 3,
        {{"_sn", z("Home")}, {"_si", Value(ZDMValue::initWithInt64(4))}, {"items", items}});
    ASSERT_TRUE(event);
    auto edit = ZDMEventEditEvent(*event);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->name(), "screen_view");
    EXPECT_EQ(edit->timestamp(), 12.5);
    EXPECT_EQ(edit->parameters()["_sn"], Value("Home"));
    EXPECT_EQ(edit->parameters()["_si"], Value(4));
    EXPECT_EQ(edit->parameters()["_o"], Value("auto"));
    EXPECT_EQ(edit->parameters()["items"],
              Value(Value::Array{Value(Dictionary{{"item_name", Value("pen")}})}));

    auto back = ZDMEventFromEditEvent(*edit);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name(), "_vs");
    EXPECT_EQ(back->origin(), "auto");
    EXPECT_EQ(back->previousTimestamp(), 0);
    EXPECT_FALSE(back->isPublic());
    EXPECT_EQ(back->parameters()["_si"].objectAs<ZDMValue>()->int64Value(), 4);
}

TEST_F(EventEditing, OriginComesFromTheOParameterElseApp) {
    struct Case {
        Dictionary parameters;
        const char* origin;
    };
    const Case cases[] = {
        {{{"x", Value(1)}}, "app"},
        {{{"_o", Value("za")}}, "za"},
        {{{"_o", Value(7)}}, "app"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.origin);
        auto back = ZDMEventFromEditEvent(*ZDMPEvent::initWithName("my_event", 5, c.parameters));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->origin(), c.origin);
        EXPECT_EQ(back->name(), "my_event");
    }
}
