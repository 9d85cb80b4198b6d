#include "measurement/interpreter/ZDMPEvent.h"

std::shared_ptr<ZDMPEvent> ZDMPEvent::initWithName(std::string name, double timestamp,
                                                   Dictionary parameters) {
    return std::shared_ptr<ZDMPEvent>(new ZDMPEvent(std::move(name), timestamp, std::move(parameters)));
}
