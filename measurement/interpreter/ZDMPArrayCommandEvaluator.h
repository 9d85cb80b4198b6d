#pragma once
// The 21 built-in methods of array values, reached through applyWithName of an array when no named
// property of that name holds a function.
#include <map>
#include <memory>
#include <string>

#include "measurement/interpreter/ZDMPRuntimeValue.h"

class ZDMPArrayValue;

class ZDMPArrayCommandEvaluator {
  public:
    using Handler = ZDMPValueRef (*)(const std::shared_ptr<ZDMPArrayValue>& array,
                                     const ZDMPValueList& values, const ZDMPScopeRef& scope, Error* error);
    static std::shared_ptr<ZDMPArrayCommandEvaluator> sharedInstance();
    ZDMPArrayCommandEvaluator();

    // Method `name` of `array`: an unknown name fails with code 17 before any argument is
    // evaluated; otherwise the arguments are evaluated in order and handed to the method.
    ZDMPValueRef evaluateCommand(const std::u16string& name, const std::shared_ptr<ZDMPArrayValue>& array,
                                 const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                 Error* error) const;

  private:
    std::map<std::u16string, Handler> handlers_;
};
