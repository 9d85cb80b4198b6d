#include "measurement/interpreter/ZDMPEvaluator.h"

#include "measurement/interpreter/ZDMPCommandRegistrar.h"

ZDMPValueRef ZDMPEvaluator::evaluateStatement(const ZDMPValueRef& value, const ZDMPScopeRef& scope,
                                              Error* error) {
    static const auto registrar = ZDMPCommandRegistrar::sharedInstance();
    return registrar->evaluateStatement(value, scope, error);
}

ZDMPValueRef ZDMPEvaluator::executeStatements(const ZDMPValueList& statements, const ZDMPScopeRef& scope,
                                              Error* error) {
    ZDMPValueRef result = ZDMPUndefined();
    for (const auto& statement : statements) {
        Error failure;
        result = evaluateStatement(statement, scope, &failure);
        if (ZDMPFailed(failure)) {
            setError(error, std::move(failure));
            return ZDMPUndefined();
        }
        if (result->kind() == ZDMPValueKind::control) return result;
    }
    return result;
}

ZDMPValueList ZDMPEvaluator::evaluateArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                               Error* error) {
    ZDMPValueList values;
    values.reserve(arguments.size());
    for (const auto& argument : arguments) {
        Error failure;
        values.push_back(evaluateStatement(argument, scope, &failure));
        if (ZDMPFailed(failure)) {
            setError(error, std::move(failure));
            break;
        }
    }
    return values;
}

bool ZDMPEvaluator::hasExactly(const ZDMPValueList& arguments, size_t n, Error* error) {
    if (arguments.size() == n) return true;
    ZDMPSetError(error, ZDMPErrorCode::wrongArgumentCount);
    return false;
}

bool ZDMPEvaluator::hasAtLeast(const ZDMPValueList& arguments, size_t n, Error* error) {
    if (arguments.size() >= n) return true;
    ZDMPSetError(error, ZDMPErrorCode::wrongArgumentCount);
    return false;
}

bool ZDMPEvaluator::hasAtMost(const ZDMPValueList& arguments, size_t n, Error* error) {
    if (arguments.size() <= n) return true;
    ZDMPSetError(error, ZDMPErrorCode::wrongArgumentCount);
    return false;
}
