#pragma once
// The one argument every callback receives: a map whose methods read and change the output event
// of the run ("getEventName", "getParamValue", "getParams", "getTimestamp", "setEventName",
// "setParamValue"); any other name is an ordinary map's. And "internal.eventLogger", through which
// create callbacks log new events.
#include <memory>

#include "measurement/interpreter/ZDMPMapValue.h"
#include "measurement/interpreter/ZDMPNativeFunctions.h"

class ZDMPEventContext;

class ZDMPEventNativeFunctions final : public ZDMPMapValue {
  public:
    explicit ZDMPEventNativeFunctions(std::shared_ptr<ZDMPEventContext> eventContext);
    ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                               const ZDMPScopeRef& scope, Error* error) override;

  private:
    std::shared_ptr<ZDMPEventContext> eventContext_;
};

// "internal.eventLogger"(name, timestamp, {parameters}).
class ZDMPEventLogger final : public ZDMPNativeFunction {
  public:
    explicit ZDMPEventLogger(std::shared_ptr<ZDMPEventContext> eventContext);
    ZDMPValueRef invokeWithArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                     Error* error) override;

  private:
    std::shared_ptr<ZDMPEventContext> eventContext_;
};
