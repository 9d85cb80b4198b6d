#pragma once
// An event as the event-editing interpreter sees it: a name, a time and plain parameters (numbers,
// strings, and arrays of dictionaries of such values). Immutable.
#include <memory>
#include <string>

#include "platform/foundation/Value.h"

class ZDMPEvent {
  public:
    static std::shared_ptr<ZDMPEvent> initWithName(std::string name, double timestamp, Dictionary parameters);

    const std::string& name() const { return name_; }
    double timestamp() const { return timestamp_; }
    const Dictionary& parameters() const { return parameters_; }

  private:
    ZDMPEvent(std::string name, double timestamp, Dictionary parameters)
        : name_(std::move(name)), timestamp_(timestamp), parameters_(std::move(parameters)) {}

    std::string name_;
    double timestamp_;
    Dictionary parameters_;
};
