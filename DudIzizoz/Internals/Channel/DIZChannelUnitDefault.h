#pragma once
// The channel unit of one log group. Logs are saved in the shared log store as they come and sent
// in batches: at once when a 6-second unit has a full batch, otherwise when its one-shot flush
// timer fires. A 2xx answer deletes the batch's logs; a recoverable failure keeps them stored; any
// other status disables the unit and deletes its group's logs. Everything but the first half of
// `enqueueItem` runs on the group's serial queue, which also orders every call of the store.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/WeakDelegateList.h"

class DIZChannelDelegate;
class DIZIngestionProtocol;
class DIZLogContainer;
class DIZStorage;
class DispatchTimer;
struct HTTPURLResponse;

// The prefix of the user-defaults key that keeps, per group, when its oldest unsent log arrived.
inline constexpr const char* kDIZStartTimestampPrefix = "ChannelStartTimer";

class DIZChannelUnitDefault : public DIZChannelUnitProtocol,
                              public std::enable_shared_from_this<DIZChannelUnitDefault> {
  public:
    // The ingestion may be null: the unit then keeps no logs. Units are made by their group.
    static std::shared_ptr<DIZChannelUnitDefault> make(
        std::shared_ptr<DIZIngestionProtocol> ingestion, std::shared_ptr<DIZStorage> storage,
        std::shared_ptr<DIZChannelUnitConfiguration> configuration,
        std::shared_ptr<DispatchQueue> logsDispatchQueue);

    void addDelegate(const std::shared_ptr<DIZChannelDelegate>& delegate) override;
    void removeDelegate(const std::shared_ptr<DIZChannelDelegate>& delegate) override;
    void pauseWithIdentifyingObject(const DIZIdentifyingObject& identifyingObject) override;
    void resumeWithIdentifyingObject(const DIZIdentifyingObject& identifyingObject) override;
    // Disabled, the unit pauses under its own identity; with `deleteDataOnDisabled` it also deletes
    // its group's logs and reports every later log as failed (code 100) instead of storing it.
    void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;

    void enqueueItem(const std::shared_ptr<DIZLog>& item, uint64_t flags) override;
    void pauseSendingLogsWithToken(const std::string& token) override;
    void resumeSendingLogsWithToken(const std::string& token) override;
    void checkPendingLogs() override;
    std::shared_ptr<DIZChannelUnitConfiguration> configuration() const override { return configuration_; }
    std::shared_ptr<DispatchQueue> logsDispatchQueue() const override { return logsDispatchQueue_; }

    // "ChannelStartTimer:<group id>".
    std::string oldestPendingLogTimestampKey() const;

    // Read these on the logs queue.
    bool isEnabled() const { return enabled_; }
    bool isPaused() const { return paused_; }
    bool discardLogs() const { return discardLogs_; }
    uint64_t itemsCount() const { return itemsCount_; }
    const std::vector<std::string>& pendingBatchIds() const { return pendingBatchIds_; }
    bool pendingBatchQueueFull() const { return pendingBatchQueueFull_; }
    bool availableBatchFromStorage() const { return availableBatchFromStorage_; }

  private:
    DIZChannelUnitDefault(std::shared_ptr<DIZIngestionProtocol> ingestion,
                          std::shared_ptr<DIZStorage> storage,
                          std::shared_ptr<DIZChannelUnitConfiguration> configuration,
                          std::shared_ptr<DispatchQueue> logsDispatchQueue);

    void enqueueOnQueue(const std::shared_ptr<DIZLog>& item, const std::string& internalId, uint64_t flags);
    bool shouldFilterLog(const std::shared_ptr<DIZLog>& item);
    void flushQueue();
    void sendLogContainer(const std::shared_ptr<DIZLogContainer>& container);
    void handleResponse(const std::shared_ptr<DIZLogContainer>& container, const std::string& batchId,
                        const std::shared_ptr<const HTTPURLResponse>& response,
                        const std::optional<Error>& error);
    void startTimer(uint64_t seconds);
    void resetTimer();
    uint64_t resolveFlushInterval();
    void removeOldestPendingLogTimestamp();
    void setEnabledSync(bool isEnabled, bool deleteDataOnDisabled);
    void deleteAllLogsWithErrorSync(const Error& error);
    void notifyFailureBeforeSendingForItem(const std::shared_ptr<DIZLog>& item, const Error& error);
    void pauseWithIdentifyingObjectSync(const DIZIdentifyingObject& identifyingObject);
    void resumeWithIdentifyingObjectSync(const DIZIdentifyingObject& identifyingObject);
    bool hasLivePausingObject();
    template <class Call>
    void enumerateDelegates(const Call& call);

    const std::shared_ptr<DIZIngestionProtocol> ingestion_;
    const std::shared_ptr<DIZStorage> storage_;
    const std::shared_ptr<DIZChannelUnitConfiguration> configuration_;
    const std::shared_ptr<DispatchQueue> logsDispatchQueue_;

    // Everything below is touched on the logs queue only, except the delegates, under their lock.
    bool availableBatchFromStorage_ = false;
    bool pendingBatchQueueFull_ = false;
    bool enabled_ = true;
    bool paused_ = false;
    bool discardLogs_ = false;
    std::shared_ptr<DispatchTimer> timerSource_;
    uint64_t itemsCount_ = 0;
    std::vector<std::string> pendingBatchIds_;
    std::vector<std::weak_ptr<const void>> pausedIdentifyingObjects_;
    std::set<std::string> pausedTargetKeys_;

    WeakDelegateList<DIZChannelDelegate> delegates_;
};
