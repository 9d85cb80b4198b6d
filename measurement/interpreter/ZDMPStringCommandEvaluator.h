#pragma once
// The 17 methods of string values, reached through applyWithName of a string. Lengths, indexes and
// positions count UTF-16 units; no method changes the text it is applied to.
#include <map>
#include <memory>
#include <string>

#include "measurement/interpreter/ZDMPRuntimeValue.h"

class ZDMPStringCommandEvaluator {
  public:
    using Handler = ZDMPValueRef (*)(const std::u16string& text, const ZDMPValueList& values,
                                     const ZDMPScopeRef& scope, Error* error);
    static std::shared_ptr<ZDMPStringCommandEvaluator> sharedInstance();
    ZDMPStringCommandEvaluator();

    // Method `name` of `string`: an unknown name fails with code 17 before any argument is
    // evaluated; otherwise the arguments are evaluated in order and handed to the method.
    ZDMPValueRef evaluateCommand(const std::u16string& name, const std::u16string& string,
                                 const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                 Error* error) const;

  private:
    std::map<std::u16string, Handler> handlers_;
};
