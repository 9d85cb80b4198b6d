#pragma once
// Audience evaluation as the engine drives it: the server's audience definitions go in with each
// configuration, events and user properties are evaluated on the worker queue, and each bundle
// takes the results. The evaluator that keeps and matches audiences (ZDMAudience) lives in a layer
// above the engine, which installs a factory of its adapter here; until one is installed, the least
// evaluator keeps nothing, accepts every update and evaluation and attaches no results.
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ZDMAudienceTimestampsCache;
class ZDMDatabase;
class ZDMEvent;
class ZDMEventAggregates;
class ZDMPBAudience;
class ZDMPBAudienceLeafFilterResult;
class ZDMPBUserAttribute;

class ZDMEngineAudience {
  public:
    using Factory = std::function<std::shared_ptr<ZDMEngineAudience>(std::shared_ptr<ZDMDatabase> database)>;

    // nullptr without a database (start-up then fails).
    static std::shared_ptr<ZDMEngineAudience> initWithDatabase(std::shared_ptr<ZDMDatabase> database);
    // Null puts the least evaluator back.
    static void setFactory(Factory factory);

    virtual ~ZDMEngineAudience() = default;

    virtual bool updateAudiences(const std::vector<std::shared_ptr<ZDMPBAudience>>& audiences);
    virtual bool evaluateFiltersForEvent(const ZDMEvent& event, const ZDMEventAggregates* eventAggregates,
                                         ZDMAudienceTimestampsCache* audienceTimestampsCache);
    virtual bool evaluateFiltersForNanoUserProperty(const ZDMPBUserAttribute& userProperty,
                                                    ZDMAudienceTimestampsCache* audienceTimestampsCache,
                                                    std::optional<double> evaluationTime);
    // One result per audience for the next bundle; `results` is emptied on failure.
    virtual bool resultsForBundling(std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>>* results);
    virtual bool clearEvaluationResultsForSessionScopedFilters();
    // A fresh timestamps cache for one bundle's evaluations, so that times added by its events are
    // seen by its user properties; nullptr when the evaluator keeps none.
    virtual std::shared_ptr<ZDMAudienceTimestampsCache> makeTimestampsCache();
};
