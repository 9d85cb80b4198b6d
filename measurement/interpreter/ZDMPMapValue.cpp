#include "measurement/interpreter/ZDMPMapValue.h"

#include <limits>

#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPFunctionValue.h"
#include "measurement/interpreter/ZDMPRunBudget.h"

ZDMPValueRef ZDMPCallProperty(const ZDMPPropertyMap& properties, const std::u16string& name,
                              const ZDMPValueList& arguments, const ZDMPScopeRef& scope, Error* error) {
    if (!properties.hasName(name)) return nullptr;
    // Held here: the call may replace the property.
    const ZDMPValueRef property = properties.valueForName(name);
    auto* function = ZDMPAs<ZDMPFunctionValue>(property);
    if (!function) return ZDMPFail(error, ZDMPErrorCode::unknownMethod);
    return function->invokeWithArguments(arguments, scope, error);
}

ZDMPValueRef ZDMPPropertyOwner::applyProperty(const ZDMPRuntimeValue& value, const std::u16string& name,
                                              const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                              Error* error) {
    if (ZDMPValueRef result = ZDMPCallProperty(propertyMap_, name, arguments, scope, error)) return result;
    if (name != u"hasOwnProperty") return value.applyBaseRule(name, error);
    Error failure;
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, &failure);
    if (!ZDMPFailed(failure) && ZDMPEvaluator::hasExactly(values, 1, &failure)) {
        const std::u16string key = values[0]->stringValueOrError(&failure);
        if (!ZDMPFailed(failure)) return ZDMPBoolean(propertyMap_.hasName(key));
    }
    setError(error, std::move(failure));
    return ZDMPUndefined();
}

double ZDMPMapValue::doubleValueOrError(Error*) const {
    return std::numeric_limits<double>::quiet_NaN();
}

ZDMPValueRef ZDMPMapValue::applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                                         const ZDMPScopeRef& scope, Error* error) {
    return applyProperty(*this, name, arguments, scope, error);
}

bool ZDMPMapValue::isEqualToRuntimeValue(const ZDMPRuntimeValue& other) const {
    if (this == &other) return true;
    const auto* map = dynamic_cast<const ZDMPMapValue*>(&other);
    if (!map || map->propertyMap().count() != propertyMap().count()) return false;
    const ZDMPNestingGuard nesting;
    if (!nesting.entered()) return false;
    for (const auto& name : propertyMap().allNames()) {
        if (!map->propertyMap().hasName(name)) return false;
        if (!propertyMap().valueForName(name)->isEqualToRuntimeValue(
                *map->propertyMap().valueForName(name))) {
            return false;
        }
    }
    return true;
}

void ZDMPMapValue::collectReferences(ZDMPReferences& references) const {
    propertyMap().collectValues(references.values);
}
