#pragma once
// One raw event read back from the database, with its row ID and its metadata's fingerprint.
// Immutable; shared freely between threads.
#include <cstdint>
#include <memory>

class ZDMEvent;

class ZDMRawEventData {
  public:
    // nullptr for no event (28000) or a negative row ID (28001); row ID 0 is accepted.
    static std::shared_ptr<ZDMRawEventData> initWithRawEvent(std::shared_ptr<ZDMEvent> rawEvent,
                                                             int64_t rowID, int64_t metadataFingerprint);

    const std::shared_ptr<ZDMEvent>& rawEvent() const { return rawEvent_; }
    int64_t rowID() const { return rowID_; }
    int64_t metadataFingerprint() const { return metadataFingerprint_; }

  private:
    ZDMRawEventData(std::shared_ptr<ZDMEvent> rawEvent, int64_t rowID, int64_t metadataFingerprint)
        : rawEvent_(std::move(rawEvent)), rowID_(rowID), metadataFingerprint_(metadataFingerprint) {}

    std::shared_ptr<ZDMEvent> rawEvent_;
    int64_t rowID_;
    int64_t metadataFingerprint_;
};
