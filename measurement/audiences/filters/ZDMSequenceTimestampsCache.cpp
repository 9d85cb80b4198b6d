#include "measurement/audiences/filters/ZDMSequenceTimestampsCache.h"

#include <algorithm>

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/wire/ZDMPBAccessors.h"

namespace {

constexpr int32_t kFilterIDIndex = 0;
constexpr int32_t kEvalTimestampsIndex = 1;

}  // namespace

void ZDMSequenceTimestampsCache::addEventFilterTimestamp(double timestamp, int32_t filterID) {
    std::vector<double>& times = timestamps_[filterID];
    if (!times.empty()) {
        if (static_cast<int64_t>(times.back()) == static_cast<int64_t>(timestamp)) return;
        if (timestamp < times.back())
            ZDMMeasurement::monitor()->logWithLevel(
                5, 42000, "Adding a sequence timestamp less than the last added timestamp");
    }
    times.push_back(timestamp);
}

void ZDMSequenceTimestampsCache::setUserPropertyTimestamp(double timestamp, int32_t filterID) {
    std::vector<double>& times = timestamps_[filterID];
    if (!times.empty() && timestamp < times.back())
        ZDMMeasurement::monitor()->logWithLevel(
            5, 42001, "Setting a sequence timestamp less than the last set timestamp");
    times.assign(1, timestamp);
}

std::vector<std::shared_ptr<ZDMPBSequenceFilterResultTimestamp>>
ZDMSequenceTimestampsCache::sequenceFilterResultTimestamps() const {
    std::vector<std::shared_ptr<ZDMPBSequenceFilterResultTimestamp>> results;
    for (const auto& [filterID, times] : timestamps_) {
        std::vector<int64_t> seconds;
        for (double time : times) seconds.push_back(static_cast<int64_t>(time));
        std::sort(seconds.begin(), seconds.end());
        Value::Array wire(seconds.begin(), seconds.end());
        auto message = ZDMPBSequenceFilterResultTimestamp::initWithMessageInfo(nullptr);
        ZDMPBSetInt32(message.get(), kFilterIDIndex, filterID);
        ZDMPBSetArray(message.get(), kEvalTimestampsIndex, wire);
        results.push_back(std::move(message));
    }
    return results;
}
