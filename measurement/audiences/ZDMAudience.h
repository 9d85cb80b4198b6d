#pragma once
// Which filters of each audience the server defined are currently true, kept as one result row per
// audience: a "status" bit set (evaluated) and a "results" bit set (true), filter f at word f / 64,
// bit f % 64. Stores the definitions, updates the rows from events and user properties while a
// bundle is built, clears session-scoped results at a session start and hands each bundle the
// per-audience results. Runs on the engine's worker queue only and takes no lock; the caller wraps
// what must be atomic in a database transaction.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

class ZDMAudienceFilter;
class ZDMAudienceTimestampsCache;
class ZDMDatabase;
class ZDMEvent;
class ZDMEventAggregates;
class ZDMEventFilter;
class ZDMFilterResult;
class ZDMPBAudience;
class ZDMPBAudienceLeafFilterResult;
class ZDMPBUserAttribute;
class ZDMPropertyFilter;
class ZDMUserAttribute;

class ZDMAudience {
  public:
    // nullptr without a database.
    static std::shared_ptr<ZDMAudience> initWithDatabase(std::shared_ptr<ZDMDatabase> database);
    explicit ZDMAudience(std::shared_ptr<ZDMDatabase> database) : database_(std::move(database)) {}

    // Each answers NO only when the database fails; a filter that cannot be evaluated leaves its
    // bits as they were. Without a cache a fresh one serves the one call.
    bool evaluateFiltersForEvent(const ZDMEvent& event, const ZDMEventAggregates* eventAggregates,
                                 ZDMAudienceTimestampsCache* audienceTimestampsCache);
    bool evaluateFiltersForEventName(const std::string& eventName, const Dictionary& eventParameters,
                                     const ZDMEventAggregates* eventAggregates, double eventTimestamp,
                                     ZDMAudienceTimestampsCache* audienceTimestampsCache);
    bool evaluateFiltersForUserProperty(const ZDMUserAttribute& userProperty,
                                        ZDMAudienceTimestampsCache* audienceTimestampsCache,
                                        double evaluationTimestamp);
    // Without an evaluation time the property's own set time is used.
    bool evaluateFiltersForNanoUserProperty(const ZDMPBUserAttribute& userProperty,
                                            ZDMAudienceTimestampsCache* audienceTimestampsCache,
                                            std::optional<double> evaluationTime);

    // Replaces the stored definitions by the valid ones of `audiences` (an invalid one is logged and
    // skipped). Too many audiences change nothing and still answer YES.
    bool updateAudiences(const std::vector<std::shared_ptr<ZDMPBAudience>>& audiences);
    // Above the result-row limit, deletes the rows of audiences that neither keep stored filters
    // nor appear in `newAudienceIDs`.
    bool maybeDeleteStaleFilterResults(const std::set<int32_t>& newAudienceIDs);
    // One leaf result per audience with a status bit; each row's current results become its
    // previous ones. `results` is emptied on failure.
    bool resultsForBundling(std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>>* results);
    // Clears the bits and match times of every session-scoped filter; a row left without a status
    // bit is deleted.
    bool clearEvaluationResultsForSessionScopedFilters();

    // Both bits set; NO for no row.
    static bool isFilterResult(const ZDMFilterResult* filterResult, int32_t filterID);
    // The row with the filter's status bit set and its results bit after `newEvaluationResult`, the
    // match times from the cache and the previous results kept. nullptr for a negative filter ID.
    static std::shared_ptr<ZDMFilterResult> updatedFilterResultWithFilterID(
        int32_t filterID, int32_t audienceID, const ZDMFilterResult* currentFilterResult,
        bool newEvaluationResult, const ZDMAudienceTimestampsCache& audienceTimestampsCache);

    const std::shared_ptr<ZDMDatabase>& database() const { return database_; }

    // The monitor codes and texts of one kind of evaluation.
    struct EvaluationReports;

  private:
    template <class Filter, class Evaluate>
    bool evaluateFilters(const std::optional<std::vector<std::shared_ptr<Filter>>>& filters,
                         const Error& filtersError, ZDMAudienceTimestampsCache* audienceTimestampsCache,
                         double timestamp, const Evaluate& evaluate, const EvaluationReports& reports,
                         const Value& nameForLog);

    const std::shared_ptr<ZDMDatabase> database_;
};

inline int32_t ZDMFilterWordIndex(int32_t filterID) {
    return filterID / 64;
}
inline int32_t ZDMFilterBitIndex(int32_t filterID) {
    return filterID % 64;
}
// NO only for a true filter whose result can never change again (not dynamic, sequence or
// session-scoped).
bool ZDMShouldEvaluateFilter(bool currentValue, const ZDMAudienceFilter& filter);
// A false outcome replaces the current value only for a dynamic filter that is not session-scoped.
bool ZDMShouldApplyPropertyResult(bool outcome, const ZDMPropertyFilter& filter);
// nullopt (logged 6035 / 6036) when the stored bytes are empty or do not decode, or when matching
// cannot tell.
std::optional<bool> ZDMEvaluateStoredEventFilter(const ZDMEventFilter& filter, const Dictionary& parameters,
                                                 const ZDMEventAggregates* eventAggregates);
std::optional<bool> ZDMEvaluateStoredPropertyFilter(bool currentValue, const ZDMPropertyFilter& filter,
                                                    const ZDMUserAttribute& userProperty);
// Text, else double, else integer value; nullptr without one of them or for a refused name.
std::shared_ptr<ZDMUserAttribute> ZDMUserAttributeFromWireUserAttribute(
    const ZDMPBUserAttribute& userProperty);
// The first failing check sets `error` (codes 9 audience, 10 event filter, 11 property filter).
bool ZDMValidateAudienceDefinition(const ZDMPBAudience& audience, const std::set<int32_t>& seenAudienceIDs,
                                   Error* error);
bool ZDMResultStatusHasAnyBit(const std::vector<uint64_t>& status);
