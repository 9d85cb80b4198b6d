#pragma once
// What an SDK may hear from the experiment area. Every callback is optional; the manager asks
// whether one is implemented where that changes what it does (a snapshot for an observer that takes
// new snapshots waits for its client to activate it).
#include <memory>
#include <optional>

#include "platform/foundation/Error.h"

class DispatchQueue;
class ZDMEClient;

class ZDMEExperimentObserverDelegate {
  public:
    virtual ~ZDMEExperimentObserverDelegate() = default;

    // Whether clientDidReceiveNewSnapshot is implemented.
    virtual bool takesNewSnapshots() const { return false; }
    virtual void clientDidReceiveNewSnapshot(const std::shared_ptr<ZDMEClient>&) {}
    // Whether client(…, didReceiveFetchError) is implemented.
    virtual bool takesFetchErrors() const { return false; }
    virtual void clientDidReceiveFetchError(const std::shared_ptr<ZDMEClient>&, const Error&) {}
    // nullopt: not implemented, which counts as YES.
    virtual std::optional<bool> shouldFetchExperimentsForClient(const std::shared_ptr<ZDMEClient>&) {
        return std::nullopt;
    }
    // nullopt: not implemented. New snapshots are told on this queue, else on the main queue (also
    // when the observer implements it and answers none).
    virtual std::optional<std::shared_ptr<DispatchQueue>> queue() const { return std::nullopt; }
};
