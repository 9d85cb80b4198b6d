#pragma once
// The event counters of one day, by which the engine enforces its daily limits. Every increment
// names today's day number; a day other than the stored one starts the counters afresh first.
#include <cstdint>

class ZDMDailyCounts {
  public:
    ZDMDailyCounts(int32_t day, int32_t conversionsCount, int32_t allEventsCount, int32_t publicEventsCount,
                   int32_t errorEventsCount, int32_t realtimeCount)
        : day_(day),
          conversionsCount_(conversionsCount),
          allEventsCount_(allEventsCount),
          publicEventsCount_(publicEventsCount),
          errorEventsCount_(errorEventsCount),
          realtimeCount_(realtimeCount) {}

    // One logged event standing for `effectiveEventCount` events: a conversion counts once whatever
    // that number is.
    void incrementCountsForCurrentDay(int32_t day, bool isPublicEvent, bool isConversion,
                                      int32_t effectiveEventCount = 1);
    void incrementErrorEventsCountForCurrentDay(int32_t day);
    void incrementRealtimeCountsForCurrentDay(int32_t day);
    // Never below 0.
    void decrementAllEventsCount();
    void resetWithNewDay(int32_t day);

    int32_t day() const { return day_; }
    int32_t conversionsCount() const { return conversionsCount_; }
    int32_t allEventsCount() const { return allEventsCount_; }
    int32_t publicEventsCount() const { return publicEventsCount_; }
    int32_t errorEventsCount() const { return errorEventsCount_; }
    int32_t realtimeCount() const { return realtimeCount_; }

  private:
    void startDayIfNew(int32_t day);

    int32_t day_;
    int32_t conversionsCount_;
    int32_t allEventsCount_;
    int32_t publicEventsCount_;
    int32_t errorEventsCount_;
    int32_t realtimeCount_;
};
