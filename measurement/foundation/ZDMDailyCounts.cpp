#include "measurement/foundation/ZDMDailyCounts.h"

#include <algorithm>
#include <limits>

namespace {

// Counters stop at the largest int32 instead of overflowing: a count that wrapped to a negative
// number would read as far below every daily limit.
void add(int32_t& counter, int32_t amount) {
    const int64_t sum = int64_t{counter} + amount;
    counter = static_cast<int32_t>(
        std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

void ZDMDailyCounts::startDayIfNew(int32_t day) {
    if (day != day_) resetWithNewDay(day);
}

void ZDMDailyCounts::incrementCountsForCurrentDay(int32_t day, bool isPublicEvent, bool isConversion,
                                                  int32_t effectiveEventCount) {
    startDayIfNew(day);
    if (isConversion) add(conversionsCount_, 1);
    add(allEventsCount_, effectiveEventCount);
    if (isPublicEvent) add(publicEventsCount_, effectiveEventCount);
}

void ZDMDailyCounts::incrementErrorEventsCountForCurrentDay(int32_t day) {
    startDayIfNew(day);
    add(allEventsCount_, 1);
    add(errorEventsCount_, 1);
}

void ZDMDailyCounts::incrementRealtimeCountsForCurrentDay(int32_t day) {
    startDayIfNew(day);
    add(realtimeCount_, 1);
}

void ZDMDailyCounts::decrementAllEventsCount() {
    allEventsCount_ = allEventsCount_ > 0 ? allEventsCount_ - 1 : 0;
}

void ZDMDailyCounts::resetWithNewDay(int32_t day) {
    day_ = day;
    conversionsCount_ = allEventsCount_ = publicEventsCount_ = errorEventsCount_ = realtimeCount_ = 0;
}
