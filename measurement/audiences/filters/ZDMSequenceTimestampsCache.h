#pragma once
// The match times of one audience's sequence filters, per filter ID in the order they were added.
// Event filters collect every match; a user property keeps only its latest setting.
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "measurement/wire/ZDMPBAudienceMessages.h"

class ZDMSequenceTimestampsCache {
  public:
    explicit ZDMSequenceTimestampsCache(int32_t audienceID) : audienceID_(audienceID) {}

    int32_t audienceID() const { return audienceID_; }
    // Appends unless the last time has the same whole second; an earlier time is still appended
    // after a warning (42000), since events of one bundle need not arrive in order.
    void addEventFilterTimestamp(double timestamp, int32_t filterID);
    // Replaces the filter's list by the one time, warning (42001) when it goes back in time.
    void setUserPropertyTimestamp(double timestamp, int32_t filterID);
    // Sorted by filter ID, each list ascending, times as whole seconds.
    std::vector<std::shared_ptr<ZDMPBSequenceFilterResultTimestamp>> sequenceFilterResultTimestamps() const;

  private:
    const int32_t audienceID_;
    std::map<int32_t, std::vector<double>> timestamps_;
};
