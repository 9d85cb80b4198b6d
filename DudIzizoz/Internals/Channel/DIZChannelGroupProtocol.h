#pragma once
// The owner of what the units of the reporting client share: the ingestion, the log store, the
// serial queue and the list of units. Its delegates hear every callback of every unit.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Channel/DIZChannelProtocol.h"

class DIZChannelUnitConfiguration;
class DIZChannelUnitProtocol;
class DIZIngestionProtocol;

class DIZChannelGroupProtocol : public DIZChannelProtocol {
  public:
    // A new unit on the group's ingestion, store and queue; it considers the logs already stored
    // for its group at once. No configuration: no unit, and nobody hears of it.
    virtual std::shared_ptr<DIZChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<DIZChannelUnitConfiguration>& configuration) = 0;
    // The same with an ingestion of the unit's own; none means the group's.
    virtual std::shared_ptr<DIZChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<DIZChannelUnitConfiguration>& configuration,
        const std::shared_ptr<DIZIngestionProtocol>& ingestion) = 0;
    // Returns at once; the log store answers later, from the group's queue.
    virtual void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler) = 0;
    // The first unit added for `groupId`, or none.
    virtual std::shared_ptr<DIZChannelUnitProtocol> channelUnitForGroupId(
        const std::string& groupId) const = 0;
    // The base URL and app secret of the group's ingestion.
    virtual std::string logUrl() const = 0;
    virtual void setLogUrl(const std::string& logUrl) = 0;
    virtual std::optional<std::string> appSecret() const = 0;
    virtual void setAppSecret(std::optional<std::string> appSecret) = 0;
};
