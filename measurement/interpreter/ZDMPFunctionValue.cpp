#include "measurement/interpreter/ZDMPFunctionValue.h"

#include <limits>

#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPScope.h"

ZDMPFunctionValue::ZDMPFunctionValue(std::u16string functionName, std::vector<std::u16string> parameterNames,
                                     ZDMPValueList statements, ZDMPScopeRef definingScope)
    : functionName_(std::move(functionName)),
      parameters_(std::move(parameterNames)),
      statements_(std::move(statements)),
      definingScope_(std::move(definingScope)) {}

ZDMPValueRef ZDMPFunctionValue::invokeWithArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                                    Error* error) {
    Error failure;
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, &failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return ZDMPUndefined();
    }
    return invokeWithEvaluatedArguments(values, error);
}

ZDMPValueRef ZDMPFunctionValue::invokeWithEvaluatedArguments(const ZDMPValueList& arguments, Error* error) {
    const ZDMPScopeRef callScope = definingScope_->createChildScope();
    for (size_t i = 0; i < parameters_.size(); ++i) {
        callScope->addValue(i < arguments.size() ? arguments[i] : ZDMPUndefined(), parameters_[i]);
    }
    Error failure;
    ZDMPValueRef result = ZDMPEvaluator::executeStatements(statements_, callScope, &failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return result;
    }
    const auto* control = ZDMPAs<ZDMPControlValue>(result);
    if (control && control->controlType() == ZDMPControlValue::Type::returnType) return control->data();
    return result;
}

double ZDMPFunctionValue::doubleValueOrError(Error*) const {
    return std::numeric_limits<double>::quiet_NaN();
}

ZDMPValueRef ZDMPFunctionValue::applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                                              const ZDMPScopeRef& scope, Error* error) {
    return applyProperty(*this, name, arguments, scope, error);
}

bool ZDMPFunctionValue::isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const {
    if (this == &other) return true;
    const auto* function = dynamic_cast<const ZDMPFunctionValue*>(&other);
    return function && !functionName_.empty() && function->functionName_ == functionName_;
}

void ZDMPFunctionValue::collectReferences(ZDMPReferences& references) const {
    propertyMap().collectValues(references.values);
    references.scopes.push_back(definingScope_.get());
}
