#include "measurement/audiences/ZDMAudienceForEngine.h"

#include "measurement/audiences/ZDMAudience.h"
#include "measurement/audiences/filters/ZDMAudienceTimestampsCache.h"
#include "measurement/engine/ZDMEngineAudience.h"

namespace {
class AudienceForEngine final : public ZDMEngineAudience {
  public:
    explicit AudienceForEngine(std::shared_ptr<ZDMAudience> audience) : audience_(std::move(audience)) {}

    bool updateAudiences(const std::vector<std::shared_ptr<ZDMPBAudience>>& audiences) override {
        return audience_->updateAudiences(audiences);
    }
    bool evaluateFiltersForEvent(const ZDMEvent& event, const ZDMEventAggregates* eventAggregates,
                                 ZDMAudienceTimestampsCache* audienceTimestampsCache) override {
        return audience_->evaluateFiltersForEvent(event, eventAggregates, audienceTimestampsCache);
    }
    bool evaluateFiltersForNanoUserProperty(const ZDMPBUserAttribute& userProperty,
                                            ZDMAudienceTimestampsCache* audienceTimestampsCache,
                                            std::optional<double> evaluationTime) override {
        return audience_->evaluateFiltersForNanoUserProperty(userProperty, audienceTimestampsCache,
                                                             evaluationTime);
    }
    bool resultsForBundling(std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>>* results) override {
        return audience_->resultsForBundling(results);
    }
    bool clearEvaluationResultsForSessionScopedFilters() override {
        return audience_->clearEvaluationResultsForSessionScopedFilters();
    }
    std::shared_ptr<ZDMAudienceTimestampsCache> makeTimestampsCache() override {
        return std::make_shared<ZDMAudienceTimestampsCache>();
    }

  private:
    const std::shared_ptr<ZDMAudience> audience_;
};
}  // namespace

void ZDMInstallAudienceForEngine() {
    ZDMEngineAudience::setFactory(
        [](std::shared_ptr<ZDMDatabase> database) -> std::shared_ptr<ZDMEngineAudience> {
            auto audience = ZDMAudience::initWithDatabase(std::move(database));
            if (!audience) return nullptr;
            return std::make_shared<AudienceForEngine>(std::move(audience));
        });
}
