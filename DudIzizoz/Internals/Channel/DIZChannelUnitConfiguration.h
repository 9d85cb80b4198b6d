#pragma once
// The settings of one channel unit, fixed when it is made: its log group (also its key in the log
// store), how long it lets logs gather, how many go in one batch and how many batches may wait for
// an answer at once.
#include <cstdint>
#include <string>
#include <utility>

inline constexpr int64_t kDIZDefaultChannelPriority = 1;
inline constexpr uint64_t kDIZDefaultFlushInterval = 6;  // seconds
inline constexpr uint64_t kDIZDefaultBatchSizeLimit = 50;
inline constexpr uint64_t kDIZDefaultPendingBatchesLimit = 3;

class DIZChannelUnitConfiguration {
  public:
    // Note the order: flush interval before the two limits.
    DIZChannelUnitConfiguration(std::string groupId, int64_t priority, uint64_t flushInterval,
                                uint64_t batchSizeLimit, uint64_t pendingBatchesLimit)
        : groupId_(std::move(groupId)),
          priority_(priority),
          batchSizeLimit_(batchSizeLimit),
          pendingBatchesLimit_(pendingBatchesLimit),
          flushInterval_(flushInterval) {}
    // The default configuration: priority 1, 50 logs a batch, 3 batches awaiting an answer.
    explicit DIZChannelUnitConfiguration(std::string groupId,
                                         uint64_t flushInterval = kDIZDefaultFlushInterval)
        : DIZChannelUnitConfiguration(std::move(groupId), kDIZDefaultChannelPriority, flushInterval,
                                      kDIZDefaultBatchSizeLimit, kDIZDefaultPendingBatchesLimit) {}

    const std::string& groupId() const { return groupId_; }
    // Carried for the owner; neither the unit nor the log store reads it.
    int64_t priority() const { return priority_; }
    // The most logs in one batch; with the 6-second interval also the count that sends at once.
    uint64_t batchSizeLimit() const { return batchSizeLimit_; }
    // The most batches sent and not yet answered.
    uint64_t pendingBatchesLimit() const { return pendingBatchesLimit_; }
    // Whole seconds between the first unsent log and its send; 0 sends every log at once.
    uint64_t flushInterval() const { return flushInterval_; }

  private:
    std::string groupId_;
    int64_t priority_;
    uint64_t batchSizeLimit_;
    uint64_t pendingBatchesLimit_;
    uint64_t flushInterval_;
};
