#include "measurement/foundation/ZDMRawEventData.h"

#include "measurement/foundation/ZDMMonitor.h"

std::shared_ptr<ZDMRawEventData> ZDMRawEventData::initWithRawEvent(std::shared_ptr<ZDMEvent> rawEvent,
                                                                   int64_t rowID,
                                                                   int64_t metadataFingerprint) {
    if (!rawEvent) {
        ZDMMonitor::sharedMonitor()->logWithLevel(
            4, 28000, "Failed to create raw event data. Received invalid raw event.");
        return nullptr;
    }
    if (rowID < 0) {
        ZDMMonitor::sharedMonitor()->logWithLevel(
            4, 28001, "Failed to create raw event data. Received invalid row ID. Row ID", Value(rowID));
        return nullptr;
    }
    return std::shared_ptr<ZDMRawEventData>(
        new ZDMRawEventData(std::move(rawEvent), rowID, metadataFingerprint));
}
