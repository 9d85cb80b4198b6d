// Storing the server's audience definitions: the checks, the limits, the renames and the purge of
// stale result rows, on a real database file.
#include <gtest/gtest.h>

#include <set>

#include "AudienceFixture.h"
#include "measurement/foundation/ZDMEventFilter.h"
#include "measurement/foundation/ZDMPropertyFilter.h"

namespace {

using Definitions = AudienceFixture;

Proto exactText(const std::string& name) {
    return parameterFilter(name, withString(stringFilter(5, "x")));
}

std::vector<Proto> parameters(size_t count) {
    std::vector<Proto> out;
    for (size_t i = 0; i < count; ++i) out.push_back(exactText("p" + std::to_string(i)));
    return out;
}

std::vector<EventFilterSpec> eventFilters(int32_t count) {
    std::vector<EventFilterSpec> out;
    for (int32_t id = 0; id < count; ++id) out.push_back({.id = id});
    return out;
}

TEST_F(Definitions, EachMalformedAudienceNamesItsFirstFault) {
    struct Case {
        const char* what;
        Proto audience;
        int64_t code;
        const char* description;
    };
    const auto audience = [](int32_t id, const std::vector<EventFilterSpec>& events,
                             const std::vector<PropertyFilterSpec>& properties = {}) {
        Proto out = Proto().varint(1, static_cast<uint64_t>(static_cast<int64_t>(id)));
        for (const auto& property : properties) out.message(2, property.proto());
        for (const auto& event : events) out.message(3, event.proto());
        return out;
    };
    const Proto floatCount = Proto().varint(1, 1).varint(2, 1).text(3, "2");
    const Proto noComparison = Proto().text(3, "2");
    const Proto invalidNumber = withNumber(Proto().varint(1, 1).text(3, "two"));
    const Proto invalidString = withString(Proto().varint(1, 5));
    const Proto both = Proto(withString(stringFilter(5, "x"))).message(2, numberFilter(1, "3"));
    const Case cases[] = {
        {"no ID", Proto().message(3, EventFilterSpec{}.proto()), 9, "Missing audience ID"},
        {"negative ID", audience(-1, {{}}), 9, "Audience ID is negative"},
        {"seen ID", audience(7, {{}}), 9, "Duplicate audience ID"},
        {"no filters", audience(1, {}), 9, "Audience filter count out of range"},
        {"eleven filters", audience(1, eventFilters(11)), 9, "Audience filter count out of range"},
        {"no event name", audience(1, {{.name = ""}}), 10, "Event filter missing event name"},
        {"no event filter ID", Proto().varint(1, 1).message(3, Proto().text(2, "cycled")), 10,
         "Missing event filter ID"},
        {"event filter ID at the limit", audience(1, {{.id = 10}}), 10, "Event filter ID is out of range"},
        {"negative event filter ID", audience(1, {{.id = -1}}), 10, "Event filter ID is out of range"},
        {"event filter ID twice", audience(1, {{.id = 2}, {.id = 2}}), 10, "Duplicate event filter ID"},
        {"float count", Proto().varint(1, 1).message(3, EventFilterSpec{}.proto().message(5, floatCount)), 10,
         "Event filter has float event count filter"},
        {"count without comparison",
         Proto().varint(1, 1).message(3, EventFilterSpec{}.proto().message(5, noComparison)), 10,
         "Event filter has invalid event count filter"},
        {"26 parameters", audience(1, {{.parameters = parameters(26)}}), 10,
         "Event filter parameters filters count out of range"},
        {"parameter without name", audience(1, {{.parameters = {withString(stringFilter(5, "x"))}}}), 10,
         "Event filter missing parameter name"},
        {"parameter with both", audience(1, {{.parameters = {parameterFilter("p", both)}}}), 10,
         "Event filter must have exactly one of number or string filter"},
        {"parameter with neither", audience(1, {{.parameters = {Proto().text(4, "p")}}}), 10,
         "Event filter must have exactly one of number or string filter"},
        {"parameter number", audience(1, {{.parameters = {parameterFilter("p", invalidNumber)}}}), 10,
         "Event filter has invalid number filter"},
        {"parameter string", audience(1, {{.parameters = {parameterFilter("p", invalidString)}}}), 10,
         "Event filter has invalid string filter"},
        {"no property name", audience(1, {}, {{.name = ""}}), 11, "Property filter missing property name"},
        {"no property filter ID",
         Proto().varint(1, 1).message(
             2, Proto().text(2, "color").message(3, withString(stringFilter(5, "red")))),
         11, "Missing property filter ID"},
        {"property filter ID at the limit", audience(1, {}, {{.id = 10}}), 11,
         "Property filter ID is out of range"},
        {"property reuses an event filter ID", audience(1, {{.id = 4}}, {{.id = 4}}), 11,
         "Duplicate property filter ID"},
        {"no value filter", Proto().varint(1, 1).message(2, Proto().varint(1, 1).text(2, "color")), 11,
         "Property filter has no filter"},
        {"value filter with both", audience(1, {}, {{.filter = both}}), 11,
         "Property filter must have exactly one of number or string filter"},
        {"value filter number", audience(1, {}, {{.filter = invalidNumber}}), 11,
         "Property filter must have exactly one of number or string filter"},
        {"value filter string", audience(1, {}, {{.filter = invalidString}}), 11,
         "Property filter has invalid string filter"},
    };
    const std::set<int32_t> seen{7};
    for (const Case& c : cases) {
        const auto message = decoded<ZDMPBAudience>(c.audience);
        ASSERT_TRUE(message) << c.what;
        Error error;
        EXPECT_FALSE(ZDMValidateAudienceDefinition(*message, seen, &error)) << c.what;
        EXPECT_EQ(error.code, c.code) << c.what;
        EXPECT_EQ(error.description, c.description) << c.what;
    }

    Error error;
    const auto valid = audienceMessage(1, {{.id = 0, .parameters = parameters(25)}, {.id = 9}}, {{.id = 5}});
    EXPECT_TRUE(ZDMValidateAudienceDefinition(*valid, seen, &error)) << error.description;
}

TEST_F(Definitions, TooManyAudiencesLeaveTheStoredOnesAlone) {
    store({audienceMessage(1, {{.id = 3}})});
    const auto before = rows("SELECT audience_id, filter_id, event_name FROM event_filters");

    std::vector<std::shared_ptr<ZDMPBAudience>> audiences;
    for (int32_t id = 0; id < 101; ++id) audiences.push_back(audienceMessage(id + 10, {{}}));
    EXPECT_TRUE(audience_->updateAudiences(audiences));
    // Level-2 reports reach the health sample, not the console.
    EXPECT_EQ(lastSampledMessage(),
              "E:Configuration contains too many audiences. Audiences will not be saved. Audience count");
    EXPECT_EQ(rows("SELECT audience_id, filter_id, event_name FROM event_filters"), before);

    audiences.pop_back();
    EXPECT_TRUE(audience_->updateAudiences(audiences));
    EXPECT_EQ(rows("SELECT count(*) FROM event_filters"), std::vector<std::string>{"100"});
}

TEST_F(Definitions, AnInvalidAudienceIsSkippedAndTheOthersReplaceTheStoredOnes) {
    store({audienceMessage(9, {{.id = 1, .name = "old"}})});
    store({audienceMessage(1, {{.id = 1, .sessionScoped = true}}, {{.id = 2, .dynamic = true}}),
           audienceMessage(2, {{.id = 1}, {.id = 1}}),
           audienceMessage(3, {{.id = 4, .name = "resized", .sequence = true}})});
    EXPECT_EQ(lastSampledMessage(),
              "E:Audience definition is invalid. Audience will not be saved. Audience, error");
    EXPECT_EQ(rows("SELECT audience_id, filter_id, event_name, session_scoped FROM event_filters "
                   "ORDER BY audience_id"),
              (std::vector<std::string>{"1|1|cycled|1", "3|4|resized|0"}));
    EXPECT_EQ(rows("SELECT audience_id, filter_id, property_name, session_scoped FROM property_filters"),
              std::vector<std::string>{"1|2|color|0"});

    // The flags the evaluation reads come with the stored rows.
    const auto resized = database_->eventFiltersForEventName("resized");
    ASSERT_TRUE(resized && resized->size() == 1);
    EXPECT_TRUE(resized->front()->isSequence());
    const auto color = database_->propertyFiltersForPropertyName("color");
    ASSERT_TRUE(color && color->size() == 1);
    EXPECT_TRUE(color->front()->isDynamic());
    EXPECT_FALSE(color->front()->isSessionScoped());
}

TEST_F(Definitions, PublicNamesAreStoredUnderTheInternalOnes) {
    store({audienceMessage(
        1, {{.id = 1, .name = "app_remove", .parameters = {exactText("ad_unit_id"), exactText("mode")}}},
        {{.id = 2, .name = "user_id"}})});
    const auto filters = database_->eventFiltersForEventName("_ui");
    ASSERT_TRUE(filters && filters->size() == 1);
    const auto message = ZDMPBEventFilter::initWithBuffer(filters->front()->data());
    ASSERT_TRUE(message);
    EXPECT_EQ(ZDMPBGetString(message.get(), 1), "_ui");
    std::vector<std::string> names;
    const auto parameterFilters = ZDMPBGetArray(message.get(), 2, &ZDMPBFilter::messageClass());
    ASSERT_TRUE(parameterFilters);
    for (const Value& parameter : *parameterFilters)
        names.push_back(ZDMPBGetString(parameter.objectAs<ZDMPBFilter>().get(), 3).value_or(""));
    EXPECT_EQ(names, (std::vector<std::string>{"_ai", "mode"}));
    EXPECT_EQ(rows("SELECT property_name FROM property_filters"), std::vector<std::string>{"_id"});
}

TEST_F(Definitions, AboveTheRowLimitOnlyRowsOfForgottenAudiencesAreDeleted) {
    setSetting("measurement.audience.filter_result_max_count", "2");
    // 1 keeps stored filters (until this update replaces them), 2 is in the new configuration,
    // 3 and 4 are in neither.
    store({audienceMessage(1, {{}})});
    for (int32_t id : {1, 2, 3, 4}) storeRow(id, {{1}, {1}, {}, {}});
    store({audienceMessage(2, {{}})});
    EXPECT_EQ(messagesOf(6016).size(), 1u);
    EXPECT_EQ(rows("SELECT audience_id FROM audience_filter_values ORDER BY audience_id"),
              (std::vector<std::string>{"1", "2"}));

    // Above the limit with every row still wanted: nothing to delete, and the update goes through.
    storeRow(3, {{1}, {1}, {}, {}});
    store({audienceMessage(1, {{}}), audienceMessage(2, {{}}), audienceMessage(3, {{}})});
    EXPECT_EQ(rows("SELECT count(*) FROM audience_filter_values"), std::vector<std::string>{"3"});
    EXPECT_TRUE(messagesOf(6018).empty());
}

TEST_F(Definitions, AFailedWriteRollsBackInsideTheCallersTransaction) {
    store({audienceMessage(1, {{.id = 1, .name = "old"}})});
    RawFile(path()).exec(
        "CREATE TRIGGER fail_filters BEFORE INSERT ON event_filters "
        "BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END");
    EXPECT_FALSE(database_->performTransaction(
        [&] { return audience_->updateAudiences({audienceMessage(2, {{}})}); }));
    EXPECT_EQ(messagesOf(6012).size(), 1u);
    EXPECT_EQ(rows("SELECT audience_id, event_name FROM event_filters"), std::vector<std::string>{"1|old"});
}

}  // namespace
