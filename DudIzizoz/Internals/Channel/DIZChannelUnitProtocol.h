#pragma once
// The queue of one log group: logs enqueued here are stamped, shown to the delegates, stored and
// sent in batches on the group's serial queue; the outcome of each send decides whether the
// batch's logs are deleted or kept.
#include <cstdint>
#include <memory>
#include <string>

#include "DudIzizoz/Internals/Channel/DIZChannelProtocol.h"

class DIZAbstractLog;
using DIZLog = DIZAbstractLog;
class DIZChannelUnitConfiguration;
class DispatchQueue;

class DIZChannelUnitProtocol : public DIZChannelProtocol {
  public:
    // Any thread. Stamps a missing timestamp and device, drops an invalid log with a warning, and
    // runs the delegates' prepare callbacks on the caller's thread; filtering, storing and the
    // send decision follow on the logs queue. `flags` carries the stored priority in its low byte
    // (1 normal, 2 critical) and reaches the delegates unchanged.
    virtual void enqueueItem(const std::shared_ptr<DIZLog>& item, uint64_t flags) = 0;
    // Holds back (or releases) the stored logs of the token's target key; they are still stored.
    virtual void pauseSendingLogsWithToken(const std::string& token) = 0;
    virtual void resumeSendingLogsWithToken(const std::string& token) = 0;
    // The send decision: sends now, starts the flush timer, or waits. Call on the logs queue.
    virtual void checkPendingLogs() = 0;
    virtual std::shared_ptr<DIZChannelUnitConfiguration> configuration() const = 0;
    // The serial queue of the unit's group, on which all of its work runs.
    virtual std::shared_ptr<DispatchQueue> logsDispatchQueue() const = 0;
};
