#include "measurement/interpreter/ZDMPArrayCommandEvaluator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "measurement/interpreter/ZDMPArrayValue.h"
#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPFunctionValue.h"
#include "platform/foundation/SharedInstance.h"

namespace {

using Array = const std::shared_ptr<ZDMPArrayValue>&;
using List = const ZDMPValueList&;
using Scope = const ZDMPScopeRef&;
using Function = std::shared_ptr<ZDMPFunctionValue>;

constinit SharedInstance<ZDMPArrayCommandEvaluator> sharedEvaluator(TestReset::keep);

ZDMPValueRef number(double value) {
    return ZDMPNumberValue::make(value);
}

ZDMPValueRef failed(Error* error, Error&& failure) {
    setError(error, std::move(failure));
    return ZDMPUndefined();
}

// The number conversion with NaN as 0, infinities and zeros kept, anything else truncated.
double integerArgument(const ZDMPValueRef& value, Error* error) {
    return ZDMPIntegerPart(value->doubleValueOrError(error));
}

// The argument as a function, or null with code 10.
Function functionArgument(const ZDMPValueRef& value, Error* error) {
    auto function = std::dynamic_pointer_cast<ZDMPFunctionValue>(value);
    if (!function) ZDMPSetError(error, ZDMPErrorCode::wrongArgumentKind);
    return function;
}

// The element at `index` when one is there (not a hole, not beyond an end a callback moved), else null.
ZDMPValueRef presentElement(Array array, size_t index, Error* error) {
    const ZDMPValueRef key = number(static_cast<double>(index));
    if (!array->hasProperty(*key, error)) return nullptr;
    return array->valueForProperty(*key, error);
}

// Visits the indexes present among the first `count` (fixed before the first callback, so a callback
// that grows the array does not lengthen the walk); `step` answers whether to go on.
template <class Step>
void visitElements(Array array, const Function& callback, Error* error, Step step) {
    const size_t count = array->count();
    for (size_t i = 0; i < count; ++i) {
        Error failure;
        const ZDMPValueRef element = presentElement(array, i, &failure);
        if (ZDMPFailed(failure)) return (void)setError(error, std::move(failure));
        if (!element) continue;
        const ZDMPValueRef result = callback->invokeWithEvaluatedArguments(
            {element, number(static_cast<double>(i)), array}, &failure);
        if (ZDMPFailed(failure)) return (void)setError(error, std::move(failure));
        if (!step(i, element, result, &failure)) {
            if (ZDMPFailed(failure)) setError(error, std::move(failure));
            return;
        }
    }
}

// every and some: stop at the first result whose boolean conversion is `stopOn`.
ZDMPValueRef testElements(Array array, List values, Error* error, bool stopOn) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    const Function callback = functionArgument(values[0], error);
    if (!callback) return ZDMPUndefined();
    Error failure;
    bool stopped = false;
    visitElements(array, callback, &failure,
                  [&](size_t, const ZDMPValueRef&, const ZDMPValueRef& r, Error* e) {
                      stopped = r->booleanValueOrError(e) == stopOn;
                      return !ZDMPFailed(*e) && !stopped;
                  });
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    return ZDMPBoolean(stopped ? stopOn : !stopOn);
}

ZDMPValueRef every(Array array, List values, Scope, Error* error) {
    return testElements(array, values, error, false);
}

ZDMPValueRef some(Array array, List values, Scope, Error* error) {
    return testElements(array, values, error, true);
}

ZDMPValueRef filter(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    const Function callback = functionArgument(values[0], error);
    if (!callback) return ZDMPUndefined();
    const auto result = std::make_shared<ZDMPArrayValue>();
    Error failure;
    visitElements(array, callback, &failure,
                  [&](size_t, const ZDMPValueRef& v, const ZDMPValueRef& r, Error* e) {
                      if (r->booleanValueOrError(e) && !ZDMPFailed(*e)) result->appendElements({v}, e);
                      return !ZDMPFailed(*e);
                  });
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    return result;
}

ZDMPValueRef forEach(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    const Function callback = functionArgument(values[0], error);
    if (!callback) return ZDMPUndefined();
    Error failure;
    visitElements(array, callback, &failure,
                  [](size_t, const ZDMPValueRef&, const ZDMPValueRef&, Error*) { return true; });
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    return ZDMPUndefined();
}

ZDMPValueRef map(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    const Function callback = functionArgument(values[0], error);
    if (!callback) return ZDMPUndefined();
    // Index writes leave skipped indexes as holes and end the result after the last visited element.
    const auto result = std::make_shared<ZDMPArrayValue>();
    Error failure;
    visitElements(array, callback, &failure,
                  [&](size_t i, const ZDMPValueRef&, const ZDMPValueRef& r, Error* e) {
                      result->setValueForProperty(r, *number(static_cast<double>(i)), e);
                      return !ZDMPFailed(*e);
                  });
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    return result;
}

// reduce and reduceRight: the indexes in visiting order are `first`, first + direction, ... for
// the count at the start.
ZDMPValueRef reduceElements(Array array, List values, Error* error, bool fromRight) {
    if (!ZDMPEvaluator::hasAtLeast(values, 1, error) || !ZDMPEvaluator::hasAtMost(values, 2, error))
        return ZDMPUndefined();
    const Function callback = functionArgument(values[0], error);
    if (!callback) return ZDMPUndefined();
    if (values.size() == 2 && values[1]->kind() == ZDMPValueKind::control)
        return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
    const size_t count = array->count();
    ZDMPValueRef accumulator = values.size() == 2 ? values[1] : nullptr;
    Error failure;
    for (size_t step = 0; step < count; ++step) {
        const size_t i = fromRight ? count - 1 - step : step;
        const ZDMPValueRef element = presentElement(array, i, &failure);
        if (ZDMPFailed(failure)) return failed(error, std::move(failure));
        if (!element) continue;
        if (!accumulator) {
            accumulator = element;
            continue;
        }
        accumulator = callback->invokeWithEvaluatedArguments(
            {accumulator, element, number(static_cast<double>(i)), array}, &failure);
        if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    }
    if (!accumulator) return ZDMPFail(error, ZDMPErrorCode::reduceOfEmptyArray);
    return accumulator;
}

ZDMPValueRef reduce(Array array, List values, Scope, Error* error) {
    return reduceElements(array, values, error, false);
}

ZDMPValueRef reduceRight(Array array, List values, Scope, Error* error) {
    return reduceElements(array, values, error, true);
}

ZDMPValueRef concat(Array array, List values, Scope, Error* error) {
    Error failure;
    const auto result = ZDMPArrayValue::initWithArray(array->slots(), &failure);
    if (!result) return failed(error, std::move(failure));
    for (const auto& value : values) {
        if (!result->concat(value, &failure)) return failed(error, std::move(failure));
    }
    return result;
}

ZDMPValueRef hasOwnProperty(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    Error failure;
    const std::u16string name = values[0]->stringValueOrError(&failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    if (name == u"length") return ZDMPBoolean(true);
    const bool present = array->hasProperty(*values[0], &failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    return ZDMPBoolean(present);
}

// The index found, or -1, as a number value.
ZDMPValueRef foundIndex(int64_t index, Error* error, Error&& failure) {
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    return number(static_cast<double>(index));
}

ZDMPValueRef indexOf(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 2, error)) return ZDMPUndefined();
    const ZDMPValueRef search = values.empty() ? ZDMPUndefined() : values[0];
    Error failure;
    double from = values.size() > 1 ? integerArgument(values[1], &failure) : 0;
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    const auto count = static_cast<double>(array->count());
    if (from >= count) return number(-1);
    if (from < 0) from = std::max(from + count, 0.0);
    // Holes are the marker value, which nothing a program holds is strictly equal to.
    const int64_t index = array->indexOfValue(*search, static_cast<int64_t>(from), &failure);
    return foundIndex(index, error, std::move(failure));
}

ZDMPValueRef lastIndexOf(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 2, error)) return ZDMPUndefined();
    const ZDMPValueRef search = values.empty() ? ZDMPUndefined() : values[0];
    const auto count = static_cast<double>(array->count());
    double from = count - 1;
    Error failure;
    if (values.size() > 1) {
        const double given = values[1]->doubleValueOrError(&failure);
        if (ZDMPFailed(failure)) return failed(error, std::move(failure));
        if (!std::isnan(given)) from = ZDMPIntegerPart(given);
    }
    if (from < 0) from += count;
    if (from < 0) return number(-1);
    from = std::min(from, count - 1);
    const int64_t index = array->lastIndexOfValue(*search, static_cast<int64_t>(from), &failure);
    return foundIndex(index, error, std::move(failure));
}

ZDMPValueRef joinedText(Array array, std::u16string_view separator, Error* error) {
    Error failure;
    std::u16string text = array->stringValueWithSeparator(separator, &failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    return ZDMPStringValue::make(std::move(text), error);
}

ZDMPValueRef join(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 1, error)) return ZDMPUndefined();
    std::u16string separator = u",";
    if (!values.empty()) {
        const ZDMPValueKind kind = values[0]->kind();
        Error failure;
        separator = kind == ZDMPValueKind::undefined || kind == ZDMPValueKind::null
                        ? u""
                        : values[0]->stringValueOrError(&failure);
        if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    }
    return joinedText(array, separator, error);
}

ZDMPValueRef toString(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 0, error)) return ZDMPUndefined();
    return joinedText(array, u",", error);
}

// A removed hole reads as undefined, as an empty array's: the marker itself must never reach a
// program, where every conversion of it fails and storing it elsewhere silently makes a hole.
ZDMPValueRef removedSlot(ZDMPValueRef slot) {
    return ZDMPArrayValue::isHole(slot) ? ZDMPUndefined() : std::move(slot);
}

ZDMPValueRef pop(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 0, error)) return ZDMPUndefined();
    return removedSlot(array->removeLastElement());
}

ZDMPValueRef shift(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 0, error)) return ZDMPUndefined();
    return removedSlot(array->removeFirstElement());
}

ZDMPValueRef push(Array array, List values, Scope, Error* error) {
    Error failure;
    const size_t count = array->appendElements(values, &failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    return number(static_cast<double>(count));
}

ZDMPValueRef unshift(Array array, List values, Scope, Error* error) {
    Error failure;
    const size_t count = array->prependElements(values, &failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    return number(static_cast<double>(count));
}

ZDMPValueRef reverse(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 0, error)) return ZDMPUndefined();
    array->reverse();
    return array;
}

ZDMPValueRef slice(Array array, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 2, error)) return ZDMPUndefined();
    const auto count = static_cast<double>(array->count());
    Error failure;
    double start = values.empty() ? 0 : integerArgument(values[0], &failure);
    double end = values.size() > 1 ? integerArgument(values[1], &failure) : count;
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    if (start < 0) start += count;
    start = std::clamp(start, 0.0, count);
    if (end < 0) end += count;
    end = std::min(std::max(end, start), count);
    const auto location = static_cast<size_t>(start);
    const auto& slots = array->slots();
    const auto begin = slots.begin() + static_cast<std::ptrdiff_t>(location);
    const auto result = ZDMPArrayValue::initWithArray(
        ZDMPValueList(begin, begin + static_cast<std::ptrdiff_t>(end - start)), &failure);
    if (!result) return failed(error, std::move(failure));
    return result;
}

ZDMPValueRef sort(Array array, List values, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 1, error)) return ZDMPUndefined();
    if (array->count() < 2) return array;
    Function comparator;
    if (!values.empty() && !(comparator = functionArgument(values[0], error))) return ZDMPUndefined();
    Error failure;
    array->sortUsingFunctionValue(comparator, scope, &failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    return array;
}

ZDMPValueRef splice(Array array, List values, Scope, Error* error) {
    Error failure;
    if (values.empty()) {
        const auto result = ZDMPArrayValue::initWithArray({}, &failure);
        return result ? ZDMPValueRef(result) : failed(error, std::move(failure));
    }
    const auto count = static_cast<int64_t>(array->count());
    const double given = integerArgument(values[0], &failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    // Out of the 64-bit range (the infinities among them) means the most negative integer, which
    // the negative rule then clamps to 0; the range is checked rather than cast.
    int64_t start = given >= -9223372036854775808.0 && given < 9223372036854775808.0
                        ? static_cast<int64_t>(given)
                        : INT64_MIN;
    if (start < 0) start = start < -count ? 0 : start + count;
    start = std::min(start, count);
    int64_t deleteCount = count - start;
    if (values.size() > 1) {
        const double wanted = integerArgument(values[1], &failure);
        if (ZDMPFailed(failure)) return failed(error, std::move(failure));
        deleteCount = static_cast<int64_t>(std::clamp(wanted, 0.0, static_cast<double>(count - start)));
    }
    const ZDMPValueList items(values.begin() + std::min<ptrdiff_t>(2, std::ssize(values)), values.end());
    ZDMPValueList removed = array->spliceFrom(start, deleteCount, items, &failure);
    if (ZDMPFailed(failure)) return failed(error, std::move(failure));
    const auto result = ZDMPArrayValue::initWithArray(std::move(removed), &failure);
    if (!result) return failed(error, std::move(failure));
    return result;
}

}  // namespace

std::shared_ptr<ZDMPArrayCommandEvaluator> ZDMPArrayCommandEvaluator::sharedInstance() {
    return sharedEvaluator.get();
}

ZDMPArrayCommandEvaluator::ZDMPArrayCommandEvaluator()
    : handlers_({
          {u"concat", concat},
          {u"every", every},
          {u"filter", filter},
          {u"forEach", forEach},
          {u"hasOwnProperty", hasOwnProperty},
          {u"indexOf", indexOf},
          {u"join", join},
          {u"lastIndexOf", lastIndexOf},
          {u"map", map},
          {u"pop", pop},
          {u"push", push},
          {u"reduce", reduce},
          {u"reduceRight", reduceRight},
          {u"reverse", reverse},
          {u"shift", shift},
          {u"slice", slice},
          {u"some", some},
          {u"sort", sort},
          {u"splice", splice},
          {u"toString", toString},
          {u"unshift", unshift},
      }) {}

ZDMPValueRef ZDMPArrayCommandEvaluator::evaluateCommand(const std::u16string& name, Array array,
                                                        const ZDMPValueList& arguments,
                                                        const ZDMPScopeRef& scope, Error* error) const {
    const auto found = handlers_.find(name);
    if (found == handlers_.end()) return ZDMPFail(error, ZDMPErrorCode::unknownMethod);
    Error failure;
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, &failure);
    ZDMPValueRef result =
        ZDMPFailed(failure) ? ZDMPUndefined() : found->second(array, values, scope, &failure);
    if (!ZDMPFailed(failure)) return result;
    return failed(error, std::move(failure));
}
