#pragma once
// An observer of channels. Every callback is optional; the channel argument is the unit (or, for
// the enabled state, the group) that reports. A delegate may change a log in `channelPrepareLog`
// and drop it in `channelUnitShouldFilterLog`.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Channel/DIZChannelProtocol.h"
#include "platform/foundation/Error.h"

class DIZAbstractLog;
using DIZLog = DIZAbstractLog;
class DIZChannelGroupProtocol;
class DIZChannelUnitProtocol;

class DIZChannelDelegate {
  public:
    virtual ~DIZChannelDelegate() = default;

    // On the thread that added the unit.
    virtual void channelGroupDidAddChannelUnit(DIZChannelGroupProtocol& /*group*/,
                                               const std::shared_ptr<DIZChannelUnitProtocol>& /*unit*/) {}
    // On the enqueuing thread, before anything else sees the log.
    virtual void channelPrepareLog(DIZChannelProtocol& /*channel*/, const std::shared_ptr<DIZLog>& /*log*/) {}
    // On the enqueuing thread, after every delegate prepared the log.
    virtual void channelDidPrepareLog(DIZChannelProtocol& /*channel*/, const std::shared_ptr<DIZLog>& /*log*/,
                                      const std::string& /*internalId*/, uint64_t /*flags*/) {}
    // The unit is done with the log: saved, filtered, dropped or discarded.
    virtual void channelDidCompleteEnqueueingLog(DIZChannelProtocol& /*channel*/,
                                                 const std::shared_ptr<DIZLog>& /*log*/,
                                                 const std::string& /*internalId*/) {}
    virtual void channelWillSendLog(DIZChannelProtocol& /*channel*/, const std::shared_ptr<DIZLog>& /*log*/) {
    }
    virtual void channelDidSucceedSendingLog(DIZChannelProtocol& /*channel*/,
                                             const std::shared_ptr<DIZLog>& /*log*/) {}
    // No error when the server answered with a failing status.
    virtual void channelDidFailSendingLog(DIZChannelProtocol& /*channel*/,
                                          const std::shared_ptr<DIZLog>& /*log*/,
                                          const std::optional<Error>& /*error*/) {}
    virtual void channelDidSetEnabled(DIZChannelProtocol& /*channel*/, bool /*isEnabled*/,
                                      bool /*deleteDataOnDisabled*/) {}
    virtual void channelDidPauseWithIdentifyingObject(DIZChannelProtocol& /*channel*/,
                                                      const DIZIdentifyingObject& /*identifyingObject*/) {}
    virtual void channelDidResumeWithIdentifyingObject(DIZChannelProtocol& /*channel*/,
                                                       const DIZIdentifyingObject& /*identifyingObject*/) {}
    // On the logs queue; true drops the log before it is stored, and later delegates are not asked.
    virtual bool channelUnitShouldFilterLog(DIZChannelUnitProtocol& /*unit*/,
                                            const std::shared_ptr<DIZLog>& /*log*/) {
        return false;
    }
};
