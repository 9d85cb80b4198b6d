#include "measurement/interpreter/ZDMPEventContext.h"

ZDMPEventContext::ZDMPEventContext() : ZDMPEventContext(ZDMPEvent::initWithName("", 0, {})) {}

ZDMPEventContext::ZDMPEventContext(std::shared_ptr<ZDMPEvent> event) {
    setInputEvent(std::move(event));
}

void ZDMPEventContext::setInputEvent(std::shared_ptr<ZDMPEvent> event) {
    inputEvent_ = std::move(event);
    outputEvent_ = inputEvent_->copy();
    loggedEvents_.clear();
}

void ZDMPEventContext::logEventWithName(std::string name, double timestamp, const Dictionary& parameters) {
    Dictionary coerced;
    for (const std::string& key : parameters.keys())
        coerced.set(key, ZDMPCoerceParameter(key, inputEvent_->parameterForName(key), *parameters.find(key)));
    loggedEvents_.push_back(ZDMPEvent::initWithName(std::move(name), timestamp, std::move(coerced)));
}
