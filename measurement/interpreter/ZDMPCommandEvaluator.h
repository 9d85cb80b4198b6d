#pragma once
// The base of every command family, and the function evaluator that takes every code no family
// claims (a call of a named function).
#include <map>
#include <string>
#include <vector>

#include "measurement/interpreter/ZDMPRuntimeValue.h"

class ZDMPCommandEvaluator {
  public:
    virtual ~ZDMPCommandEvaluator() = default;
    // The base answers undefined.
    virtual ZDMPValueRef evaluateCommand(const std::u16string& command, const ZDMPValueList& arguments,
                                         const ZDMPScopeRef& scope, Error* error);
    virtual std::vector<std::u16string> allSupportedCommands() const { return {}; }
};

// A family whose commands are plain handler functions looked up by code. The family decides what
// the handler receives: the arguments as written, or their values (evaluated in order, the first
// failure ending the command), optionally after requiring exactly two of them. A handler always
// gets a fresh, non-null error out-parameter and yields undefined whenever it sets it.
class ZDMPHandlerTableEvaluator : public ZDMPCommandEvaluator {
  public:
    using Handler = ZDMPValueRef (*)(const ZDMPValueList& arguments, const ZDMPScopeRef& scope, Error* error);
    enum class Arguments { unevaluated, evaluated, evaluatedPair };

    ZDMPValueRef evaluateCommand(const std::u16string& command, const ZDMPValueList& arguments,
                                 const ZDMPScopeRef& scope, Error* error) final;
    std::vector<std::u16string> allSupportedCommands() const final;

  protected:
    ZDMPHandlerTableEvaluator(Arguments arguments, std::map<std::u16string, Handler> handlers)
        : arguments_(arguments), handlers_(std::move(handlers)) {}

  private:
    ZDMPValueRef run(Handler handler, const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                     Error* error) const;

    Arguments arguments_;
    std::map<std::u16string, Handler> handlers_;
};

// Looks the code up as a variable: a function value is called with the unevaluated arguments;
// anything else, an unknown name included, yields undefined without a failure.
class ZDMPFunctionEvaluator final : public ZDMPCommandEvaluator {
  public:
    ZDMPValueRef evaluateCommand(const std::u16string& command, const ZDMPValueList& arguments,
                                 const ZDMPScopeRef& scope, Error* error) override;
};
