#include "measurement/engine/ZDMAudience.h"

#include <mutex>

namespace {
std::mutex factoryMutex;
ZDMAudience::Factory installedFactory;
}  // namespace

std::shared_ptr<ZDMAudience> ZDMAudience::initWithDatabase(std::shared_ptr<ZDMDatabase> database) {
    if (!database) return nullptr;
    Factory factory;
    {
        std::lock_guard lock(factoryMutex);
        factory = installedFactory;
    }
    if (factory) return factory(std::move(database));
    return std::make_shared<ZDMAudience>(std::move(database));
}

void ZDMAudience::setFactory(Factory factory) {
    std::lock_guard lock(factoryMutex);
    installedFactory = std::move(factory);
}

bool ZDMAudience::updateAudiences(const std::vector<std::shared_ptr<ZDMPBAudience>>&) {
    return true;
}

bool ZDMAudience::evaluateFiltersForEvent(const ZDMEvent&, const ZDMEventAggregates*,
                                          ZDMAudienceTimestampsCache*) {
    return true;
}

bool ZDMAudience::evaluateFiltersForNanoUserProperty(const ZDMPBUserAttribute&, ZDMAudienceTimestampsCache*,
                                                     std::optional<double>) {
    return true;
}

std::optional<std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>>> ZDMAudience::resultsForBundling() {
    return std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>>{};
}

void ZDMAudience::clearEvaluationResultsForSessionScopedFilters() {}
