// Events and user properties evaluated against stored filters on a real database file: which
// filters are evaluated again, what a false outcome does, the bit layout and database failures.
#include <gtest/gtest.h>

#include "AudienceFixture.h"
#include "measurement/audiences/filters/ZDMAudienceTimestampsCache.h"
#include "measurement/foundation/ZDMEventAggregates.h"
#include "measurement/foundation/ZDMEventFilter.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/wire/ZDMPBUploadMessages.h"

namespace {

using Evaluation = AudienceFixture;

const Proto kFastMode = parameterFilter("mode", withString(stringFilter(5, "fast")));

// Counts the result rows written per audience from now on.
void countResultWrites(const std::string& path) {
    RawFile file(path);
    file.exec("CREATE TABLE writes (audience_id INTEGER)");
    file.exec(
        "CREATE TRIGGER count_writes AFTER INSERT ON audience_filter_values "
        "BEGIN INSERT INTO writes VALUES (NEW.audience_id); END");
}

TEST_F(Evaluation, ATrueEventFilterIsEvaluatedAgainOnlyWhenItCanChange) {
    struct Case {
        const char* what;
        bool dynamic;
        bool sessionScoped;
        bool secondMatches;
        bool rewritten;
        std::map<int32_t, int64_t> times;
    };
    const Case cases[] = {
        {"plain, matching", false, false, true, false, {}},
        {"plain, not matching", false, false, false, false, {}},
        {"session-scoped, not matching", false, true, false, true, {{1, 1000}}},
        {"session-scoped, matching", false, true, true, true, {{1, 2000}}},
        {"dynamic, not matching", true, false, false, true, {{1, 1000}}},
        {"dynamic, matching", true, false, true, true, {{1, 2000}}},
    };
    std::vector<std::shared_ptr<ZDMPBAudience>> audiences;
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(cases)); ++i)
        audiences.push_back(audienceMessage(i, {{.id = 1,
                                                 .name = "e" + std::to_string(i),
                                                 .parameters = {kFastMode},
                                                 .dynamic = cases[i].dynamic,
                                                 .sessionScoped = cases[i].sessionScoped}}));
    store(audiences);
    countResultWrites(path());

    for (int32_t i = 0; i < static_cast<int32_t>(std::size(cases)); ++i) {
        const Case& c = cases[i];
        const std::string name = "e" + std::to_string(i);
        ASSERT_TRUE(evaluate(name, params({{"mode", "fast"}}), 1000.0)) << c.what;
        ASSERT_TRUE(isTrue(i, 1)) << c.what;
        ASSERT_TRUE(evaluate(name, params({{"mode", c.secondMatches ? "fast" : "slow"}}), 2000.0)) << c.what;
        const auto writes = rows("SELECT count(*) FROM writes WHERE audience_id = " + std::to_string(i));
        EXPECT_EQ(writes, std::vector<std::string>{c.rewritten ? "2" : "1"}) << c.what;
        EXPECT_TRUE(isTrue(i, 1)) << c.what;
        EXPECT_EQ(bitsOf(row(i)->currentResults()).dynamicTimes, c.times) << c.what;
    }
}

TEST_F(Evaluation, OnlyADynamicPropertyFilterOutsideTheSessionTurnsFalse) {
    struct Case {
        const char* what;
        bool dynamic;
        bool sequence;
        bool sessionScoped;
        bool trueAfterwards;
    };
    const Case cases[] = {
        {"plain", false, false, false, true},
        {"dynamic", true, false, false, false},
        {"dynamic, session-scoped", true, false, true, true},
        {"session-scoped", false, false, true, true},
        {"sequence", false, true, false, true},
    };
    std::vector<std::shared_ptr<ZDMPBAudience>> audiences;
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(cases)); ++i)
        audiences.push_back(audienceMessage(i, {},
                                            {{.id = 2,
                                              .name = "c" + std::to_string(i),
                                              .dynamic = cases[i].dynamic,
                                              .sequence = cases[i].sequence,
                                              .sessionScoped = cases[i].sessionScoped}}));
    store(audiences);
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(cases)); ++i) {
        const Case& c = cases[i];
        const std::string name = "c" + std::to_string(i);
        ASSERT_TRUE(audience_->evaluateFiltersForUserProperty(
            *ZDMUserAttribute::initWithOrigin("app", name, text("red"), 1000.0), nullptr, 1000.0));
        ASSERT_TRUE(isTrue(i, 2)) << c.what;
        ASSERT_TRUE(audience_->evaluateFiltersForUserProperty(
            *ZDMUserAttribute::initWithOrigin("app", name, text("blue"), 2000.0), nullptr, 2000.0));
        EXPECT_EQ(isTrue(i, 2), c.trueAfterwards) << c.what;
        // Evaluated either way.
        EXPECT_EQ(bitsOf(row(i)->currentResults()).status, std::vector<uint64_t>{4}) << c.what;
    }
}

TEST_F(Evaluation, FilterSixtyFourTakesBitZeroOfASecondWord) {
    setSetting("measurement.audience.filter_max_count_per_audience", "100");
    store({audienceMessage(1, {{.id = 3, .name = "a"}, {.id = 64, .name = "b"}})});
    ASSERT_TRUE(evaluate("a", {}, 1000.0));
    EXPECT_EQ(bitsOf(row(1)->currentResults()).status, std::vector<uint64_t>{8});
    ASSERT_TRUE(evaluate("b", {}, 1000.0));
    const ResultBits bits = bitsOf(row(1)->currentResults());
    EXPECT_EQ(bits.status, (std::vector<uint64_t>{8, 1}));
    EXPECT_EQ(bits.results, (std::vector<uint64_t>{8, 1}));
    EXPECT_TRUE(isTrue(1, 64));

    // A false result sets only the status bit; the top bit of a word survives the round trip.
    ZDMAudienceTimestampsCache cache;
    const auto falseResult = ZDMAudience::updatedFilterResultWithFilterID(64, 1, row(1).get(), false, cache);
    EXPECT_EQ(bitsOf(falseResult->currentResults()).results, (std::vector<uint64_t>{8, 0}));
    const auto topBit = ZDMAudience::updatedFilterResultWithFilterID(63, 1, nullptr, true, cache);
    EXPECT_EQ(bitsOf(topBit->currentResults()).results, std::vector<uint64_t>{uint64_t{1} << 63});
    EXPECT_TRUE(ZDMAudience::isFilterResult(topBit.get(), 63));
}

TEST_F(Evaluation, ARowWithoutWordsReadsFalseAndIsReported) {
    EXPECT_FALSE(ZDMAudience::isFilterResult(nullptr, 0));
    EXPECT_FALSE(ZDMAudience::isFilterResult(std::make_shared<ZDMFilterResult>(1, Data(), Data()).get(), 0));
    EXPECT_EQ(lastSampledMessage(), "");

    const ZDMFilterResult noStatus(4, encodedBits({{}, {1}, {}, {}}), Data());
    EXPECT_FALSE(ZDMAudience::isFilterResult(&noStatus, 0));
    EXPECT_EQ(
        lastSampledMessage(),
        "E:Audience filter result is non-nil and is missing status or results array. Audience result will "
        "not be bundled. Audience ID, result data");
    const ZDMFilterResult oneWord(4, encodedBits({{1}, {1}, {}, {}}), Data());
    EXPECT_TRUE(ZDMAudience::isFilterResult(&oneWord, 0));
    EXPECT_FALSE(ZDMAudience::isFilterResult(&oneWord, 64));
    EXPECT_FALSE(ZDMAudience::isFilterResult(&oneWord, -1));
    // A results array shorter than the status array (a damaged row) reads false past its end.
    const ZDMFilterResult shortResults(4, encodedBits({{1, 1}, {1}, {}, {}}), Data());
    EXPECT_FALSE(ZDMAudience::isFilterResult(&shortResults, 64));
    ZDMAudienceTimestampsCache cache;
    EXPECT_EQ(ZDMAudience::updatedFilterResultWithFilterID(-1, 4, &oneWord, true, cache), nullptr);
}

TEST_F(Evaluation, TheEventCountFilterReadsTheAggregates) {
    // Count greater than 1.
    const Proto counted = EventFilterSpec{}.proto().message(5, numberFilter(2, "1"));
    store({decoded<ZDMPBAudience>(Proto().varint(1, 1).message(3, counted))});
    const auto once = ZDMEventAggregates::initWithName("cycled", 1, 1, 1, 1000.0);
    ASSERT_TRUE(audience_->evaluateFiltersForEventName("cycled", {}, once.get(), 1000.0, nullptr));
    EXPECT_FALSE(isTrue(1, 1));
    const auto twice = ZDMEventAggregates::initWithName("cycled", 2, 2, 2, 1001.0);
    ASSERT_TRUE(audience_->evaluateFiltersForEventName("cycled", {}, twice.get(), 1001.0, nullptr));
    EXPECT_TRUE(isTrue(1, 1));
}

TEST_F(Evaluation, AWireUserPropertyTakesTextThenDoubleThenInteger) {
    struct Case {
        const char* what;
        std::optional<std::string> text;
        std::optional<double> real;
        std::optional<int64_t> integer;
        Value expected;
    };
    const Case cases[] = {
        {"all three", "red", 2.5, 7, Value("red")},
        {"double and integer", std::nullopt, 2.5, 7, Value(2.5)},
        {"integer", std::nullopt, std::nullopt, 7, Value(7)},
    };
    for (const Case& c : cases) {
        auto wire = ZDMPBUserAttribute::initWithMessageInfo(nullptr);
        ZDMPBSetInt64(wire.get(), 0, 1500);
        ZDMPBSetString(wire.get(), 1, "color");
        if (c.text) ZDMPBSetString(wire.get(), 2, *c.text);
        if (c.integer) ZDMPBSetInt64(wire.get(), 3, *c.integer);
        ZDMPBSetFloat(wire.get(), 4, 9.5f);
        if (c.real) ZDMPBSetDouble(wire.get(), 5, *c.real);
        const auto attribute = ZDMUserAttributeFromWireUserAttribute(*wire);
        ASSERT_TRUE(attribute) << c.what;
        EXPECT_EQ(attribute->origin(), "") << c.what;
        EXPECT_EQ(attribute->name(), "color") << c.what;
        EXPECT_EQ(attribute->value()->value(), c.expected) << c.what;
        EXPECT_EQ(attribute->lastSetTimestamp(), 1.5) << c.what;
    }

    // Without a value (a float alone does not count) nothing is evaluated.
    auto floatOnly = ZDMPBUserAttribute::initWithMessageInfo(nullptr);
    ZDMPBSetString(floatOnly.get(), 1, "color");
    ZDMPBSetFloat(floatOnly.get(), 4, 9.5f);
    EXPECT_FALSE(audience_->evaluateFiltersForNanoUserProperty(*floatOnly, nullptr, std::nullopt));
    EXPECT_EQ(lastSampledMessage(), "E:Could not convert user property from nano format.");

    // The property's set time serves when no evaluation time is given.
    store({audienceMessage(1, {}, {{.id = 2, .dynamic = true}})});
    auto red = ZDMPBUserAttribute::initWithMessageInfo(nullptr);
    ZDMPBSetInt64(red.get(), 0, 1500000);
    ZDMPBSetString(red.get(), 1, "color");
    ZDMPBSetString(red.get(), 2, "red");
    ASSERT_TRUE(audience_->evaluateFiltersForNanoUserProperty(*red, nullptr, std::nullopt));
    EXPECT_EQ(bitsOf(row(1)->currentResults()).dynamicTimes, (std::map<int32_t, int64_t>{{2, 1500}}));
    ASSERT_TRUE(audience_->evaluateFiltersForNanoUserProperty(*red, nullptr, 1600.0));
    EXPECT_EQ(bitsOf(row(1)->currentResults()).dynamicTimes, (std::map<int32_t, int64_t>{{2, 1600}}));
}

TEST_F(Evaluation, AFailedSaveLeavesTheStoredRowsAsTheyWere) {
    store({audienceMessage(1, {{.id = 1}, {.id = 2, .name = "other"}}, {{.id = 3}})});
    storeRow(1, {{4}, {4}, {}, {}});
    const Data before = row(1)->currentResults();
    failResultWrites();

    EXPECT_FALSE(evaluate("cycled", {}, 1000.0));
    EXPECT_FALSE(audience_->evaluateFiltersForUserProperty(
        *ZDMUserAttribute::initWithOrigin("app", "color", text("red"), 1000.0), nullptr, 1000.0));
    EXPECT_EQ(loggedCodes(), (std::vector<int64_t>{6003, 6007}));
    EXPECT_EQ(row(1)->currentResults(), before);
}

TEST_F(Evaluation, AFilterThatCannotBeReadChangesNothing) {
    Error error;
    ASSERT_TRUE(database_->updateEventFilters(
        {std::make_shared<ZDMEventFilter>(1, 1, "cycled", Data{0xff, 0xff}, false, false, false)}, &error))
        << error.description;
    EXPECT_TRUE(evaluate("cycled", {}, 1000.0));
    EXPECT_EQ(loggedCodes(), std::vector<int64_t>{6035});
    EXPECT_EQ(row(1), nullptr);

    // An event without a name cannot be looked up: a database refusal, reported.
    EXPECT_FALSE(evaluate("", {}, 1000.0));
    EXPECT_EQ(messagesOf(6000).size(), 1u);
}

}  // namespace
