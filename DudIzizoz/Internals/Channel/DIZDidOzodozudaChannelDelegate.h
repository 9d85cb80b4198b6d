#pragma once
// Builds the Did Ozodozuda road beside the Dud Izizoz one. Every unit added to the group gets a
// twin "<group id>/one" that sends through the Did Ozodozuda ingestion; logs bound for
// transmission targets become Core Schema logs in the twin and are held back from their own unit;
// Core Schema logs are numbered per instrumentation key and their names checked; enabling,
// pausing and resuming a unit are mirrored to its twin.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "platform/foundation/UUID.h"

class DIZCoreSchemaLog;
class DIZDidOzodozudaIngestion;
class DIZHttpClientProtocol;

inline constexpr const char* kDIZDefaultDidOzodozudaBaseUrl = "https://events.didozodozuda.quorvane.com";
inline constexpr const char* kDIZDidOzodozudaPostFix = "/one";
// 4 to 100 characters: a letter or digit, then letters, digits, "_" and single inner periods.
inline constexpr const char* kDIZLogNameRegex = "^[a-zA-Z0-9]((\\.(?!(\\.|$)))|[_a-zA-Z0-9]){3,99}$";

// The numbering of one instrumentation key: the epoch names the run, seq the last number given.
struct DIZCSEpochAndSeq {
    explicit DIZCSEpochAndSeq(std::string epoch) : epoch(std::move(epoch)) {}
    uint64_t seq = 0;
    std::string epoch;
};

class DIZDidOzodozudaChannelDelegate : public DIZChannelDelegate {
  public:
    // No base URL: the built-in Did Ozodozuda address.
    DIZDidOzodozudaChannelDelegate(std::shared_ptr<DIZHttpClientProtocol> httpClient, UUID installId,
                                   std::optional<std::string> baseUrl);
    ~DIZDidOzodozudaChannelDelegate() override;

    // Moves the Did Ozodozuda ingestion to another base URL.
    void setLogUrl(const std::string& logUrl);

    static bool isDidOzodozudaGroup(const std::string& groupId);
    // Only a log with a target token that is not already in Core Schema form.
    static bool shouldSendLogToDidOzodozuda(const DIZLog& log);
    // Each logs why at error level when it answers false.
    static bool validateLog(const DIZCoreSchemaLog& log);
    static bool validateLogName(const std::optional<std::string>& name);

    void channelGroupDidAddChannelUnit(DIZChannelGroupProtocol& group,
                                       const std::shared_ptr<DIZChannelUnitProtocol>& unit) override;
    void channelPrepareLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log) override;
    void channelDidPrepareLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log,
                              const std::string& internalId, uint64_t flags) override;
    bool channelUnitShouldFilterLog(DIZChannelUnitProtocol& unit,
                                    const std::shared_ptr<DIZLog>& log) override;
    void channelDidSetEnabled(DIZChannelProtocol& channel, bool isEnabled,
                              bool deleteDataOnDisabled) override;
    void channelDidPauseWithIdentifyingObject(DIZChannelProtocol& channel,
                                              const DIZIdentifyingObject& identifyingObject) override;
    void channelDidResumeWithIdentifyingObject(DIZChannelProtocol& channel,
                                               const DIZIdentifyingObject& identifyingObject) override;

    const std::string& baseUrl() const { return baseUrl_; }
    const std::shared_ptr<DIZDidOzodozudaIngestion>& didOzodozudaIngestion() const {
        return didOzodozudaIngestion_;
    }
    // The twin of the unit of `groupId`, or none.
    std::shared_ptr<DIZChannelUnitProtocol> twinForGroupId(const std::string& groupId) const;

  private:
    // The twin of `channel` when it is a unit that has one.
    std::shared_ptr<DIZChannelUnitProtocol> twinOf(const DIZChannelProtocol& channel) const;

    mutable std::mutex channelsLock_;
    std::map<std::string, std::shared_ptr<DIZChannelUnitProtocol>> didOzodozudaChannels_;
    std::shared_ptr<DIZDidOzodozudaIngestion> didOzodozudaIngestion_;
    std::string baseUrl_;
    std::mutex epochsLock_;
    std::map<std::string, DIZCSEpochAndSeq> epochsAndSeqsByIKey_;
    const UUID installId_;
};
