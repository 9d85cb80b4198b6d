#pragma once
// Conditional user properties: a user property set in advance that comes into force when its
// trigger event is logged within the trigger time-out (or at once without a trigger), and is
// removed again after its time to live. The public requests come from any thread, only validate and
// schedule; everything that touches the database runs on the engine's worker queue inside one
// transaction per request or per processed event, and the events a transition logs go to the
// engine only after that transaction has committed. Time-outs and expiry are noticed only while an
// event is processed; no timer runs.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/audiences/conditional/ZDMConditionalUserPropertyEngine.h"
#include "measurement/foundation/ZDMConditionalUserProperty.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

// The origin, the name and a present value pass the validator, and the trigger time-out (11000)
// and the time to live (11001) lie within 0.001 s to 180 days. Each refusal is logged.
bool ZDMIsValidConditionalUserProperty(const ZDMConditionalUserProperty* property);

class ZDMConditionalUserPropertyController
    : public std::enable_shared_from_this<ZDMConditionalUserPropertyController> {
  public:
    using Properties = std::vector<std::shared_ptr<ZDMConditionalUserProperty>>;
    using Events = std::vector<std::shared_ptr<ZDMEvent>>;
    // How long a query waits for the worker queue, on the process clock.
    static constexpr double kQueryTimeout = 30;

    static std::shared_ptr<ZDMConditionalUserPropertyController> sharedInstance();
    // Held weakly: the engine owns the controller's use, not the other way round. Without an engine
    // the requests do nothing and the query answers nullopt.
    void setEngine(std::weak_ptr<ZDMConditionalUserPropertyEngine> engine);

    // Any thread. A validated copy named `name`, created now, is set (it has a value) or removed (it
    // has none; its expired event is then the clear event) later on the worker queue.
    void setConditionalUserProperty(const ZDMConditionalUserProperty* property, const std::string& name);
    // Any thread. Removes the named record later on the worker queue, logging `clearEvent` if given.
    void clearConditionalUserPropertyWithClearEvent(const std::shared_ptr<ZDMEvent>& clearEvent,
                                                    const std::string& name);
    // Any thread. A null prefix or origin does not filter; anything else but text is refused. Waits
    // for the worker queue at most kQueryTimeout; on the worker queue itself it answers at once.
    std::optional<Properties> conditionalUserPropertiesWithNamePrefix(const Value& prefix,
                                                                      const Value& origin);

    // Worker queue only.
    void setConditionalUserPropertyOnWorkerQueue(const std::shared_ptr<ZDMConditionalUserProperty>& property);
    void removeConditionalUserPropertyOnWorkerQueue(
        const std::shared_ptr<ZDMConditionalUserProperty>& request);
    // Removes the timed-out and expired records, writes their events, and answers the events of the
    // records `event` triggered for the engine to write after it; nullopt when the transaction
    // rolled back, leaving everything as it was and nothing written.
    std::optional<Events> processEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event);
    // The three steps of processing, each inside the caller's transaction.
    bool removeTimedOutCUPWithTimedOutEvents(Events* timedOutEvents);
    bool removeExpiredCUPWithExpiredEvents(Events* expiredEvents);
    std::optional<Events> updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
        const std::string& eventName);

  private:
    std::shared_ptr<ZDMConditionalUserPropertyEngine> engine() const;
    void schedule(const std::string& blockID, std::shared_ptr<ZDMConditionalUserProperty> property);
    std::optional<Properties> queryOnWorkerQueue(const std::string& prefix, const std::string& origin,
                                                 Error* error);

    mutable std::mutex mutex_;
    std::weak_ptr<ZDMConditionalUserPropertyEngine> engine_;
};

// The analytics connector's name for the same controller.
class ZUDAConditionalUserPropertyController : public ZDMConditionalUserPropertyController {};
