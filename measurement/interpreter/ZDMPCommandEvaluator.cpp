#include "measurement/interpreter/ZDMPCommandEvaluator.h"

#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPFunctionValue.h"
#include "measurement/interpreter/ZDMPScope.h"

ZDMPValueRef ZDMPCommandEvaluator::evaluateCommand(const std::u16string&, const ZDMPValueList&,
                                                   const ZDMPScopeRef&, Error*) {
    return ZDMPUndefined();
}

std::vector<std::u16string> ZDMPHandlerTableEvaluator::allSupportedCommands() const {
    std::vector<std::u16string> codes;
    for (const auto& entry : handlers_) codes.push_back(entry.first);
    return codes;
}

ZDMPValueRef ZDMPHandlerTableEvaluator::evaluateCommand(const std::u16string& command,
                                                        const ZDMPValueList& arguments,
                                                        const ZDMPScopeRef& scope, Error* error) {
    const auto found = handlers_.find(command);
    if (found == handlers_.end()) return ZDMPUndefined();
    Error failure;
    ZDMPValueRef result = run(found->second, arguments, scope, &failure);
    if (!ZDMPFailed(failure)) return result;
    setError(error, std::move(failure));
    return ZDMPUndefined();
}

ZDMPValueRef ZDMPHandlerTableEvaluator::run(Handler handler, const ZDMPValueList& arguments,
                                            const ZDMPScopeRef& scope, Error* error) const {
    if (arguments_ == Arguments::unevaluated) return handler(arguments, scope, error);
    if (arguments_ == Arguments::evaluatedPair && !ZDMPEvaluator::hasExactly(arguments, 2, error)) {
        return ZDMPUndefined();
    }
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return handler(values, scope, error);
}

ZDMPValueRef ZDMPFunctionEvaluator::evaluateCommand(const std::u16string& command,
                                                    const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                                    Error* error) {
    const ZDMPValueRef callee = scope->valueForName(command);
    auto* function = ZDMPAs<ZDMPFunctionValue>(callee);
    if (!function) return ZDMPUndefined();
    return function->invokeWithArguments(arguments, scope, error);
}
