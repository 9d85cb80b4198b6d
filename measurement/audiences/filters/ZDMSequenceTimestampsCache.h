#pragma once
// The match times of one audience's sequence filters, per filter ID in the order they were added.
// Event filters collect every match; a user property keeps only its latest setting.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "measurement/wire/ZDMPBAudienceMessages.h"

class ZDMSequenceTimestampsCache {
  public:
    explicit ZDMSequenceTimestampsCache(int32_t audienceID) : audienceID_(audienceID) {}
    // nullptr without an audience.
    static std::shared_ptr<ZDMSequenceTimestampsCache> initWithAudienceID(std::optional<int32_t> audienceID);

    int32_t audienceID() const { return audienceID_; }
    // Appends unless the last time has the same whole second. An earlier time warns (42000) and is
    // still appended when its whole second differs, since events of one bundle need not arrive in
    // order. Without a filter ID nothing changes.
    void addEventFilterTimestamp(double timestamp, std::optional<int32_t> filterID);
    // Replaces the filter's list by the one time, warning (42001) when it goes back in time.
    void setUserPropertyTimestamp(double timestamp, std::optional<int32_t> filterID);
    // A copy; none for a missing or unknown filter ID.
    std::optional<std::vector<double>> sequenceTimestampsForFilterID(std::optional<int32_t> filterID) const;
    // Sorted by filter ID, each list ascending, times as whole seconds.
    std::vector<std::shared_ptr<ZDMPBSequenceFilterResultTimestamp>> sequenceFilterResultTimestamps() const;

  private:
    const int32_t audienceID_;
    std::map<int32_t, std::vector<double>> timestamps_;
};
