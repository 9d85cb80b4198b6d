// Audience filter and result rows, reported purchases and subscriptions, and complex events on a
// real sqlite file; filter messages as hand-encoded protocol-buffer bytes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMEventFilter.h"
#include "measurement/foundation/ZDMFilterResult.h"
#include "measurement/foundation/ZDMPropertyFilter.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/DatabaseFixture.h"

namespace {

// A filter message with filter ID 1 and the given boolean fields (by wire tag) set to true.
Data filterMessage(std::initializer_list<uint8_t> trueTags) {
    Data bytes{0x08, 0x01};
    for (uint8_t tag : trueTags) bytes.insert(bytes.end(), {static_cast<uint8_t>(tag << 3), 0x01});
    return bytes;
}

// Event filter tags: 6 dynamic, 7 sequence, 8 session scoped.
std::shared_ptr<ZDMEventFilter> eventFilter(int32_t audience, int32_t filter,
                                            const std::string& name = "purchase",
                                            Data data = filterMessage({}), bool sessionScoped = false) {
    return std::make_shared<ZDMEventFilter>(audience, filter, name, std::move(data), sessionScoped, false,
                                            false);
}

// Property filter tags: 4 dynamic, 5 sequence, 6 session scoped.
std::shared_ptr<ZDMPropertyFilter> propertyFilter(int32_t audience, int32_t filter,
                                                  Data data = filterMessage({}), bool sessionScoped = false) {
    return std::make_shared<ZDMPropertyFilter>(audience, filter, "color", std::move(data), sessionScoped,
                                               false, false);
}

std::vector<std::pair<int32_t, int32_t>> keysOf(const auto& filters) {
    std::vector<std::pair<int32_t, int32_t>> keys;
    for (const auto& filter : filters) keys.emplace_back(filter->audienceID(), filter->filterID());
    return keys;
}

using Audiences = Database;

TEST_F(Audiences, FiltersAreKeyedByAudienceAndFilterID) {
    auto database = open();
    Error error;
    ASSERT_TRUE(database->updateEventFilters({eventFilter(5, 1), eventFilter(6, 1, "open")}, &error))
        << error.description;
    ASSERT_TRUE(database->updatePropertyFilters({propertyFilter(5, 2)}, &error)) << error.description;
    EXPECT_EQ(database->allAudienceIDs(), (std::vector<int32_t>{5, 6}));

    const Data replacement = filterMessage({6});
    ASSERT_TRUE(database->updateEventFilters({eventFilter(5, 1, "purchase", replacement)}));
    const auto filters = database->eventFiltersForEventName("purchase");
    ASSERT_TRUE(filters);
    ASSERT_EQ(filters->size(), 1u);
    EXPECT_EQ(filters->front()->data(), replacement);
    EXPECT_TRUE(filters->front()->isDynamic());

    ASSERT_TRUE(database->deleteAllEventFilters());
    ASSERT_TRUE(database->deleteAllPropertyFilters());
    EXPECT_EQ(database->allAudienceIDs(), std::vector<int32_t>{});
}

TEST_F(Audiences, FilterFlagsComeFromTheStoredMessage) {
    struct Case {
        const char* what;
        Data data;
        bool sessionScoped, dynamic, sequence;
    };
    const Case eventCases[] = {
        {"all three", filterMessage({6, 7, 8}), true, true, true},
        {"sequence only", filterMessage({7}), false, false, true},
        {"bytes that do not decode", Data{0x0a, 0xff}, false, false, false},
    };
    auto database = open();
    for (const Case& c : eventCases) {
        ASSERT_TRUE(database->deleteAllEventFilters());
        // The column says session scoped for each: the flags must not come from it.
        ASSERT_TRUE(database->updateEventFilters({eventFilter(1, 1, "purchase", c.data, true)}));
        const auto read = database->eventFiltersForEventName("purchase");
        ASSERT_TRUE(read && read->size() == 1) << c.what;
        const auto& filter = *read->front();
        EXPECT_EQ(filter.isSessionScoped(), c.sessionScoped) << c.what;
        EXPECT_EQ(filter.isDynamic(), c.dynamic) << c.what;
        EXPECT_EQ(filter.isSequence(), c.sequence) << c.what;
        EXPECT_EQ(filter.data(), c.data) << c.what;
        EXPECT_EQ(filter.eventName(), "purchase");
    }
    ASSERT_TRUE(database->updatePropertyFilters({propertyFilter(1, 1, filterMessage({4, 5, 6}))}));
    const auto properties = database->propertyFiltersForPropertyName("color");
    ASSERT_TRUE(properties && properties->size() == 1);
    EXPECT_TRUE(properties->front()->isSessionScoped());
    EXPECT_TRUE(properties->front()->isDynamic());
    EXPECT_TRUE(properties->front()->isSequence());
    EXPECT_EQ(properties->front()->propertyName(), "color");
}

TEST_F(Audiences, TheFirstRefusedFilterEndsTheWrite) {
    for (bool commit : {true, false}) {
        auto database = open();
        ASSERT_TRUE(database->deleteAllEventFilters());
        Error error;
        bool answered = true;
        database->performTransaction([&] {
            answered = database->updateEventFilters(
                {eventFilter(1, 1), eventFilter(1, 2, ""), eventFilter(1, 3)}, &error);
            return commit;
        });
        EXPECT_FALSE(answered);
        EXPECT_EQ(error.code, 3);
        EXPECT_EQ(error.description,
                  "Received event filter with empty event name for getting dictionary representation");
        EXPECT_EQ(RawFile(path()).rows("SELECT filter_id FROM event_filters"),
                  commit ? std::vector<std::string>{"1"} : std::vector<std::string>{})
            << (commit ? "committed" : "rolled back");
    }
}

TEST_F(Audiences, FilterArgumentsAreChecked) {
    struct Case {
        std::function<bool(ZDMDatabase&, Error*)> call;
        int64_t code;
        const char* description;
    };
    const Case cases[] = {
        {[](ZDMDatabase& d, Error* e) { return d.updateEventFilters({}, e); }, 1,
         "Received empty event filters to update"},
        {[](ZDMDatabase& d, Error* e) { return d.updateEventFilters({nullptr}, e); }, 3,
         "Received empty event filter for getting dictionary representation"},
        {[](ZDMDatabase& d, Error* e) { return d.updateEventFilters({eventFilter(1, 1, "x", Data())}, e); },
         3, "Received event filter with empty data for getting dictionary representation"},
        {[](ZDMDatabase& d, Error* e) { return d.updatePropertyFilters({}, e); }, 1,
         "Received empty property filters to update"},
        {[](ZDMDatabase& d, Error* e) { return d.updatePropertyFilters({nullptr}, e); }, 3,
         "Received empty property filter for getting dictionary representation"},
        {[](ZDMDatabase& d, Error* e) { return d.updatePropertyFilters({propertyFilter(1, 1, Data())}, e); },
         3, "Received property filter with empty data for getting dictionary representation"},
        {[](ZDMDatabase& d, Error* e) { return d.deleteEventFilters({}, e); }, 1,
         "Received empty event filters to delete"},
        {[](ZDMDatabase& d, Error* e) { return d.deletePropertyFilters({nullptr}, e); }, 1,
         "Received unknown type to delete property filter"},
        {[](ZDMDatabase& d, Error* e) { return d.eventFiltersForEventName("", e).has_value(); }, 1,
         "Received empty event name for getting event filters"},
        {[](ZDMDatabase& d, Error* e) { return d.propertyFiltersForPropertyName("", e).has_value(); }, 1,
         "Received empty property name for getting property filters"},
        {[](ZDMDatabase& d, Error* e) { return d.updateFilterResults({}, e); }, 1,
         "Received empty filter results to update"},
        {[](ZDMDatabase& d, Error* e) { return d.updateFilterResults({nullptr}, e); }, 3,
         "Received empty filter result for getting dictionary representation"},
        {[](ZDMDatabase& d, Error* e) {
             return d.updateFilterResults({std::make_shared<ZDMFilterResult>(1, Data(), Data{1})}, e);
         },
         3, "Received filter result with empty data for getting dictionary representation"},
        {[](ZDMDatabase& d, Error* e) { return d.deleteFilterResults({}, e); }, 1,
         "Received empty filter results to delete"},
    };
    auto database = open();
    for (const Case& c : cases) {
        Error error;
        EXPECT_FALSE(c.call(*database, &error)) << c.description;
        EXPECT_EQ(error.code, c.code) << c.description;
        EXPECT_EQ(error.description, c.description);
    }
}

TEST_F(Audiences, DeletingFiltersRemovesExactlyTheNamedOnes) {
    auto database = open();
    ASSERT_TRUE(database->updateEventFilters({eventFilter(1, 1), eventFilter(1, 2), eventFilter(2, 1)}));
    ASSERT_TRUE(database->updatePropertyFilters({propertyFilter(1, 1), propertyFilter(3, 3)}));
    ASSERT_TRUE(database->deleteEventFilters({eventFilter(1, 2), eventFilter(2, 1)}));
    ASSERT_TRUE(database->deletePropertyFilters({propertyFilter(3, 3)}));
    EXPECT_EQ(keysOf(*database->eventFiltersForEventName("purchase")),
              (std::vector<std::pair<int32_t, int32_t>>{{1, 1}}));
    EXPECT_EQ(keysOf(*database->propertyFiltersForPropertyName("color")),
              (std::vector<std::pair<int32_t, int32_t>>{{1, 1}}));
}

TEST_F(Audiences, SessionScopedFiltersAreGroupedByAudience) {
    auto database = open();
    ASSERT_TRUE(
        database->updateEventFilters({eventFilter(1, 1, "a", filterMessage({}), true), eventFilter(1, 2),
                                      eventFilter(2, 4, "a", filterMessage({}), true)}));
    ASSERT_TRUE(database->updatePropertyFilters({propertyFilter(1, 3, filterMessage({}), true)}));
    EXPECT_EQ(database->allSessionScopedFilters(),
              (std::map<int32_t, std::vector<int32_t>>{{1, {1, 3}}, {2, {4}}}));
}

TEST_F(Audiences, FilterResultsStoreNoPreviousResultsAsNull) {
    auto database = open();
    const Data current{0x08, 0x01};
    const Data previous{0x08, 0x02};
    ASSERT_TRUE(database->updateFilterResults({std::make_shared<ZDMFilterResult>(7, current, Data()),
                                               std::make_shared<ZDMFilterResult>(8, current, previous),
                                               std::make_shared<ZDMFilterResult>(9, current, Data())}));
    RawFile file(path());
    EXPECT_EQ(
        file.rows("SELECT audience_id, previous_results IS NULL FROM audience_filter_values ORDER BY 1"),
        (std::vector<std::string>{"7|1", "8|0", "9|1"}));
    const auto seven = database->filterResultForAudienceID(7);
    ASSERT_TRUE(seven);
    EXPECT_EQ(seven->currentResults(), current);
    EXPECT_TRUE(seven->previousResults().empty());
    EXPECT_FALSE(database->filterResultForAudienceID(99));
    const auto all = database->allFilterResults();
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 3u);
    EXPECT_EQ(all->at(8)->previousResults(), previous);

    ASSERT_TRUE(database->deleteFilterResults({std::make_shared<ZDMFilterResult>(7, current, Data()),
                                               std::make_shared<ZDMFilterResult>(7, previous, Data()),
                                               std::make_shared<ZDMFilterResult>(9, current, Data())}));
    EXPECT_EQ(file.rows("SELECT audience_id FROM audience_filter_values"), std::vector<std::string>{"8"});
}

TEST_F(Audiences, PurchasesAreReportedOnceAndTheNewestThousandKept) {
    auto database = open();
    EXPECT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("p0"), true);
    EXPECT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("p0"), false);
    ASSERT_TRUE(database->performTransaction([&] {
        for (int i = 1; i <= 1000; ++i)
            if (database->insertIfNotDuplicatePurchaseFingerprint("p" + std::to_string(i)) != true)
                return false;
        return true;
    }));
    RawFile file(path());
    EXPECT_EQ(file.rows("SELECT count(*), min(rowid) > 1 FROM purchase_transactions"),
              std::vector<std::string>{"1000|1"});
    EXPECT_EQ(file.rows("SELECT count(*) FROM purchase_transactions WHERE fingerprint = 'p0'"),
              std::vector<std::string>{"0"});

    Error error;
    EXPECT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("", &error), false);
    EXPECT_EQ(database->insertIfNotDuplicateSubscriptionID("", &error), false);
    EXPECT_TRUE(error.description.empty());
    EXPECT_EQ(file.rows("SELECT count(*) FROM subscriptions"), std::vector<std::string>{"0"});
    EXPECT_EQ(file.rows("SELECT count(*) FROM purchase_transactions"), std::vector<std::string>{"1000"});
}

TEST_F(Audiences, SubscriptionsArePrunedToTheNewestThousandOnRequest) {
    auto database = open();
    ASSERT_TRUE(database->performTransaction([&] {
        for (int i = 0; i < 1003; ++i)
            if (database->insertIfNotDuplicateSubscriptionID("s" + std::to_string(i)) != true) return false;
        return true;
    }));
    EXPECT_EQ(database->insertIfNotDuplicateSubscriptionID("s5"), false);
    EXPECT_EQ(database->deleteSubscriptionsOverLimit(), 3);
    EXPECT_EQ(RawFile(path()).rows(
                  "SELECT count(*), min(subscription_id IN ('s0', 's1', 's2')) FROM subscriptions"),
              std::vector<std::string>{"1000|0"});
}

TEST_F(Audiences, ComplexEventsKeepTheirChildCount) {
    auto database = open();
    const auto main =
        ZDMEvent::initWithOrigin("app", false, "_cmp", 12.5, 0, Dictionary{{"item", Value("hat")}});
    ASSERT_TRUE(main);
    Error error;
    ASSERT_TRUE(database->updateComplexEventForAudienceEvaluationWithEventID(42, 4, main.get(), &error))
        << error.description;
    const auto pair = database->mainEventAndChildCountPairWithEventID(42, &error);
    ASSERT_TRUE(pair) << error.description;
    EXPECT_EQ(pair->second, 4);
    EXPECT_EQ(pair->first->name(), "_cmp");
    EXPECT_EQ(pair->first->timestamp(), 12.5);
    EXPECT_EQ(pair->first->parameters()["item"].objectAs<ZDMValue>()->stringValue(), "hat");

    ASSERT_TRUE(database->updateComplexEventForAudienceEvaluationWithEventID(42, 3, main.get()));
    EXPECT_EQ(database->mainEventAndChildCountPairWithEventID(42)->second, 3);

    Error missing;
    EXPECT_FALSE(database->mainEventAndChildCountPairWithEventID(43, &missing));
    EXPECT_TRUE(missing.description.empty());
    EXPECT_FALSE(database->updateComplexEventForAudienceEvaluationWithEventID(44, 1, nullptr, &error));
    EXPECT_EQ(error.description, "Received nil main event");

    RawFile(path()).exec("UPDATE main_event_params SET main_event = x'0aff'");
    Error undecodable;
    EXPECT_FALSE(database->mainEventAndChildCountPairWithEventID(42, &undecodable));
    EXPECT_EQ(undecodable.code, 2);

    ASSERT_TRUE(database->deleteComplexEventForAudienceEvaluationWithEventID(42));
    EXPECT_EQ(RawFile(path()).rows("SELECT count(*) FROM main_event_params"), std::vector<std::string>{"0"});
}

}  // namespace
