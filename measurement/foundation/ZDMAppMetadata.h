#pragma once
// The bundling bookkeeping of the app, held in the single app_metadata row: the index of the last
// bundle made (never negative) and the time span, in seconds, of that bundle.
#include <cstdint>
#include <optional>

class ZDMAppMetadata {
  public:
    // No record (4000 logged) for a negative index.
    static std::optional<ZDMAppMetadata> initWithLastBundleIndex(int32_t lastBundleIndex,
                                                                 double lastBundleStartTimestamp,
                                                                 double lastBundleEndTimestamp);

    // The next index; past the largest int32 it starts over at 0 (4001 logged).
    void incrementLastBundleIndex();

    int32_t lastBundleIndex() const { return lastBundleIndex_; }
    double lastBundleStartTimestamp() const { return lastBundleStartTimestamp_; }
    void setLastBundleStartTimestamp(double timestamp) { lastBundleStartTimestamp_ = timestamp; }
    double lastBundleEndTimestamp() const { return lastBundleEndTimestamp_; }
    void setLastBundleEndTimestamp(double timestamp) { lastBundleEndTimestamp_ = timestamp; }

  private:
    ZDMAppMetadata(int32_t index, double start, double end)
        : lastBundleIndex_(index), lastBundleStartTimestamp_(start), lastBundleEndTimestamp_(end) {}

    int32_t lastBundleIndex_;
    double lastBundleStartTimestamp_;
    double lastBundleEndTimestamp_;
};
