#include "measurement/interpreter/ZDMPBitwiseCommandEvaluator.h"

#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPEvaluator.h"

namespace {

using List = const ZDMPValueList&;
using Scope = const ZDMPScopeRef&;

// Exactly `count` operands, each given its number conversion; false with the failure otherwise.
bool numbers(List values, size_t count, double* out, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, count, error)) return false;
    for (size_t i = 0; i < count; ++i) {
        out[i] = values[i]->doubleValueOrError(error);
        if (ZDMPFailed(*error)) return false;
    }
    return true;
}

template <class Operation>
ZDMPValueRef binary(List values, Error* error, Operation operation) {
    double operands[2];
    if (!numbers(values, 2, operands, error)) return ZDMPUndefined();
    return ZDMPNumberValue::make(static_cast<double>(operation(operands[0], operands[1])));
}

uint32_t shiftCount(double x) {
    return ZDMPToUint32(x) & 31;
}

ZDMPValueRef bitAnd(List values, Scope, Error* error) {
    return binary(values, error, [](double a, double b) { return ZDMPToInt32(a) & ZDMPToInt32(b); });
}

ZDMPValueRef bitOr(List values, Scope, Error* error) {
    return binary(values, error, [](double a, double b) { return ZDMPToInt32(a) | ZDMPToInt32(b); });
}

ZDMPValueRef bitXor(List values, Scope, Error* error) {
    return binary(values, error, [](double a, double b) { return ZDMPToInt32(a) ^ ZDMPToInt32(b); });
}

ZDMPValueRef bitNot(List values, Scope, Error* error) {
    double operand = 0;
    if (!numbers(values, 1, &operand, error)) return ZDMPUndefined();
    return ZDMPNumberValue::make(static_cast<double>(~ZDMPToInt32(operand)));
}

// Bits shifted past bit 31 are lost; the unsigned shift keeps the result a 32-bit pattern.
ZDMPValueRef shiftLeft(List values, Scope, Error* error) {
    return binary(values, error, [](double a, double b) {
        return static_cast<int32_t>(static_cast<uint32_t>(ZDMPToInt32(a)) << shiftCount(b));
    });
}

ZDMPValueRef shiftRight(List values, Scope, Error* error) {
    return binary(values, error, [](double a, double b) { return ZDMPToInt32(a) >> shiftCount(b); });
}

ZDMPValueRef shiftRightUnsigned(List values, Scope, Error* error) {
    return binary(values, error, [](double a, double b) { return ZDMPToUint32(a) >> shiftCount(b); });
}

}  // namespace

ZDMPBitwiseCommandEvaluator::ZDMPBitwiseCommandEvaluator()
    : ZDMPHandlerTableEvaluator(Arguments::evaluated, {
                                                          {u"56", bitAnd},
                                                          {u"59", bitOr},
                                                          {u"62", bitXor},
                                                          {u"58", bitNot},
                                                          {u"57", shiftLeft},
                                                          {u"60", shiftRight},
                                                          {u"61", shiftRightUnsigned},
                                                      }) {}
