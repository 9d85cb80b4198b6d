// What each bundle carries of the stored results, how the rows move on, and what a session start
// clears, on a real database file.
#include <gtest/gtest.h>

#include "AudienceFixture.h"

namespace {

using Bundling = AudienceFixture;

struct Leaf {
    int32_t audienceID;
    ResultBits current;
    std::optional<ResultBits> previous;
    bool newAudience;
};

std::vector<Leaf> leavesOf(const std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>>& results) {
    std::vector<Leaf> out;
    for (const auto& result : results) {
        const auto current = ZDMPBGetMessage<ZDMPBResultData>(result.get(), 1);
        const auto previous = ZDMPBGetMessage<ZDMPBResultData>(result.get(), 2);
        out.push_back({ZDMPBGetInt32(result.get(), 0), current ? bitsOf(*current) : ResultBits{},
                       previous ? std::optional(bitsOf(*previous)) : std::nullopt,
                       ZDMPBGetBool(result.get(), 3)});
        EXPECT_TRUE(ZDMPBHasField(result.get(), 3)) << "the new-audience flag is always sent";
    }
    return out;
}

std::vector<Leaf> bundle(ZDMAudience& audience) {
    std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>> results;
    EXPECT_TRUE(audience.resultsForBundling(&results));
    return leavesOf(results);
}

TEST_F(Bundling, NothingStoredGivesNoResultsAndNoFailure) {
    EXPECT_TRUE(bundle(*audience_).empty());
    EXPECT_TRUE(loggedCodes().empty());
}

TEST_F(Bundling, OnlyRowsWithAStatusBitAreSent) {
    storeRow(1, {{0, 0}, {0, 0}, {}, {}});
    storeRow(3, {{0, 2}, {0, 2}, {}, {}});
    auto leaves = bundle(*audience_);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].audienceID, 3);
    EXPECT_EQ(lastSampledMessage(),
              "E:Current result status is 0. Audience result will not be bundled. Audience ID");

    Error error;
    ASSERT_TRUE(
        database_->updateFilterResults({std::make_shared<ZDMFilterResult>(2, Data{0xff}, Data())}, &error));
    leaves = bundle(*audience_);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(lastSampledMessage(),
              "E:Current result data is nil. Audience result will not be bundled. Audience ID");
    // The rows left out stay as they were.
    EXPECT_EQ(row(2)->currentResults(), Data{0xff});
}

TEST_F(Bundling, TheServerHearsOfANewAudienceOnceAndOfEachChange) {
    store({audienceMessage(1, {{.id = 1, .name = "a"}, {.id = 2, .name = "b"}})});
    ASSERT_TRUE(evaluate("a", {}, 1000.0));
    const ResultBits first{{2}, {2}, {}, {}};

    auto leaves = bundle(*audience_);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].current, first);
    EXPECT_TRUE(leaves[0].newAudience);
    EXPECT_EQ(leaves[0].previous, std::nullopt);

    leaves = bundle(*audience_);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_FALSE(leaves[0].newAudience);
    EXPECT_EQ(leaves[0].previous, std::nullopt);

    ASSERT_TRUE(evaluate("b", {}, 1001.0));
    leaves = bundle(*audience_);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].current, (ResultBits{{6}, {6}, {}, {}}));
    EXPECT_EQ(leaves[0].previous, first);
    EXPECT_FALSE(leaves[0].newAudience);
    // The row moves on: what was sent as current is now the previous result.
    EXPECT_EQ(bitsOf(row(1)->previousResults()), (ResultBits{{6}, {6}, {}, {}}));
}

TEST_F(Bundling, UnchangedResultsKeepOnlyTheLastTimeOfEachSequence) {
    const ResultBits stored{{7}, {7}, {{1, 50}}, {{0, {10, 20, 30}}, {1, {5, 6}}, {2, {7}}}};
    const Data bytes = encodedBits(stored);
    Error error;
    ASSERT_TRUE(database_->updateFilterResults({std::make_shared<ZDMFilterResult>(4, bytes, bytes)}, &error));

    const auto leaves = bundle(*audience_);
    ASSERT_EQ(leaves.size(), 1u);
    const ResultBits trimmed{{7}, {7}, {{1, 50}}, {{0, {30}}, {1, {6}}, {2, {7}}}};
    EXPECT_EQ(leaves[0].current, trimmed);
    EXPECT_EQ(leaves[0].previous, std::nullopt);
    EXPECT_EQ(bitsOf(row(4)->currentResults()), trimmed);
    EXPECT_EQ(row(4)->previousResults(), bytes);
}

TEST_F(Bundling, AFailedSaveGivesNoResults) {
    storeRow(1, {{1}, {1}, {}, {}});
    failResultWrites();
    std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>> results{nullptr};
    EXPECT_FALSE(audience_->resultsForBundling(&results));
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(messagesOf(6022).size(), 1u);
    EXPECT_TRUE(row(1)->previousResults().empty());
}

TEST_F(Bundling, ASessionStartClearsOnlyTheSessionScopedFilters) {
    setSetting("measurement.audience.filter_max_count_per_audience", "100");
    store({audienceMessage(1, {{.id = 1, .name = "a"}, {.id = 2, .name = "b", .sessionScoped = true}},
                           {{.id = 70, .sessionScoped = true}}),
           audienceMessage(2, {{.id = 3, .name = "c", .sessionScoped = true}}),
           audienceMessage(3, {{.id = 1, .name = "d"}}),
           audienceMessage(4, {{.id = 1, .name = "e", .sessionScoped = true}})});
    const ResultBits one{{6, 64}, {2, 64}, {{1, 10}, {2, 20}}, {{2, {20, 21}}, {1, {9}}}};
    storeRow(1, one);
    storeRow(2, {{8}, {8}, {{3, 30}}, {}});
    storeRow(3, {{2}, {2}, {}, {}});
    Error error;
    ASSERT_TRUE(
        database_->updateFilterResults({std::make_shared<ZDMFilterResult>(4, Data{0xff}, Data())}, &error));
    const Data oldOne = row(1)->currentResults();
    const Data oldThree = row(3)->currentResults();

    ASSERT_TRUE(audience_->clearEvaluationResultsForSessionScopedFilters());
    EXPECT_EQ(bitsOf(row(1)->currentResults()), (ResultBits{{2, 0}, {2, 0}, {{1, 10}}, {{1, {9}}}}));
    EXPECT_EQ(row(1)->previousResults(), oldOne);
    EXPECT_EQ(row(2), nullptr);
    EXPECT_EQ(row(3)->currentResults(), oldThree);
    EXPECT_TRUE(row(3)->previousResults().empty());
    // A row that does not decode is kept as it is, not taken for an empty one and deleted.
    EXPECT_EQ(row(4)->currentResults(), Data{0xff});
}

}  // namespace
