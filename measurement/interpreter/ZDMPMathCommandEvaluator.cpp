#include "measurement/interpreter/ZDMPMathCommandEvaluator.h"

#include <cmath>
#include <functional>

#include "measurement/interpreter/ZDMPEvaluator.h"

namespace {

using List = const ZDMPValueList&;
using Scope = const ZDMPScopeRef&;

// The number conversions of exactly two operands combined by `operation`.
template <class Operation>
ZDMPValueRef binary(List values, Error* error, Operation operation) {
    if (!ZDMPEvaluator::hasExactly(values, 2, error)) return ZDMPUndefined();
    const double a = values[0]->doubleValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const double b = values[1]->doubleValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return ZDMPNumberValue::make(operation(a, b));
}

ZDMPValueRef add(List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 2, error)) return ZDMPUndefined();
    if (!values[0]->isStringLike() && !values[1]->isStringLike()) return binary(values, error, std::plus<>());
    std::u16string text = values[0]->stringValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    text += values[1]->stringValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return ZDMPStringValue::make(std::move(text), error);
}

ZDMPValueRef divide(List values, Scope, Error* error) {
    return binary(values, error, std::divides<>());
}

ZDMPValueRef remainder(List values, Scope, Error* error) {
    return binary(values, error, [](double a, double b) { return std::fmod(a, b); });
}

ZDMPValueRef multiply(List values, Scope, Error* error) {
    return binary(values, error, std::multiplies<>());
}

ZDMPValueRef subtract(List values, Scope, Error* error) {
    return binary(values, error, std::minus<>());
}

ZDMPValueRef negate(List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    const double a = values[0]->doubleValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return ZDMPNumberValue::make(-a);
}

ZDMPValueRef firstOfTwo(List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 2, error)) return ZDMPUndefined();
    return values[0];
}

ZDMPValueRef onlyOperand(List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    return values[0];
}

}  // namespace

ZDMPMathCommandEvaluator::ZDMPMathCommandEvaluator()
    : ZDMPHandlerTableEvaluator(Arguments::evaluated, {
                                                          {u"0", add},
                                                          {u"10", divide},
                                                          {u"25", remainder},
                                                          {u"26", multiply},
                                                          {u"27", negate},
                                                          {u"37", subtract},
                                                          {u"32", firstOfTwo},
                                                          {u"33", firstOfTwo},
                                                          {u"34", onlyOperand},
                                                          {u"35", onlyOperand},
                                                      }) {}
