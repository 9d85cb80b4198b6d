#pragma once
// The reporting client's one channel group: the Dud Izizoz ingestion, the log store "Logs.sqlite",
// the serial queue "<SDK identifier>.ChannelGroupQueue" and the units, in the order they were
// added. The group is a delegate of each of its units and passes every unit callback on to its own
// delegates, so one registration sees the traffic of every unit. Units may be added from any
// thread, also from a delegate's `channelGroupDidAddChannelUnit`.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "platform/foundation/WeakDelegateList.h"

class DIZDudIzizozIngestion;
class DIZHttpClientProtocol;
class DIZStorage;
class DispatchQueue;
class UUID;

inline constexpr const char* kDIZChannelGroupQueueSuffix = ".ChannelGroupQueue";

class DIZChannelGroupDefault : public DIZChannelGroupProtocol,
                               public DIZChannelDelegate,
                               public std::enable_shared_from_this<DIZChannelGroupDefault> {
  public:
    // With a Dud Izizoz ingestion posting to `logUrl` through `httpClient`.
    static std::shared_ptr<DIZChannelGroupDefault> make(std::shared_ptr<DIZHttpClientProtocol> httpClient,
                                                        const UUID& installId, const std::string& logUrl);
    // Without an ingestion, units added without one of their own keep no logs.
    static std::shared_ptr<DIZChannelGroupDefault> make(std::shared_ptr<DIZDudIzizozIngestion> ingestion);

    std::shared_ptr<DIZChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<DIZChannelUnitConfiguration>& configuration) override;
    std::shared_ptr<DIZChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<DIZChannelUnitConfiguration>& configuration,
        const std::shared_ptr<DIZIngestionProtocol>& ingestion) override;
    std::shared_ptr<DIZChannelUnitProtocol> channelUnitForGroupId(const std::string& groupId) const override;
    void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler) override;
    // Synchronous, unlike a unit's.
    void addDelegate(const std::shared_ptr<DIZChannelDelegate>& delegate) override;
    void removeDelegate(const std::shared_ptr<DIZChannelDelegate>& delegate) override;
    // The ingestion first, then every unit, then the delegates; the group keeps no state of its own.
    void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;
    // Turns the ingestion off (without deletion) and pauses every unit under the object; units with
    // an ingestion of their own keep that ingestion's state.
    void pauseWithIdentifyingObject(const DIZIdentifyingObject& identifyingObject) override;
    // Turns the ingestion on and resumes every unit under the object.
    void resumeWithIdentifyingObject(const DIZIdentifyingObject& identifyingObject) override;
    std::string logUrl() const override;
    void setLogUrl(const std::string& logUrl) override;
    std::optional<std::string> appSecret() const override;
    void setAppSecret(std::optional<std::string> appSecret) override;

    // What the units report, passed on to the group's delegates with the unit as the channel.
    void channelPrepareLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log) override;
    void channelDidPrepareLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log,
                              const std::string& internalId, uint64_t flags) override;
    void channelDidCompleteEnqueueingLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log,
                                         const std::string& internalId) override;
    void channelWillSendLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log) override;
    void channelDidSucceedSendingLog(DIZChannelProtocol& channel,
                                     const std::shared_ptr<DIZLog>& log) override;
    void channelDidFailSendingLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log,
                                  const std::optional<Error>& error) override;
    void channelDidSetEnabled(DIZChannelProtocol& channel, bool isEnabled,
                              bool deleteDataOnDisabled) override;
    void channelDidPauseWithIdentifyingObject(DIZChannelProtocol& channel,
                                              const DIZIdentifyingObject& identifyingObject) override;
    void channelDidResumeWithIdentifyingObject(DIZChannelProtocol& channel,
                                               const DIZIdentifyingObject& identifyingObject) override;
    // True as soon as one delegate filters the log; the delegates after it are not asked.
    bool channelUnitShouldFilterLog(DIZChannelUnitProtocol& unit,
                                    const std::shared_ptr<DIZLog>& log) override;

    const std::shared_ptr<DIZDudIzizozIngestion>& ingestion() const { return ingestion_; }
    const std::shared_ptr<DIZStorage>& storage() const { return storage_; }
    const std::shared_ptr<DispatchQueue>& logsDispatchQueue() const { return logsDispatchQueue_; }
    // A copy of the units, in the order they were added.
    std::vector<std::shared_ptr<DIZChannelUnitProtocol>> channels() const;

  private:
    DIZChannelGroupDefault(std::shared_ptr<DIZDudIzizozIngestion> ingestion,
                           std::shared_ptr<DIZStorage> storage);

    template <class Call>
    void enumerateDelegates(const Call& call) const;

    const std::shared_ptr<DIZDudIzizozIngestion> ingestion_;
    const std::shared_ptr<DIZStorage> storage_;
    const std::shared_ptr<DispatchQueue> logsDispatchQueue_;

    WeakDelegateList<DIZChannelDelegate> delegates_;
    mutable std::mutex channelsLock_;
    std::vector<std::shared_ptr<DIZChannelUnitProtocol>> channels_;
};
