#pragma once
// Evaluation entry points and the argument services every command family shares.
#include <cstddef>

#include "measurement/interpreter/ZDMPRuntimeValue.h"

struct ZDMPEvaluator {
    // Counts one evaluation against the run's budget (code 18 past it, nothing evaluated); a
    // statement goes to the evaluator owning its command code, any other value is itself.
    static ZDMPValueRef evaluateStatement(const ZDMPValueRef& value, const ZDMPScopeRef& scope, Error* error);
    // Evaluates in order; a failure yields undefined, a control value ends the list and is its
    // result, otherwise the last value (undefined for an empty list).
    static ZDMPValueRef executeStatements(const ZDMPValueList& statements, const ZDMPScopeRef& scope,
                                          Error* error);
    // Each value evaluated in order; at the first failure the results so far (the failed one
    // included) come back with the failure set.
    static ZDMPValueList evaluateArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                           Error* error);
    // Arity checks: false with code 9 when the list does not fit.
    static bool hasExactly(const ZDMPValueList& arguments, size_t n, Error* error);
    static bool hasAtLeast(const ZDMPValueList& arguments, size_t n, Error* error);
    static bool hasAtMost(const ZDMPValueList& arguments, size_t n, Error* error);
};
