// The measurement event: construction rules, flags, the wire form against protoc's bytes, the way
// back from the wire, the per-event counters and the predicates over events.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <string>

#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMEventAggregates.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "testing/CommandOutput.h"

namespace {

Value z(const char* text) {
    return Value(ZDMValue::initWithString(Value(text)));
}
Value z(int64_t v) {
    return Value(ZDMValue::initWithInt64(v));
}
Value zd(double v) {
    return Value(ZDMValue::initWithDouble(v));
}
Value zArray(Value::Array items) {
    return Value(ZDMValue::initWithArray(Value(std::move(items))));
}

class Events : public SharedMonitorFixture {
  protected:
    // protoc's encoding of the text form of an Event, independent of our encoder.
    Data protoc(const std::string& text) {
        const auto input = home_.path() / "event.txtpb";
        std::ofstream(input) << text;
        const std::string dir = MEASUREMENT_WIRE_PROTO_DIR;
        const std::string command = "protoc -I'" + dir + "' --encode=zdmpb.Event '" + dir +
                                    "/upload.proto' < '" + input.string() + "'";
        const std::string out = commandOutput(command);
        const std::string success = "|exit=0";
        EXPECT_TRUE(out.ends_with(success)) << command;
        return Data(out.begin(),
                    out.end() - static_cast<std::ptrdiff_t>(std::min(out.size(), success.size())));
    }
    std::string sampled() {
        const std::string message = lastSampledMessage();
        monitor_->clearMonitoringData();
        return message;
    }
    static std::shared_ptr<ZDMEvent> event(const Dictionary& parameters = {}, double timestamp = 5,
                                           double previous = 0) {
        return ZDMEvent::initWithOrigin("app", false, "purchase", timestamp, previous, parameters);
    }
};

}  // namespace

TEST_F(Events, ConstructionChecksOriginAndName) {
    struct Case {
        const char* origin;
        bool isPublic;
        const char* name;
        bool accepted;
    };
    const Case cases[] = {
        {"auto+ztm", false, "_e", true},
        {"app", false, "_e", true},
        {"abcdefghijklmnopqrstuvwxyzabcdefg", false, "_e", false},  // 33 characters, no "+ztm"
        {"", false, "_e", false},
        {"app", true, "screen_view", true},
        {"app", true, "ad_impression", true},
        {"app", true, "first_open", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.origin) + " " + c.name);
        EXPECT_EQ(ZDMEvent::initWithOrigin(c.origin, c.isPublic, c.name, 5, 0, {}) != nullptr, c.accepted);
    }
    EXPECT_NE(std::find(loggedCodes().begin(), loggedCodes().end(), 13006), loggedCodes().end());

    auto late = ZDMEvent::initWithOrigin("app", false, "_e", 5, 9, {{"_o", z("x")}});
    ASSERT_TRUE(late);
    EXPECT_EQ(sampled(), "W:Event created with previous timestamp after current timestamp");
    EXPECT_EQ(late->parameters()["_o"].objectAs<ZDMValue>()->stringValue(), "app");
    EXPECT_EQ(late->previousTimestamp(), 9);
    EXPECT_FALSE(late->isPublic());
    EXPECT_TRUE(ZDMEvent::initWithOrigin("app", true, "screen_view", 5, 0, {})->isPublic());
    EXPECT_FALSE(ZDMEvent::initWithOrigin("app", true, "screen_view", 5, 0, {})->copy()->isPublic());
    EXPECT_TRUE(ZADERodez::initWithOrigin("app", false, "_e", 5, 0, {}));
}

TEST_F(Events, WireFormIsProtocsEncoding) {
    struct Case {
        double timestamp;
        double previous;
        const char* text;
    };
    const Case cases[] = {
        {1.2345, 0, "name: \"purchase\" timestamp_millis: 1234"},
        {7, 5.0, "name: \"purchase\" timestamp_millis: 7000 previous_timestamp_millis: 5000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto e = event({}, c.timestamp, c.previous);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->protoEvent()->protoBuffer(),
                  protoc(std::string("params { name: \"_o\" string_value: \"app\" } ") + c.text));
    }

    auto items = zArray({Value(Dictionary{{"item_name", z("pen")}, {"quantity", z(2)}}),
                         Value(Dictionary{{"item_name", z("ink")}, {"price", zd(3.5)}})});
    auto withItems = event({{"items", items}});
    ASSERT_TRUE(withItems);
    EXPECT_EQ(
        withItems->protoEvent()->protoBuffer(),
        protoc("params { name: \"items\" params { params { name: \"item_name\" string_value: \"pen\" } "
               "params { name: \"quantity\" int_value: 2 } } params { params { name: \"item_name\" "
               "string_value: \"ink\" } params { name: \"price\" double_value: 3.5 } } } "
               "params { name: \"_o\" string_value: \"app\" } name: \"purchase\" timestamp_millis: 5000"));
}

TEST_F(Events, ItemEntriesThatAreNotValuesOrAreArraysAreSkipped) {
    struct Case {
        Value entry;
        std::string message;
    };
    const Case cases[] = {
        {Value("plain"), "E:Invalid event param value. Event name, param name"},
        {zArray({Value(Dictionary{{"a", z(1)}})}),
         "E:Nested params cannot have more than 1 level. Event name, param name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        auto e = event({{"items", zArray({Value(Dictionary{{"bad", c.entry}, {"good", z(1)}})})}});
        ASSERT_TRUE(e);
        EXPECT_EQ(
            e->protoEvent()->protoBuffer(),
            protoc(
                "params { name: \"items\" params { params { name: \"good\" int_value: 1 } } } "
                "params { name: \"_o\" string_value: \"app\" } name: \"purchase\" timestamp_millis: 5000"));
        EXPECT_EQ(sampled().rfind(c.message, 0), 0u);
    }
}

TEST_F(Events, FromTheWireArraysAreDroppedAndTheOriginIsRequired) {
    auto back = ZDMEvent::initWithEventProto(
        ZDMPBEvent::initWithBuffer(
            protoc("params { name: \"items\" params { params { name: \"a\" int_value: 1 } } } "
                   "params { name: \"v\" double_value: 2.5 } "
                   "params { name: \"_o\" string_value: \"auto\" } name: \"_e\" "
                   "timestamp_millis: 5000 previous_timestamp_millis: 1500"))
            .get());
    ASSERT_TRUE(back);
    EXPECT_EQ(sampled().rfind("W:Unknown event parameter type", 0), 0u);
    EXPECT_EQ(back->origin(), "auto");
    EXPECT_EQ(back->timestamp(), 5.0);
    EXPECT_EQ(back->previousTimestamp(), 1.5);
    EXPECT_FALSE(back->parameters().contains("items"));
    EXPECT_EQ(back->parameters()["v"].objectAs<ZDMValue>()->doubleValue(), 2.5);
    EXPECT_FALSE(back->isPublic());

    EXPECT_EQ(
        ZDMEvent::initWithEventProto(
            ZDMPBEvent::initWithBuffer(protoc("params { name: \"_o\" int_value: 1 } name: \"_e\"")).get()),
        nullptr);
    EXPECT_EQ(
        sampled().rfind("E:Cannot create an event from event proto. Origin parameter is not a string", 0),
        0u);
    EXPECT_EQ(
        ZDMEvent::initWithEventProto(
            ZDMPBEvent::initWithBuffer(protoc("params { name: \"v\" int_value: 1 } name: \"_e\"")).get()),
        nullptr);
}

TEST_F(Events, FlagsLiveInReservedParameters) {
    auto conversion =
        ZDMEvent::initWithOrigin("app", false, "purchase", 5, 0, {{"_c", z(1)}, {"value", zd(9.99)}});
    ASSERT_TRUE(conversion);
    EXPECT_FALSE(conversion->parameters().contains("value"));
    EXPECT_FALSE(conversion->isConversion());
    EXPECT_EQ(conversion->parameters()["_err"].objectAs<ZDMValue>()->int64Value(), 19);
    EXPECT_EQ(conversion->parameters()["_ev"].objectAs<ZDMValue>()->stringValue(), "currency");

    auto valid = event({{"_c", z(1)}, {"value", zd(9.99)}, {"currency", z("EUR")}});
    ASSERT_TRUE(valid && valid->isConversion());
    valid->setConversion(false);
    EXPECT_FALSE(valid->isConversion());
    EXPECT_EQ(valid->parameters()["_err"].objectAs<ZDMValue>()->int64Value(), 10);
    valid->setConversion(true);
    EXPECT_TRUE(valid->isConversion());
    EXPECT_FALSE(valid->parameters().contains("_err"));

    auto realtime = event({{"_r", z("yes")}});
    ASSERT_TRUE(realtime);
    monitor_->clearMonitoringData();
    EXPECT_FALSE(realtime->isRealtime());
    EXPECT_EQ(sampled(), "E:Realtime parameter must be an int64. Event name");
    realtime->setRealtime(true);
    realtime->setDebug(true);
    EXPECT_TRUE(realtime->isRealtime() && realtime->isDebug());
    realtime->setDebug(false);
    EXPECT_FALSE(realtime->parameters().contains("_dbg"));

    auto screen = event({{"_si", z(3)}});
    ASSERT_TRUE(screen);
    const Dictionary before = screen->parameters();
    EXPECT_FALSE(screen->addScreenParameters({{"_si", z(4)}, {"_sn", Value("Home")}}));
    EXPECT_EQ(screen->parameters(), before);
    auto plain = event();
    EXPECT_TRUE(plain->addScreenParameters({{"_si", Value(4)}, {"_sn", Value("Home")}}));
    EXPECT_EQ(plain->parameters()["_sn"].objectAs<ZDMValue>()->stringValue(), "Home");
}

TEST_F(Events, AggregatesCountUpAndWrap) {
    EXPECT_EQ(ZDMEventAggregates::initWithName("_e", -1, 0, 0, 0), nullptr);
    EXPECT_EQ(sampled(), "W:Failed to create event aggregates object. Received negative count.");
    auto aggregates = ZDMEventAggregates::initWithName("_e", std::numeric_limits<int32_t>::max(), 0, 0, 1.5);
    ASSERT_TRUE(aggregates);
    EXPECT_EQ(aggregates->lastSamplingRate(), 1);
    EXPECT_TRUE(aggregates->lastSampledComplexEventID().isNull());
    EXPECT_EQ(aggregates->lastBundledTimestamp(), 0);
    EXPECT_FALSE(aggregates->lastExemptFromSampling());
    aggregates->incrementLifetimeCount();
    EXPECT_EQ(aggregates->lifetimeCount(), 0);
    EXPECT_EQ(sampled(), "W:Lifetime count overflow. Lifetime count reset to 0.");
    aggregates->incrementCurrentBundleCount();
    EXPECT_EQ(aggregates->currentBundleCount(), 1);
}

TEST_F(Events, PredicatesOverEvents) {
    auto twoAndThree =
        event({{"items", zArray({Value(Dictionary{{"a", z(1)}}), Value(Dictionary{{"a", z(2)}})})},
               {"more", zArray({Value(Dictionary{{"b", z(1)}}), Value(Dictionary{{"b", z(2)}}),
                                Value(Dictionary{{"b", z(3)}})})}});
    ASSERT_TRUE(twoAndThree);
    EXPECT_EQ(ZDMEventArrayParameterItemCount(twoAndThree.get()), 5);
    EXPECT_EQ(ZDMEventArrayParameterItemCount(nullptr), 0);
    auto iap = [](int64_t subscription) {
        return ZDMEvent::initWithOrigin("app", false, "_iap", 5, 0, {{"subscription", z(subscription)}});
    };
    EXPECT_TRUE(ZDMIsSubscriptionPurchaseEvent(iap(1).get()));
    EXPECT_FALSE(ZDMIsSubscriptionPurchaseEvent(iap(0).get()));
    EXPECT_TRUE(
        ZDMIsSubscriptionPurchaseEvent(ZDMEvent::initWithOrigin("app", false, "_assc", 5, 0, {}).get()));
    EXPECT_TRUE(ZDMIsErrorEvent(ZDMEvent::initWithOrigin("auto", false, "_err", 5, 0, {}).get()));
    EXPECT_FALSE(ZDMIsErrorEvent(iap(1).get()));
}

// A time no int64 holds in milliseconds is held at the nearest bound instead of being converted
// with undefined behaviour.
TEST_F(Events, TimesBeyondTheWireRangeAreHeldAtItsBounds) {
    struct Case {
        double timestamp;
        int64_t millis;
    };
    const Case cases[] = {
        {1e300, std::numeric_limits<int64_t>::max()},
        {-1e300, std::numeric_limits<int64_t>::min()},
        {std::nan(""), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timestamp);
        auto e = event({}, c.timestamp);
        ASSERT_TRUE(e);
        EXPECT_EQ(ZDMPBGetInt64(e->protoEvent().get(), 2), c.millis);
    }
}
