// Event counters, user properties and conditional user properties on a real sqlite file and the
// manual clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measurement/foundation/ZDMConditionalUserProperty.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMEventAggregates.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/DatabaseFixture.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"

namespace {

std::shared_ptr<const ZDMValue> text(const std::string& value) {
    return ZDMValue::initWithString(Value(value));
}

std::shared_ptr<ZDMUserAttribute> attribute(const std::string& name, std::shared_ptr<const ZDMValue> value,
                                            double setTime = 10, const std::string& origin = "app") {
    auto made = ZDMUserAttribute::initWithOrigin(origin, name, std::move(value), setTime);
    EXPECT_TRUE(made) << name;
    return made;
}

// A record that skipped the initialiser's checks, as a careless caller could make one.
struct UncheckedAttribute : ZDMUserAttribute {
    UncheckedAttribute(std::string origin, std::string name, std::shared_ptr<const ZDMValue> value)
        : ZDMUserAttribute(std::move(origin), std::move(name), std::move(value), 1) {}
};

std::vector<std::string> namesOf(const auto& records) {
    std::vector<std::string> names;
    for (const auto& record : records) names.push_back(record->name());
    return names;
}

std::shared_ptr<ZDMConditionalUserProperty> conditional(const std::string& name, double created,
                                                        double timeout = 100) {
    auto property = std::make_shared<ZDMConditionalUserProperty>();
    property->setName(name);
    property->setOrigin("app");
    property->setValue(text("on"));
    property->setCreationTimestamp(created);
    property->setTriggerTimeout(timeout);
    property->setTimeToLive(100);
    return property;
}

std::shared_ptr<ZDMEvent> event(const std::string& name) {
    return ZDMEvent::initWithOrigin("app", false, name, 5, 0, Dictionary{{"level", Value(int64_t{3})}});
}

using Properties = Database;

TEST_F(Properties, EventsRowFromBeforeTheAddOnColumnsReadsWithTheirDefaults) {
    auto database = open();
    RawFile(path()).exec(
        "INSERT INTO events (name, lifetime_count, current_bundle_count, last_fire_timestamp) "
        "VALUES ('_e', 3, 2, 1.5)");
    Error error;
    const auto aggregates = database->eventAggregatesWithName("_e", &error);
    ASSERT_TRUE(aggregates) << error.description;
    EXPECT_EQ(aggregates->lifetimeCount(), 3);
    EXPECT_EQ(aggregates->currentBundleCount(), 2);
    EXPECT_EQ(aggregates->lastFireTimestamp(), 1.5);
    EXPECT_EQ(aggregates->lastSamplingRate(), 1);
    EXPECT_EQ(aggregates->currentSessionCount(), 0);
    EXPECT_TRUE(aggregates->lastSampledComplexEventID().isNull());
    EXPECT_FALSE(aggregates->lastExemptFromSampling());
    EXPECT_EQ(aggregates->lastBundledDay(), 0);
    EXPECT_EQ(aggregates->lastBundledTimestamp(), 0.0);
    EXPECT_FALSE(database->eventAggregatesWithName("missing", &error));
}

TEST_F(Properties, EventAggregatesRoundTripAndOnlyPublicNamesAreCounted) {
    auto database = open();
    auto written = ZDMEventAggregates::initWithName("a_b", 4, 1, 2, 9.5);
    written->setLastSampledComplexEventID(Value(int64_t{77}));
    written->setLastSamplingRate(10);
    written->setLastExemptFromSampling(true);
    written->setLastBundledDay(20000);
    written->setLastBundledTimestamp(8.25);
    Error error;
    ASSERT_TRUE(database->updateEventAggregates(written.get(), &error)) << error.description;
    ASSERT_TRUE(database->updateEventAggregates(ZDMEventAggregates::initWithName("_x", 1, 1, 1, 1).get()));
    ASSERT_TRUE(database->updateEventAggregates(ZDMEventAggregates::initWithName("_y", 1, 1, 1, 1).get()));
    EXPECT_EQ(database->publicEventCount(), 1);

    const auto read = database->eventAggregatesWithName("a_b");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->lastSampledComplexEventID(), Value(int64_t{77}));
    EXPECT_EQ(read->lastSamplingRate(), 10);
    EXPECT_TRUE(read->lastExemptFromSampling());
    EXPECT_EQ(read->lastBundledDay(), 20000);
    EXPECT_EQ(read->lastBundledTimestamp(), 8.25);
    EXPECT_EQ(read->currentSessionCount(), 2);

    ASSERT_TRUE(database->clearCurrentSessionCounts());
    const auto all = database->allEventAggregates();
    ASSERT_TRUE(all);
    EXPECT_EQ(namesOf(*all), (std::vector<std::string>{"a_b", "_x", "_y"}));
    for (const auto& aggregates : *all) EXPECT_EQ(aggregates->currentSessionCount(), 0);

    EXPECT_FALSE(database->updateEventAggregates(nullptr, &error));
    EXPECT_EQ(error.description,
              "Received empty event aggregates object for getting dictionary representation");
}

TEST_F(Properties, UserPropertiesReadBackWithTheTypeTheyWereWrittenWith) {
    struct Case {
        const char* name;
        std::shared_ptr<const ZDMValue> value;
        int64_t type;
        const char* storedType;
    };
    const Case cases[] = {{"d", ZDMValue::initWithDouble(2.5), ZDMValue::kTypeDouble, "real"},
                          {"i", ZDMValue::initWithInt64(7), ZDMValue::kTypeInt64, "integer"},
                          {"s", text("blue"), ZDMValue::kTypeString, "text"}};
    auto database = open();
    RawFile file(path());
    for (const Case& c : cases) {
        Error error;
        ASSERT_TRUE(database->updateUserAttribute(attribute(c.name, c.value).get(), &error))
            << error.description;
        const auto read = database->userAttributeWithName(c.name);
        ASSERT_TRUE(read) << c.name;
        EXPECT_EQ(read->value()->valueType(), c.type) << c.name;
        EXPECT_TRUE(read->value()->isEqual(*c.value)) << c.name;
        EXPECT_EQ(read->origin(), "app");
        EXPECT_EQ(
            file.rows(std::string("SELECT typeof(value) FROM user_attributes WHERE name = '") + c.name + "'"),
            std::vector<std::string>{c.storedType});
    }
    EXPECT_EQ(database->containsUserAttributeWithName("s"), true);
    EXPECT_EQ(database->userAttributeCountForOrigin("app"), 3);
    ASSERT_TRUE(database->deleteUserAttributeWithName("s"));
    EXPECT_EQ(database->containsUserAttributeWithName("s"), false);
    EXPECT_FALSE(database->userAttributeWithName("s"));
}

TEST_F(Properties, RowWithoutAnOriginReadsWithAnEmptyOne) {
    auto database = open();
    RawFile(path()).exec("INSERT INTO user_attributes (name, set_timestamp, value) VALUES ('old', 3.0, 'x')");
    const auto read = database->userAttributeWithName("old");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->origin(), "");
    EXPECT_EQ(read->value()->stringValue(), "x");
}

TEST_F(Properties, UserPropertyTableHoldsAThousandNames) {
    auto database = open();
    ASSERT_TRUE(database->performTransaction([&] {
        for (int i = 0; i < 1000; ++i)
            if (!database->updateUserAttribute(
                    attribute("p" + std::to_string(i), ZDMValue::initWithInt64(i)).get()))
                return false;
        return true;
    }));
    Error error;
    EXPECT_FALSE(database->updateUserAttribute(attribute("p1000", ZDMValue::initWithInt64(1)).get(), &error));
    EXPECT_EQ(error.description, "Failed to insert data type. Table is full");
    EXPECT_TRUE(database->updateUserAttribute(attribute("p7", ZDMValue::initWithInt64(70)).get()));
    EXPECT_EQ(database->userAttributeWithName("p7")->value()->int64Value(), 70);
}

TEST_F(Properties, WritingAUserPropertyChecksItsParts) {
    struct Case {
        std::shared_ptr<ZDMUserAttribute> attribute;
        int64_t code;
        const char* description;
    };
    const Case cases[] = {
        {nullptr, 3, "Received empty user property for getting dictionary representation"},
        {std::make_shared<UncheckedAttribute>("", "n", text("x")), 3,
         "Received user property with empty origin for getting dictionary representation"},
        {std::make_shared<UncheckedAttribute>("app", "", text("x")), 1,
         "Received user property with empty name for getting dictionary representation"},
        {std::make_shared<UncheckedAttribute>("app", "n", text("")), 1,
         "Received empty string value for user property"},
    };
    auto database = open();
    for (const Case& c : cases) {
        Error error;
        EXPECT_FALSE(database->updateUserAttribute(c.attribute.get(), &error));
        EXPECT_EQ(error.code, c.code) << c.description;
        EXPECT_EQ(error.description, c.description);
    }
    EXPECT_EQ(RawFile(path()).rows("SELECT count(*) FROM user_attributes"), std::vector<std::string>{"0"});
    Error error;
    EXPECT_FALSE(database->userAttributeCountForOrigin("", &error));
    EXPECT_EQ(error.description, "Received empty user property origin for count query");
    EXPECT_FALSE(database->containsUserAttributeWithName("", &error));
    EXPECT_EQ(error.description, "Received empty user property name for exists query");
}

TEST_F(Properties, ListingWithoutInternalOnesLeavesOutReservedNames) {
    auto database = open();
    for (const char* name : {"_fot", "color", "za_x", "first_open_time"})
        ASSERT_TRUE(database->updateUserAttribute(attribute(name, text("v")).get())) << name;
    EXPECT_EQ(namesOf(*database->userAttributesIncludingInternal(false)), std::vector<std::string>{"color"});
    EXPECT_EQ(namesOf(*database->userAttributesIncludingInternal(true)),
              (std::vector<std::string>{"_fot", "color", "za_x", "first_open_time"}));
    EXPECT_EQ(database->publicUserAttributeCount(), 3);
}

// "_" is a wildcard of sqlite's LIKE; the lifetime-value prefix and a caller's prefix or origin are
// matched literally.
TEST_F(Properties, LikePatternsMatchTheirTextLiterally) {
    auto database = open();
    const std::pair<const char*, double> lifetime[] = {
        {"_ltv_USD", 10}, {"_ltv_EUR", 20}, {"altv_x", 30}, {"xltvyUSD", 40}};
    for (const auto& [name, time] : lifetime)
        ASSERT_TRUE(
            database->updateUserAttribute(attribute(name, ZDMValue::initWithDouble(1.5), time).get()));
    const auto values = database->allLifetimeValueUserAttributes();
    ASSERT_TRUE(values);
    EXPECT_EQ(namesOf(*values), (std::vector<std::string>{"_ltv_EUR", "_ltv_USD"}));

    const std::pair<const char*, const char*> properties[] = {
        {"a_b", "app"}, {"ab", "app"}, {"other", "%"}, {"third", "auto"}};
    for (const auto& [name, origin] : properties) {
        auto property = conditional(name, 1);
        property->setOrigin(origin);
        ASSERT_TRUE(database->updateConditionalUserProperty(property.get()));
    }
    struct Case {
        const char* prefix;
        const char* origin;
        std::vector<std::string> names;
    };
    const Case cases[] = {{"a_", "", {"a_b"}},
                          {"", "%", {"other"}},
                          {"A", "APP", {"a_b", "ab"}},
                          {"", "", {"a_b", "ab", "other", "third"}}};
    for (const Case& c : cases) {
        Error error;
        const auto found = database->conditionalUserPropertiesWithPrefix(c.prefix, c.origin, &error);
        ASSERT_TRUE(found) << error.description;
        EXPECT_EQ(namesOf(*found), c.names) << "prefix " << c.prefix << ", origin " << c.origin;
    }
}

TEST_F(Properties, UserAttributeRecordChecksItsNameAndValue) {
    EXPECT_FALSE(ZDMUserAttribute::initWithOrigin("auto", "_fot", text(std::string(37, 'x')), 1));
    EXPECT_TRUE(ZDMUserAttribute::initWithOrigin("auto", "_id", text(std::string(256, 'x')), 1));
    EXPECT_FALSE(ZDMUserAttribute::initWithOrigin("auto", std::string(25, 'n'), text("x"), 1));
    EXPECT_FALSE(attribute("_fot", ZDMValue::initWithInt64(1))->isPublic());
    EXPECT_TRUE(attribute("color", text("x"))->isPublic());
    EXPECT_FALSE(UncheckedAttribute("app", "", text("x")).isPublic());
    EXPECT_TRUE(ZUDAUserAttribute::initWithOrigin("app", "color", text("x"), 1));
}

TEST_F(Properties, WireFormCarriesMillisecondsAndOneValueField) {
    struct Case {
        std::shared_ptr<const ZDMValue> value;
        Data bytes;
    };
    // set_timestamp_millis 1234 (08 d2 09), name "x" (12 01 78), then the value field.
    const Data head{0x08, 0xd2, 0x09, 0x12, 0x01, 0x78};
    auto with = [&head](std::initializer_list<uint8_t> tail) {
        Data bytes = head;
        bytes.insert(bytes.end(), tail);
        return bytes;
    };
    const Case cases[] = {
        {ZDMValue::initWithInt64(5), with({0x20, 0x05})},
        {text("y"), with({0x1a, 0x01, 0x79})},
        {ZDMValue::initWithDouble(0.5), with({0x31, 0, 0, 0, 0, 0, 0, 0xe0, 0x3f})},
        {ZDMValue::initWithArray(Value(Value::Array{})), head},
    };
    for (const Case& c : cases) {
        const auto wire = attribute("x", c.value, 1.2345)->protoUserAttribute();
        EXPECT_EQ(ZDMPBGetInt64(wire.get(), 0), 1234);
        EXPECT_EQ(wire->protoBuffer(), c.bytes) << c.value->description();
    }
}

TEST_F(Properties, ConditionalPropertyRowsKeepOnlyWhatTheRecordHolds) {
    auto database = open();
    auto property = conditional("cp", 50);
    property->setTimedOutEvent(event("_cpto"));
    property->setTriggeredEvent(event("_cptr"));
    Error error;
    ASSERT_TRUE(database->updateConditionalUserProperty(property.get(), &error)) << error.description;
    RawFile file(path());
    EXPECT_EQ(file.rows("SELECT trigger_event_name IS NULL, timed_out_event IS NULL, expired_event IS NULL "
                        "FROM conditional_properties"),
              std::vector<std::string>{"1|0|1"});
    const auto read = database->conditionalUserPropertyWithName("cp");
    ASSERT_TRUE(read);
    ASSERT_TRUE(read->timedOutEvent());
    EXPECT_EQ(read->timedOutEvent()->name(), "_cpto");
    EXPECT_EQ(read->timedOutEvent()->parameters()["level"].objectAs<ZDMValue>()->int64Value(), 3);
    EXPECT_EQ(read->triggeredEvent()->name(), "_cptr");
    EXPECT_FALSE(read->expiredEvent());
    EXPECT_EQ(read->triggerEventName(), "");
    EXPECT_EQ(read->value()->stringValue(), "on");

    property->setTimedOutEvent(nullptr);
    property->setTriggerEventName("level_up");
    ASSERT_TRUE(database->updateConditionalUserProperty(property.get()));
    EXPECT_EQ(file.rows("SELECT trigger_event_name, timed_out_event IS NULL FROM conditional_properties"),
              std::vector<std::string>{"level_up|1"});

    // A stored event that does not decode makes the row unreadable, not a property without it.
    file.exec("UPDATE conditional_properties SET expired_event = x'0aff'");
    EXPECT_FALSE(database->conditionalUserPropertyWithName("cp"));
    EXPECT_FALSE(database->conditionalUserPropertiesWithPrefix("", ""));
    ASSERT_TRUE(database->deleteConditionalUserPropertyWithName("cp"));
    EXPECT_EQ(file.rows("SELECT count(*) FROM conditional_properties"), std::vector<std::string>{"0"});
}

TEST_F(Properties, WritingAConditionalPropertyChecksItsParts) {
    struct Case {
        void (*spoil)(ZDMConditionalUserProperty&);
        const char* description;
    };
    const Case cases[] = {
        {[](ZDMConditionalUserProperty& p) { p.setName(""); },
         "Received conditional user property with empty name for getting dictionary representation"},
        {[](ZDMConditionalUserProperty& p) { p.setOrigin(""); },
         "Received conditional user property with empty origin for getting dictionary representation"},
        {[](ZDMConditionalUserProperty& p) { p.setValue(nullptr); },
         "Received conditional user property with nil value for getting dictionary representation"},
    };
    auto database = open();
    for (const Case& c : cases) {
        auto property = conditional("cp", 1);
        c.spoil(*property);
        Error error;
        EXPECT_FALSE(database->updateConditionalUserProperty(property.get(), &error));
        EXPECT_EQ(error.code, 3);
        EXPECT_EQ(error.description, c.description);
    }
    Error error;
    EXPECT_FALSE(database->updateConditionalUserProperty(nullptr, &error));
    EXPECT_EQ(error.description,
              "Received empty conditional user property for getting dictionary representation");
    EXPECT_FALSE(database->conditionalUserPropertiesWithCondition("", {}, &error));
    EXPECT_EQ(error.description, "Received empty condition for querying a conditional user property");
    EXPECT_FALSE(database->triggeredConditionalUserPropertiesWithEventName("", &error));
    EXPECT_EQ(error.description,
              "Received nil/empty event name for querying triggered conditional user properties");
}

// Times are measured either way from now: a creation time in the future beyond the timeout is as
// stale as one in the past.
TEST_F(Properties, ConditionQueriesMeasureFromNowOnTheClock) {
    auto database = open();
    const double now = clock_->now();
    for (auto property : {conditional("future", now + 150), conditional("past", now - 150),
                          conditional("edge", now - 100), conditional("fresh", now - 10)}) {
        property->setTriggerEventName("level_up");
        ASSERT_TRUE(database->updateConditionalUserProperty(property.get()));
    }
    auto lived = conditional("lived", now - 500);
    lived->setActive(true);
    lived->setTriggeredTimestamp(now - 101);
    auto living = conditional("living", now - 500);
    living->setActive(true);
    living->setTriggeredTimestamp(now - 100);
    ASSERT_TRUE(database->updateConditionalUserProperty(lived.get()));
    ASSERT_TRUE(database->updateConditionalUserProperty(living.get()));

    EXPECT_EQ(namesOf(*database->timedOutConditionalUserPropertiesWithError()),
              (std::vector<std::string>{"future", "past"}));
    EXPECT_EQ(namesOf(*database->triggeredConditionalUserPropertiesWithEventName("level_up")),
              (std::vector<std::string>{"edge", "fresh"}));
    EXPECT_EQ(namesOf(*database->triggeredConditionalUserPropertiesWithEventName("other")),
              std::vector<std::string>{});
    EXPECT_EQ(namesOf(*database->expiredConditionalUserPropertiesWithError()),
              std::vector<std::string>{"lived"});
    clock_->advance(1);
    EXPECT_EQ(namesOf(*database->expiredConditionalUserPropertiesWithError()),
              (std::vector<std::string>{"lived", "living"}));
}

}  // namespace
