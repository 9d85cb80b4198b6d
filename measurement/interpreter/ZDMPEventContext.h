#pragma once
// One event's run through event editing: the event handed in, the working copy edit callbacks
// change, and the events create callbacks log. Reused for every event.
#include <memory>
#include <string>
#include <vector>

#include "measurement/interpreter/ZDMPEvent.h"

class ZDMPEventContext {
  public:
    // An empty event: name "", time 0, no parameters.
    ZDMPEventContext();
    explicit ZDMPEventContext(std::shared_ptr<ZDMPEvent> event);

    // The input becomes `event`, the output a fresh copy of it, and no event is logged.
    void setInputEvent(std::shared_ptr<ZDMPEvent> event);
    const std::shared_ptr<ZDMPEvent>& inputEvent() const { return inputEvent_; }
    const std::shared_ptr<ZDMPEvent>& outputEvent() const { return outputEvent_; }
    void setOutputEvent(std::shared_ptr<ZDMPEvent> event) { outputEvent_ = std::move(event); }
    const std::vector<std::shared_ptr<ZDMPEvent>>& eventsToLog() const { return loggedEvents_; }

    // Appends a new event; each parameter is coerced against the input event's value of that name.
    void logEventWithName(std::string name, double timestamp, const Dictionary& parameters);

  private:
    std::vector<std::shared_ptr<ZDMPEvent>> loggedEvents_;
    std::shared_ptr<ZDMPEvent> inputEvent_;
    std::shared_ptr<ZDMPEvent> outputEvent_;
};
