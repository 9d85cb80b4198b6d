#pragma once
// A function: a name, parameter names and a body of unevaluated statements, run in a child of the
// scope it was created in (so it sees the names of that place). Native functions subclass it.
#include <string>
#include <vector>

#include "measurement/interpreter/ZDMPMapValue.h"

class ZDMPFunctionValue : public ZDMPTrackedValue, public ZDMPPropertyOwner {
  public:
    ZDMPFunctionValue(std::u16string functionName, std::vector<std::u16string> parameterNames,
                      ZDMPValueList statements, ZDMPScopeRef definingScope);
    const std::u16string& functionName() const { return functionName_; }
    const std::vector<std::u16string>& parameterNames() const { return parameters_; }
    const ZDMPScopeRef& definingScope() const { return definingScope_; }

    // Evaluates the arguments as written at the call in the caller's scope, then calls.
    virtual ZDMPValueRef invokeWithArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                             Error* error);
    // Binds the parameters in a new child of the defining scope and runs the body; a return value
    // gives its datum, any other result of the body is the result.
    virtual ZDMPValueRef invokeWithEvaluatedArguments(const ZDMPValueList& arguments, Error* error);

    ZDMPValueKind kind() const override { return ZDMPValueKind::function; }
    std::u16string stringValueOrError(Error*) const override { return functionName_; }
    double doubleValueOrError(Error*) const override;
    bool booleanValueOrError(Error*) const override { return true; }
    ZDMPValueRef applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                               const ZDMPScopeRef& scope, Error* error) override;
    // Equal names, when the name is not empty: two anonymous functions are equal only to themselves.
    bool isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const override;
    // The properties and the defining scope. The body is not walked: it holds only the program's
    // own statements and literals, never a value made at run time.
    void collectReferences(ZDMPReferences& references) const override;
    void releaseReferences() override { propertyMap().removeAll(); }

  private:
    std::u16string functionName_;
    std::vector<std::u16string> parameters_;
    ZDMPValueList statements_;
    ZDMPScopeRef definingScope_;
};
