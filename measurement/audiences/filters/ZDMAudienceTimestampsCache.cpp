#include "measurement/audiences/filters/ZDMAudienceTimestampsCache.h"

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMEventFilter.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/wire/ZDMPBAccessors.h"

namespace {

constexpr int32_t kDynamicTimestampsIndex = 2;
constexpr int32_t kSequenceTimestampsIndex = 3;
constexpr int32_t kTimestampFilterIDIndex = 0;
constexpr int32_t kTimestampTimeIndex = 1;

// A row that does not decode reads as an empty one: the audience then starts afresh rather than
// blocking evaluation.
std::shared_ptr<ZDMPBResultData> decodedCurrentResults(const ZDMFilterResult* result) {
    std::shared_ptr<ZDMPBResultData> decoded;
    if (result) decoded = ZDMPBResultData::initWithBuffer(result->currentResults());
    return decoded ? decoded : ZDMPBResultData::initWithBuffer(nullptr);
}

template <class Message>
std::vector<std::shared_ptr<Message>> messagesAt(const ZDMPBResultData& data, int32_t index) {
    std::vector<std::shared_ptr<Message>> messages;
    for (const Value& element :
         ZDMPBGetArray(&data, index, &Message::messageClass()).value_or(Value::Array())) {
        auto message = element.objectAs<Message>();
        if (message) messages.push_back(std::const_pointer_cast<Message>(message));
    }
    return messages;
}

}  // namespace

void ZDMAudienceTimestampsCache::populateCachedTimestamps(const ZDMFilterResult* result, int32_t audienceID) {
    const bool haveDynamic = cachedDynamicFilterEvaluationTimestamps_.contains(audienceID);
    const bool haveSequence = cachedSequenceEvaluationTimestamps_.contains(audienceID);
    if (haveDynamic && haveSequence) return;
    const auto data = decodedCurrentResults(result);
    if (!haveDynamic) {
        std::map<int32_t, double> times;
        for (const auto& entry :
             messagesAt<ZDMPBDynamicFilterResultTimestamp>(*data, kDynamicTimestampsIndex))
            times[ZDMPBGetInt32(entry.get(), kTimestampFilterIDIndex)] =
                static_cast<double>(ZDMPBGetInt64(entry.get(), kTimestampTimeIndex));
        cachedDynamicFilterEvaluationTimestamps_.emplace(audienceID, std::move(times));
    }
    if (!haveSequence) {
        // Only the last time of each list is carried over, so stored lists grow within one cache's
        // life and no further.
        ZDMSequenceTimestampsCache sequence(audienceID);
        for (const auto& entry :
             messagesAt<ZDMPBSequenceFilterResultTimestamp>(*data, kSequenceTimestampsIndex)) {
            const auto times = ZDMPBGetArray(entry.get(), kTimestampTimeIndex).value_or(Value::Array());
            if (times.empty()) continue;
            sequence.addEventFilterTimestamp(static_cast<double>(times.back().integerOr(0)),
                                             ZDMPBGetInt32(entry.get(), kTimestampFilterIDIndex));
        }
        cachedSequenceEvaluationTimestamps_.emplace(audienceID, std::move(sequence));
    }
}

void ZDMAudienceTimestampsCache::addEvaluationTimestamp(double timestamp, const ZDMAudienceFilter& filter) {
    const int32_t audienceID = filter.audienceID();
    if (filter.isSequence()) {
        auto& sequence =
            cachedSequenceEvaluationTimestamps_.try_emplace(audienceID, audienceID).first->second;
        if (dynamic_cast<const ZDMEventFilter*>(&filter))
            sequence.addEventFilterTimestamp(timestamp, filter.filterID());
        else
            sequence.setUserPropertyTimestamp(timestamp, filter.filterID());
        return;
    }
    if (!filter.isSessionScoped() && !filter.isDynamic()) return;
    const auto audience = cachedDynamicFilterEvaluationTimestamps_.find(audienceID);
    const double cached = audience == cachedDynamicFilterEvaluationTimestamps_.end() ? 0
                          : audience->second.contains(filter.filterID())
                              ? audience->second.at(filter.filterID())
                              : 0;
    if (timestamp <= cached) {
        ZDMMeasurement::monitor()->logWithLevel(
            5, 6037,
            "Candidate evaluation timestamp is earlier than cached evaluation "
            "timestamp");
        return;
    }
    if (audience != cachedDynamicFilterEvaluationTimestamps_.end())
        audience->second[filter.filterID()] = timestamp;
}

std::vector<std::shared_ptr<ZDMPBDynamicFilterResultTimestamp>>
ZDMAudienceTimestampsCache::dynamicTimestampsForAudienceID(int32_t audienceID) const {
    std::vector<std::shared_ptr<ZDMPBDynamicFilterResultTimestamp>> results;
    const auto audience = cachedDynamicFilterEvaluationTimestamps_.find(audienceID);
    if (audience == cachedDynamicFilterEvaluationTimestamps_.end()) return results;
    for (const auto& [filterID, time] : audience->second) {
        auto message = ZDMPBDynamicFilterResultTimestamp::initWithMessageInfo(nullptr);
        ZDMPBSetInt32(message.get(), kTimestampFilterIDIndex, filterID);
        ZDMPBSetInt64(message.get(), kTimestampTimeIndex, static_cast<int64_t>(time));
        results.push_back(std::move(message));
    }
    return results;
}

std::optional<std::vector<std::shared_ptr<ZDMPBSequenceFilterResultTimestamp>>>
ZDMAudienceTimestampsCache::sequenceTimestampsForAudienceID(int32_t audienceID) const {
    const auto sequence = cachedSequenceEvaluationTimestamps_.find(audienceID);
    if (sequence == cachedSequenceEvaluationTimestamps_.end()) return std::nullopt;
    return sequence->second.sequenceFilterResultTimestamps();
}
