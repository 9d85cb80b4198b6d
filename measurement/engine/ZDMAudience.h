#pragma once
// Audience evaluation as the engine drives it: the server's audience definitions go in with each
// configuration, events and user properties are evaluated on the worker queue, and each bundle
// takes the results. The evaluator that keeps and matches audiences lives in a layer above the
// engine and installs its factory here; until it does, this least evaluator keeps nothing, accepts
// every update and evaluation and attaches no results.
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

class ZDMAudience {
  public:
    using Factory = std::function<std::shared_ptr<ZDMAudience>(std::shared_ptr<ZDMDatabase> database)>;

    // nullptr without a database (start-up then fails).
    static std::shared_ptr<ZDMAudience> initWithDatabase(std::shared_ptr<ZDMDatabase> database);
    // Null puts the least evaluator back.
    static void setFactory(Factory factory);

    explicit ZDMAudience(std::shared_ptr<ZDMDatabase> database) : database_(std::move(database)) {}
    virtual ~ZDMAudience() = default;

    virtual bool updateAudiences(const std::vector<std::shared_ptr<ZDMPBAudience>>& audiences);
    virtual bool evaluateFiltersForEvent(const ZDMEvent& event, const ZDMEventAggregates* eventAggregates,
                                         ZDMAudienceTimestampsCache* cache);
    virtual bool evaluateFiltersForNanoUserProperty(const ZDMPBUserAttribute& property,
                                                    ZDMAudienceTimestampsCache* cache,
                                                    std::optional<double> evaluationTime);
    // One result per audience for the next bundle; nullopt on failure.
    virtual std::optional<std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>>> resultsForBundling();
    virtual void clearEvaluationResultsForSessionScopedFilters();

    const std::shared_ptr<ZDMDatabase>& database() const { return database_; }

  private:
    const std::shared_ptr<ZDMDatabase> database_;
};
