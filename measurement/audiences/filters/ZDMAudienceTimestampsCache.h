#pragma once
// When the dynamic, session-scoped and sequence filters of each audience last matched, for one
// batch of evaluations. Each audience is loaded from its stored result row at most once per cache,
// so times added during the batch are never lost to a reload. Used on the engine's worker queue
// only; no lock.
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "measurement/audiences/filters/ZDMSequenceTimestampsCache.h"
#include "measurement/foundation/ZDMAudienceFilter.h"
#include "measurement/foundation/ZDMFilterResult.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"

class ZDMAudienceTimestampsCache {
  public:
    // `result` may be nullptr (no stored row); bytes that do not decode load as an empty row.
    void populateCachedTimestamps(const ZDMFilterResult* result, int32_t audienceID);
    // A sequence filter always records; a dynamic or session-scoped one only a strictly newer time,
    // and only for an audience that was populated.
    void addEvaluationTimestamp(double timestamp, const ZDMAudienceFilter& filter);
    // Sorted by filter ID, times as whole seconds; empty when the audience has none.
    std::vector<std::shared_ptr<ZDMPBDynamicFilterResultTimestamp>> dynamicTimestampsForAudienceID(
        int32_t audienceID) const;
    // nullopt when the audience has no sequence entry.
    std::optional<std::vector<std::shared_ptr<ZDMPBSequenceFilterResultTimestamp>>>
    sequenceTimestampsForAudienceID(int32_t audienceID) const;

  private:
    std::map<int32_t, std::map<int32_t, double>> cachedDynamicFilterEvaluationTimestamps_;
    std::map<int32_t, ZDMSequenceTimestampsCache> cachedSequenceEvaluationTimestamps_;
};
