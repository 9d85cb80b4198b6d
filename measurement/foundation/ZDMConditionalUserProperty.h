#pragma once
// A user property that becomes active when its trigger event fires, times out when it waits too
// long and expires after its time to live; the events it logs at each step ride along. A plain
// record made empty and filled with the setters; all times in seconds. Belongs to one queue at a
// time.
#include <memory>
#include <string>

#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMValue.h"

class ZDMConditionalUserProperty {
  public:
    virtual ~ZDMConditionalUserProperty() = default;

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    const std::string& origin() const { return origin_; }
    void setOrigin(std::string origin) { origin_ = std::move(origin); }
    // nullptr for none.
    const std::shared_ptr<const ZDMValue>& value() const { return value_; }
    void setValue(std::shared_ptr<const ZDMValue> value) { value_ = std::move(value); }
    // Empty for none.
    const std::string& triggerEventName() const { return triggerEventName_; }
    void setTriggerEventName(std::string name) { triggerEventName_ = std::move(name); }
    double triggerTimeout() const { return triggerTimeout_; }
    void setTriggerTimeout(double timeout) { triggerTimeout_ = timeout; }
    double timeToLive() const { return timeToLive_; }
    void setTimeToLive(double timeToLive) { timeToLive_ = timeToLive; }
    // Each nullptr for none.
    const std::shared_ptr<ZDMEvent>& triggeredEvent() const { return triggeredEvent_; }
    void setTriggeredEvent(std::shared_ptr<ZDMEvent> event) { triggeredEvent_ = std::move(event); }
    const std::shared_ptr<ZDMEvent>& timedOutEvent() const { return timedOutEvent_; }
    void setTimedOutEvent(std::shared_ptr<ZDMEvent> event) { timedOutEvent_ = std::move(event); }
    const std::shared_ptr<ZDMEvent>& expiredEvent() const { return expiredEvent_; }
    void setExpiredEvent(std::shared_ptr<ZDMEvent> event) { expiredEvent_ = std::move(event); }
    double creationTimestamp() const { return creationTimestamp_; }
    void setCreationTimestamp(double timestamp) { creationTimestamp_ = timestamp; }
    bool isActive() const { return active_; }
    void setActive(bool active) { active_ = active; }
    double triggeredTimestamp() const { return triggeredTimestamp_; }
    void setTriggeredTimestamp(double timestamp) { triggeredTimestamp_ = timestamp; }

  private:
    std::string name_;
    std::string origin_;
    std::shared_ptr<const ZDMValue> value_;
    std::string triggerEventName_;
    double triggerTimeout_ = 0;
    double timeToLive_ = 0;
    std::shared_ptr<ZDMEvent> triggeredEvent_;
    std::shared_ptr<ZDMEvent> timedOutEvent_;
    std::shared_ptr<ZDMEvent> expiredEvent_;
    double creationTimestamp_ = 0;
    bool active_ = false;
    double triggeredTimestamp_ = 0;
};

// The analytics connector's name for the same record.
class ZUDAConditionalUserProperty : public ZDMConditionalUserProperty {};
