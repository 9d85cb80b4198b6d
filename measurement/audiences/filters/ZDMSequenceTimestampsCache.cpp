#include "measurement/audiences/filters/ZDMSequenceTimestampsCache.h"

#include <algorithm>

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/wire/ZDMPBAccessors.h"

namespace {

constexpr int32_t kFilterIDIndex = 0;
constexpr int32_t kEvalTimestampsIndex = 1;

}  // namespace

std::shared_ptr<ZDMSequenceTimestampsCache> ZDMSequenceTimestampsCache::initWithAudienceID(
    std::optional<int32_t> audienceID) {
    return audienceID ? std::make_shared<ZDMSequenceTimestampsCache>(*audienceID) : nullptr;
}

void ZDMSequenceTimestampsCache::addEventFilterTimestamp(double timestamp, std::optional<int32_t> filterID) {
    if (!filterID) return;
    std::vector<double>& times = timestamps_[*filterID];
    if (times.empty()) {
        times.push_back(timestamp);
        return;
    }
    if (timestamp < times.back())
        ZDMMeasurement::monitor()->logWithLevel(
            5, 42000, "Adding a sequence timestamp less than the last added timestamp");
    if (static_cast<int64_t>(times.back()) != static_cast<int64_t>(timestamp)) times.push_back(timestamp);
}

void ZDMSequenceTimestampsCache::setUserPropertyTimestamp(double timestamp, std::optional<int32_t> filterID) {
    if (!filterID) return;
    std::vector<double>& times = timestamps_[*filterID];
    if (!times.empty() && timestamp < times.back())
        ZDMMeasurement::monitor()->logWithLevel(
            5, 42001, "Setting a sequence timestamp less than the last set timestamp");
    times.assign(1, timestamp);
}

std::optional<std::vector<double>> ZDMSequenceTimestampsCache::sequenceTimestampsForFilterID(
    std::optional<int32_t> filterID) const {
    const auto found = filterID ? timestamps_.find(*filterID) : timestamps_.end();
    if (found == timestamps_.end()) return std::nullopt;
    return found->second;
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
