#pragma once
// The methods of string values, reached through applyWithName of a string.
#include <memory>
#include <string>

#include "measurement/interpreter/ZDMPRuntimeValue.h"

class ZDMPStringCommandEvaluator {
  public:
    static std::shared_ptr<ZDMPStringCommandEvaluator> sharedInstance();
    // Method `name` of `string`; an unknown name fails with code 17 before any argument is evaluated.
    ZDMPValueRef evaluateCommand(const std::u16string& name, const std::u16string& string,
                                 const ZDMPValueList& arguments, const ZDMPScopeRef& scope, Error* error);
};
