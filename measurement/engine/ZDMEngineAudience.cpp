#include "measurement/engine/ZDMEngineAudience.h"

#include <mutex>

namespace {
std::mutex factoryMutex;
ZDMEngineAudience::Factory installedFactory;
}  // namespace

std::shared_ptr<ZDMEngineAudience> ZDMEngineAudience::initWithDatabase(
    std::shared_ptr<ZDMDatabase> database) {
    if (!database) return nullptr;
    Factory factory;
    {
        std::lock_guard lock(factoryMutex);
        factory = installedFactory;
    }
    if (factory) return factory(std::move(database));
    return std::make_shared<ZDMEngineAudience>();
}

void ZDMEngineAudience::setFactory(Factory factory) {
    std::lock_guard lock(factoryMutex);
    installedFactory = std::move(factory);
}

bool ZDMEngineAudience::updateAudiences(const std::vector<std::shared_ptr<ZDMPBAudience>>&) {
    return true;
}

bool ZDMEngineAudience::evaluateFiltersForEvent(const ZDMEvent&, const ZDMEventAggregates*,
                                                ZDMAudienceTimestampsCache*) {
    return true;
}

bool ZDMEngineAudience::evaluateFiltersForNanoUserProperty(const ZDMPBUserAttribute&,
                                                           ZDMAudienceTimestampsCache*,
                                                           std::optional<double>) {
    return true;
}

bool ZDMEngineAudience::resultsForBundling(
    std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>>* results) {
    if (results) results->clear();
    return true;
}

bool ZDMEngineAudience::clearEvaluationResultsForSessionScopedFilters() {
    return true;
}

std::shared_ptr<ZDMAudienceTimestampsCache> ZDMEngineAudience::makeTimestampsCache() {
    return nullptr;
}
