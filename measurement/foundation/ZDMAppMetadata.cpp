#include "measurement/foundation/ZDMAppMetadata.h"

#include <limits>

#include "measurement/foundation/ZDMMonitor.h"

std::optional<ZDMAppMetadata> ZDMAppMetadata::initWithLastBundleIndex(int32_t lastBundleIndex,
                                                                      double lastBundleStartTimestamp,
                                                                      double lastBundleEndTimestamp) {
    if (lastBundleIndex < 0) {
        ZDMMonitor::sharedMonitor()->logWithLevel(
            2, 4000, "Failed to create app metadata object. Received negative last bundle index.");
        return std::nullopt;
    }
    return ZDMAppMetadata(lastBundleIndex, lastBundleStartTimestamp, lastBundleEndTimestamp);
}

void ZDMAppMetadata::incrementLastBundleIndex() {
    if (lastBundleIndex_ == std::numeric_limits<int32_t>::max()) {
        lastBundleIndex_ = 0;
        ZDMMonitor::sharedMonitor()->logWithLevel(5, 4001, "Bundle index overflow. Bundle index reset to 0.");
        return;
    }
    ++lastBundleIndex_;
}
