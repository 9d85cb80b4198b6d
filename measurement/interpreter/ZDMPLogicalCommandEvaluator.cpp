#include "measurement/interpreter/ZDMPLogicalCommandEvaluator.h"

#include "measurement/interpreter/ZDMPEvaluator.h"

namespace {

using List = const ZDMPValueList&;
using Scope = const ZDMPScopeRef&;

// The first operand's value and its truth value, for and/or.
bool firstOperand(List arguments, Scope scope, Error* error, ZDMPValueRef* value) {
    if (!ZDMPEvaluator::hasExactly(arguments, 2, error)) return false;
    *value = ZDMPEvaluator::evaluateStatement(arguments[0], scope, error);
    if (ZDMPFailed(*error)) return false;
    return value->get()->booleanValueOrError(error);
}

ZDMPValueRef logicalAnd(List arguments, Scope scope, Error* error) {
    ZDMPValueRef first;
    const bool truth = firstOperand(arguments, scope, error, &first);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return truth ? ZDMPEvaluator::evaluateStatement(arguments[1], scope, error) : first;
}

ZDMPValueRef logicalOr(List arguments, Scope scope, Error* error) {
    ZDMPValueRef first;
    const bool truth = firstOperand(arguments, scope, error, &first);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return truth ? first : ZDMPEvaluator::evaluateStatement(arguments[1], scope, error);
}

ZDMPValueRef logicalNot(List arguments, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 1, error)) return ZDMPUndefined();
    const ZDMPValueRef operand = ZDMPEvaluator::evaluateStatement(arguments[0], scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const bool truth = operand->booleanValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return ZDMPBoolean(!truth);
}

}  // namespace

ZDMPLogicalCommandEvaluator::ZDMPLogicalCommandEvaluator()
    : ZDMPHandlerTableEvaluator(Arguments::unevaluated, {
                                                            {u"1", logicalAnd},
                                                            {u"30", logicalOr},
                                                            {u"28", logicalNot},
                                                        }) {}
