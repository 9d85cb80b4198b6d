#include "measurement/interpreter/ZDMPMapValue.h"

#include <limits>

#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPFunctionValue.h"
#include "measurement/interpreter/ZDMPRunBudget.h"

ZDMPValueRef ZDMPPropertyOwner::applyProperty(const std::u16string& name, const ZDMPValueList& arguments,
                                              const ZDMPScopeRef& scope, Error* error, bool* handled) {
    *handled = true;
    if (propertyMap_.hasName(name)) {
        // Held here: the call may replace the property.
        const ZDMPValueRef property = propertyMap_.valueForName(name);
        auto* function = ZDMPAs<ZDMPFunctionValue>(property);
        if (!function) return ZDMPFail(error, ZDMPErrorCode::unknownMethod);
        return function->invokeWithArguments(arguments, scope, error);
    }
    if (name == u"hasOwnProperty") {
        Error failure;
        const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, &failure);
        if (ZDMPFailed(failure)) {
            setError(error, std::move(failure));
            return ZDMPUndefined();
        }
        if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
        const std::u16string key = values[0]->stringValueOrError(&failure);
        if (ZDMPFailed(failure)) {
            setError(error, std::move(failure));
            return ZDMPUndefined();
        }
        return ZDMPBoolean(propertyMap_.hasName(key));
    }
    *handled = false;
    return ZDMPUndefined();
}

double ZDMPMapValue::doubleValueOrError(Error*) const {
    return std::numeric_limits<double>::quiet_NaN();
}

ZDMPValueRef ZDMPMapValue::applyWithName(const std::u16string& name, const ZDMPValueList& arguments,
                                         const ZDMPScopeRef& scope, Error* error) {
    bool handled = false;
    ZDMPValueRef result = applyProperty(name, arguments, scope, error, &handled);
    return handled ? result : applyBaseRule(name, error);
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
