#include "measurement/interpreter/ZDMPComparisonCommandEvaluator.h"

#include "measurement/interpreter/ZDMPConversions.h"

namespace {

using List = const ZDMPValueList&;
using Scope = const ZDMPScopeRef&;

enum class Order { less, same, greater };

// Two string-like values by text (canonically equivalent texts the same); otherwise by number, where
// NaN on either side is `greater`, so no ordering holds.
Order ordering(const ZDMPRuntimeValue& a, const ZDMPRuntimeValue& b, Error* error) {
    if (a.isStringLike() && b.isStringLike()) {
        const std::u16string x = a.stringValueOrError(error);
        if (ZDMPFailed(*error)) return Order::greater;
        const std::u16string y = b.stringValueOrError(error);
        if (ZDMPFailed(*error)) return Order::greater;
        const int order = ZDMPCompareTexts(x, y);
        return order < 0 ? Order::less : (order == 0 ? Order::same : Order::greater);
    }
    const double x = a.doubleValueOrError(error);
    if (ZDMPFailed(*error)) return Order::greater;
    const double y = b.doubleValueOrError(error);
    if (x < y) return Order::less;
    return x == y ? Order::same : Order::greater;
}

// 0 undefined and null, 1 numbers and booleans, 2 strings, 3 everything else.
int rank(const ZDMPRuntimeValue& value) {
    switch (value.kind()) {
        case ZDMPValueKind::undefined:
        case ZDMPValueKind::null:
            return 0;
        case ZDMPValueKind::number:
        case ZDMPValueKind::boolean:
            return 1;
        case ZDMPValueKind::string:
            return 2;
        default:
            return 3;
    }
}

bool looselyEqual(const ZDMPRuntimeValue& a, const ZDMPRuntimeValue& b, Error* error) {
    const bool firstIsLower = rank(a) <= rank(b);
    const ZDMPRuntimeValue& low = firstIsLower ? a : b;
    const ZDMPRuntimeValue& high = firstIsLower ? b : a;
    switch (rank(low)) {
        case 0:
            return rank(high) == 0;
        case 1: {
            const double x = low.doubleValueOrError(error);
            if (ZDMPFailed(*error)) return false;
            return x == high.doubleValueOrError(error);
        }
        case 2: {
            const std::u16string x = low.stringValueOrError(error);
            if (ZDMPFailed(*error)) return false;
            return x == high.stringValueOrError(error);
        }
        default:
            return &low == &high;
    }
}

template <class Test>
ZDMPValueRef answer(Error* error, Test test) {
    const bool result = test();
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return ZDMPBoolean(result);
}

ZDMPValueRef equal(List v, Scope, Error* error) {
    return answer(error, [&] { return looselyEqual(*v[0], *v[1], error); });
}

ZDMPValueRef notEqual(List v, Scope, Error* error) {
    return answer(error, [&] { return !looselyEqual(*v[0], *v[1], error); });
}

ZDMPValueRef strictlyEqual(List v, Scope, Error* error) {
    return answer(error, [&] { return ZDMPStrictlyEqual(*v[0], *v[1], error); });
}

ZDMPValueRef notStrictlyEqual(List v, Scope, Error* error) {
    return answer(error, [&] { return !ZDMPStrictlyEqual(*v[0], *v[1], error); });
}

ZDMPValueRef greater(List v, Scope, Error* error) {
    return answer(error, [&] { return ordering(*v[1], *v[0], error) == Order::less; });
}

ZDMPValueRef greaterOrSame(List v, Scope, Error* error) {
    return answer(error, [&] { return ordering(*v[1], *v[0], error) != Order::greater; });
}

ZDMPValueRef less(List v, Scope, Error* error) {
    return answer(error, [&] { return ordering(*v[0], *v[1], error) == Order::less; });
}

ZDMPValueRef lessOrSame(List v, Scope, Error* error) {
    return answer(error, [&] { return ordering(*v[0], *v[1], error) != Order::greater; });
}

}  // namespace

ZDMPComparisonCommandEvaluator::ZDMPComparisonCommandEvaluator()
    : ZDMPHandlerTableEvaluator(Arguments::evaluatedPair, {
                                                              {u"12", equal},
                                                              {u"29", notEqual},
                                                              {u"20", strictlyEqual},
                                                              {u"21", notStrictlyEqual},
                                                              {u"18", greater},
                                                              {u"19", greaterOrSame},
                                                              {u"23", less},
                                                              {u"24", lessOrSame},
                                                          }) {}
