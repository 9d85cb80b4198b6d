#include "measurement/foundation/ZDMEventAggregates.h"

#include <limits>

#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMMonitor.h"

namespace {

void increment(int32_t& count, int64_t code, const char* overflowMessage) {
    if (count == std::numeric_limits<int32_t>::max()) {
        count = 0;
        ZDMMonitor::sharedMonitor()->logWithLevel(5, code, overflowMessage);
        return;
    }
    ++count;
}

}  // namespace

std::shared_ptr<ZDMEventAggregates> ZDMEventAggregates::initWithName(const std::string& name,
                                                                     int32_t lifetimeCount,
                                                                     int32_t currentBundleCount,
                                                                     int32_t currentSessionCount,
                                                                     double lastFireTimestamp) {
    if (!ZDMDataTypeValidator::isValidInternalEventName(Value(name))) return nullptr;
    if (lifetimeCount < 0 || currentBundleCount < 0 || currentSessionCount < 0) {
        ZDMMonitor::sharedMonitor()->logWithLevel(
            5, 17000, "Failed to create event aggregates object. Received negative count.");
        return nullptr;
    }
    std::shared_ptr<ZDMEventAggregates> aggregates(new ZDMEventAggregates);
    aggregates->name_ = name;
    aggregates->lifetimeCount_ = lifetimeCount;
    aggregates->currentBundleCount_ = currentBundleCount;
    aggregates->currentSessionCount_ = currentSessionCount;
    aggregates->lastFireTimestamp_ = lastFireTimestamp;
    return aggregates;
}

void ZDMEventAggregates::incrementLifetimeCount() {
    increment(lifetimeCount_, 17001, "Lifetime count overflow. Lifetime count reset to 0.");
}

void ZDMEventAggregates::incrementCurrentBundleCount() {
    increment(currentBundleCount_, 17002, "Bundle count overflow. Bundle count reset to 0.");
}

void ZDMEventAggregates::incrementCurrentSessionCount() {
    increment(currentSessionCount_, 17003, "Session count overflow. Session count reset to 0.");
}
