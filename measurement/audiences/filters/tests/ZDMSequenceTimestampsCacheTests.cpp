#include <optional>
#include <vector>

#include "measurement/audiences/filters/ZDMSequenceTimestampsCache.h"
#include "measurement/audiences/filters/tests/FilterFixture.h"
#include "measurement/wire/ZDMPBAccessors.h"

namespace {

// Out-of-order warnings are level 5, silent on the console: each step is preceded by a marker
// report, so the sampled message is the step's warning or, when it logged none, the marker.
class SequenceTimestampsCache : public FilterFixture {
  protected:
    template <class Step>
    std::string warningOf(Step step) {
        monitor_->logWithLevel(5, 1, "none");
        step();
        const std::string message = lastSampledMessage();
        return message == "W:none" ? "" : message;
    }
};

constexpr const char* kAdded = "W:Adding a sequence timestamp less than the last added timestamp";
constexpr const char* kSet = "W:Setting a sequence timestamp less than the last set timestamp";
using Times = std::optional<std::vector<double>>;

TEST_F(SequenceTimestampsCache, EventTimesAppendPerWholeSecondAndWarnWhenOutOfOrder) {
    const auto cache = ZDMSequenceTimestampsCache::initWithAudienceID(3);
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->audienceID(), 3);
    struct Step {
        double time;
        std::vector<double> times;
        std::string warning;
    };
    const Step steps[] = {
        {10.7, {10.7}, ""},
        {10.2, {10.7}, kAdded},  // earlier, but within the same second: warned and not kept
        {9.5, {10.7, 9.5}, kAdded},
        {11.0, {10.7, 9.5, 11.0}, ""},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(warningOf([&] { cache->addEventFilterTimestamp(step.time, 1); }), step.warning)
            << step.time;
        EXPECT_EQ(cache->sequenceTimestampsForFilterID(1), Times(step.times)) << step.time;
    }

    cache->addEventFilterTimestamp(12, std::nullopt);
    EXPECT_EQ(cache->sequenceTimestampsForFilterID(std::nullopt), std::nullopt);
    EXPECT_EQ(cache->sequenceTimestampsForFilterID(2), std::nullopt);
    EXPECT_EQ(cache->sequenceTimestampsForFilterID(1), Times({10.7, 9.5, 11.0}));
}

TEST_F(SequenceTimestampsCache, PropertyTimesKeepOnlyTheLatestSetting) {
    ZDMSequenceTimestampsCache cache(3);
    cache.setUserPropertyTimestamp(20, 4);
    EXPECT_EQ(warningOf([&] { cache.setUserPropertyTimestamp(25, 4); }), "");
    EXPECT_EQ(cache.sequenceTimestampsForFilterID(4), Times(std::vector<double>{25}));
    EXPECT_EQ(warningOf([&] { cache.setUserPropertyTimestamp(15, 4); }), kSet);
    EXPECT_EQ(cache.sequenceTimestampsForFilterID(4), Times(std::vector<double>{15}));
    cache.setUserPropertyTimestamp(30, std::nullopt);
    EXPECT_EQ(cache.sequenceTimestampsForFilterID(4), Times(std::vector<double>{15}));
}

TEST_F(SequenceTimestampsCache, ResultMessagesListFiltersAscendingWithSortedWholeSeconds) {
    EXPECT_FALSE(ZDMSequenceTimestampsCache::initWithAudienceID(std::nullopt));
    ZDMSequenceTimestampsCache cache(3);
    EXPECT_TRUE(cache.sequenceFilterResultTimestamps().empty());
    for (double time : {10.7, 10.2, 9.5}) cache.addEventFilterTimestamp(time, 9);
    cache.setUserPropertyTimestamp(7.9, 2);
    std::vector<std::pair<int32_t, std::vector<int64_t>>> results;
    for (const auto& message : cache.sequenceFilterResultTimestamps()) {
        std::vector<int64_t> times;
        for (const Value& time : ZDMPBGetArray(message.get(), 1).value_or(Value::Array()))
            times.push_back(time.integerOr(-1));
        results.emplace_back(ZDMPBGetInt32(message.get(), 0), times);
    }
    EXPECT_EQ(results, (std::vector<std::pair<int32_t, std::vector<int64_t>>>{{2, {7}}, {9, {9, 10}}}));
}

}  // namespace
