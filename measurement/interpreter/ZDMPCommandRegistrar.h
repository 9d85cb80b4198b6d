#pragma once
// Routes every statement to the family owning its command code. One shared instance, read-only
// after it is made; a code registered twice goes to the later evaluator.
#include <memory>
#include <string>
#include <unordered_map>

#include "measurement/interpreter/ZDMPCommandEvaluator.h"

class ZDMPCommandRegistrar {
  public:
    static std::shared_ptr<ZDMPCommandRegistrar> sharedInstance();
    ZDMPCommandRegistrar();

    void registerEvaluator(const std::shared_ptr<ZDMPCommandEvaluator>& evaluator);
    // Evaluators always receive a fresh error out-parameter, so they can test it after each step.
    ZDMPValueRef evaluateStatement(const ZDMPValueRef& value, const ZDMPScopeRef& scope, Error* error) const;
    // The evaluator a statement of `command` goes to.
    ZDMPCommandEvaluator& evaluatorFor(const std::u16string& command) const;

  private:
    std::unordered_map<std::u16string, std::shared_ptr<ZDMPCommandEvaluator>> commandEvaluators_;
    std::shared_ptr<ZDMPFunctionEvaluator> functionEvaluator_;
};
