#include <utility>
#include <vector>

#include "measurement/audiences/filters/ZDMAudienceTimestampsCache.h"
#include "measurement/audiences/filters/tests/FilterFixture.h"
#include "measurement/foundation/ZDMEventFilter.h"
#include "measurement/foundation/ZDMPropertyFilter.h"
#include "measurement/wire/ZDMPBAccessors.h"

namespace {

constexpr int32_t kAudience = 4;

using Times = std::vector<std::pair<int32_t, std::vector<int64_t>>>;

// A stored result row: dynamic entries {filter: time} and sequence entries {filter: [times]}.
ZDMFilterResult storedRow(const std::vector<std::pair<int32_t, int64_t>>& dynamic, const Times& sequence) {
    Proto data;
    for (const auto& [filterID, time] : dynamic) data.message(3, Proto().varint(1, filterID).varint(2, time));
    for (const auto& [filterID, times] : sequence) {
        Proto entry = Proto().varint(1, filterID);
        for (int64_t time : times) entry.varint(2, static_cast<uint64_t>(time));
        data.message(4, entry);
    }
    return ZDMFilterResult(kAudience, data.data(), Data());
}

ZDMEventFilter eventFilter(int32_t filterID, bool dynamic, bool sequence, bool sessionScoped = false) {
    return ZDMEventFilter(kAudience, filterID, "purchase", Data(), sessionScoped, dynamic, sequence);
}

std::vector<std::pair<int32_t, int64_t>> dynamicTimes(const ZDMAudienceTimestampsCache& cache) {
    std::vector<std::pair<int32_t, int64_t>> out;
    for (const auto& entry : cache.dynamicTimestampsForAudienceID(kAudience))
        out.emplace_back(ZDMPBGetInt32(entry.get(), 0), ZDMPBGetInt64(entry.get(), 1));
    return out;
}

std::optional<Times> sequenceTimes(const ZDMAudienceTimestampsCache& cache) {
    const auto entries = cache.sequenceTimestampsForAudienceID(kAudience);
    if (!entries) return std::nullopt;
    Times out;
    for (const auto& entry : *entries) {
        std::vector<int64_t> times;
        for (const Value& time : ZDMPBGetArray(entry.get(), 1).value_or(Value::Array()))
            times.push_back(time.integerOr(-1));
        out.emplace_back(ZDMPBGetInt32(entry.get(), 0), times);
    }
    return out;
}

using AudienceTimestampsCache = FilterFixture;

TEST_F(AudienceTimestampsCache, PopulatesDynamicEntriesInFilterOrder) {
    ZDMAudienceTimestampsCache cache;
    const auto row = storedRow({{7, 50}, {2, 100}}, {});
    cache.populateCachedTimestamps(&row, kAudience);
    EXPECT_EQ(dynamicTimes(cache), (std::vector<std::pair<int32_t, int64_t>>{{2, 100}, {7, 50}}));
}

TEST_F(AudienceTimestampsCache, KeepsOnlyStrictlyNewerDynamicTimes) {
    ZDMAudienceTimestampsCache cache;
    const auto row = storedRow({{2, 100}}, {});
    cache.populateCachedTimestamps(&row, kAudience);
    const auto dynamic = eventFilter(2, true, false);
    const auto sessionScoped = eventFilter(3, false, false, true);

    cache.addEvaluationTimestamp(100.9, dynamic);
    cache.addEvaluationTimestamp(42.5, sessionScoped);
    EXPECT_EQ(dynamicTimes(cache), (std::vector<std::pair<int32_t, int64_t>>{{2, 100}, {3, 42}}));
    EXPECT_EQ(lastSampledMessage(), "");

    for (const double earlierOrEqual : {99.5, 100.9}) {
        SCOPED_TRACE(earlierOrEqual);
        monitor_->clearMonitoringData();
        cache.addEvaluationTimestamp(earlierOrEqual, dynamic);
        EXPECT_EQ(lastSampledMessage(),
                  "W:Candidate evaluation timestamp is earlier than cached evaluation timestamp");
    }
    // 100.9 stayed cached; a later time still replaces it.
    cache.addEvaluationTimestamp(101.2, dynamic);
    EXPECT_EQ(dynamicTimes(cache).front(), (std::pair<int32_t, int64_t>{2, 101}));
}

TEST_F(AudienceTimestampsCache, NothingIsStoredForAnAudienceNeverPopulated) {
    ZDMAudienceTimestampsCache cache;
    cache.addEvaluationTimestamp(10, eventFilter(1, true, false));
    cache.addEvaluationTimestamp(10, ZDMEventFilter(kAudience, 2, "purchase", Data(), false, false, false));
    EXPECT_TRUE(dynamicTimes(cache).empty());
    EXPECT_EQ(sequenceTimes(cache), std::nullopt);
}

TEST_F(AudienceTimestampsCache, SequenceListsKeepTheirLastStoredTimeAndGrowWithinTheCache) {
    ZDMAudienceTimestampsCache cache;
    const auto row = storedRow({}, {{5, {10, 20, 30}}, {6, {}}});
    cache.populateCachedTimestamps(&row, kAudience);
    EXPECT_EQ(sequenceTimes(cache), (Times{{5, {30}}}));

    cache.addEvaluationTimestamp(40.7, eventFilter(5, false, true));
    cache.addEvaluationTimestamp(40.2, eventFilter(5, false, true));  // same second: not a new match
    cache.addEvaluationTimestamp(35, eventFilter(5, false, true));    // out of order: kept, with a warning
    EXPECT_EQ(lastSampledMessage(), "W:Adding a sequence timestamp less than the last added timestamp");
    const ZDMPropertyFilter property(kAudience, 8, "tier", Data(), false, false, true);
    cache.addEvaluationTimestamp(15, property);
    cache.addEvaluationTimestamp(12, property);
    EXPECT_EQ(lastSampledMessage(), "W:Setting a sequence timestamp less than the last set timestamp");
    // Populating again reloads nothing, so what was added in between stays.
    cache.populateCachedTimestamps(&row, kAudience);
    EXPECT_EQ(sequenceTimes(cache), (Times{{5, {30, 35, 40}}, {8, {12}}}));
}

TEST_F(AudienceTimestampsCache, SequenceEntryExistsOnlyOncePopulatedOrAdded) {
    ZDMAudienceTimestampsCache cache;
    EXPECT_EQ(sequenceTimes(cache), std::nullopt);
    cache.populateCachedTimestamps(nullptr, kAudience);
    EXPECT_EQ(sequenceTimes(cache), Times{});
    EXPECT_TRUE(dynamicTimes(cache).empty());

    ZDMAudienceTimestampsCache other;
    other.addEvaluationTimestamp(3, eventFilter(1, false, true));
    EXPECT_EQ(sequenceTimes(other), (Times{{1, {3}}}));
}

TEST_F(AudienceTimestampsCache, UndecodableRowGivesAnEmptyAudience) {
    for (const Data& bytes : {Data{0x1a, 0x05, 0x08}, Data{0xff, 0xff, 0xff}, Data()}) {
        ZDMAudienceTimestampsCache cache;
        const ZDMFilterResult row(kAudience, bytes, Data());
        cache.populateCachedTimestamps(&row, kAudience);
        EXPECT_TRUE(dynamicTimes(cache).empty());
        EXPECT_EQ(sequenceTimes(cache), Times{});
        // The audience counts as populated: a dynamic time is now kept.
        cache.addEvaluationTimestamp(5, eventFilter(1, true, false));
        EXPECT_EQ(dynamicTimes(cache).size(), 1u);
    }
}

}  // namespace
