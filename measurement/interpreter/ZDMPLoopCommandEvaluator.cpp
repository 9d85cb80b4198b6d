#include "measurement/interpreter/ZDMPLoopCommandEvaluator.h"

#include "measurement/interpreter/ZDMPArrayValue.h"
#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPFunctionValue.h"
#include "measurement/interpreter/ZDMPRunBudget.h"
#include "measurement/interpreter/ZDMPScope.h"

namespace {

using List = const ZDMPValueList&;
using Scope = const ZDMPScopeRef&;

enum class Binding { existing, constant, mutableCopy };
enum class Items { keys, elements };

// Runs the body once in `scope`. False when the loop ends here: on a failure or a break (result
// undefined) or a return (the return value itself, for the enclosing function).
bool runBody(const ZDMPArrayValue& body, Scope scope, Error* error, ZDMPValueRef* result) {
    const ZDMPValueRef outcome = ZDMPEvaluator::executeStatements(body.allElements(), scope, error);
    *result = ZDMPUndefined();
    if (ZDMPFailed(*error) || outcome == ZDMPControlValue::breakValue()) return false;
    const auto* control = ZDMPAs<ZDMPControlValue>(outcome);
    if (control && control->controlType() == ZDMPControlValue::Type::returnType) {
        *result = outcome;
        return false;
    }
    return true;
}

ZDMPValueList stringValues(std::vector<std::u16string> texts) {
    ZDMPValueList values;
    values.reserve(texts.size());
    for (auto& text : texts) values.push_back(std::make_shared<ZDMPStringValue>(std::move(text)));
    return values;
}

// The keys a key loop binds: indexes of a string, property names of arrays, maps and functions.
ZDMPValueList keysOf(const ZDMPValueRef& collection) {
    if (const auto* string = ZDMPAs<ZDMPStringValue>(collection)) {
        std::vector<std::u16string> indexes;
        for (size_t i = 0; i < string->value().size(); ++i)
            indexes.push_back(ZDMPNumberToText(static_cast<double>(i)));
        return stringValues(std::move(indexes));
    }
    if (const auto* array = ZDMPAs<ZDMPArrayValue>(collection))
        return stringValues(array->allPropertyNames());
    if (const auto* map = ZDMPAs<ZDMPMapValue>(collection)) return stringValues(map->allPropertyNames());
    if (const auto* function = ZDMPAs<ZDMPFunctionValue>(collection)) {
        return stringValues(function->allPropertyNames());
    }
    return {};
}

// The items an item loop binds: the units of a string or the elements of an array (holes read as
// undefined); anything else fails with code 16.
ZDMPValueList elementsOf(const ZDMPValueRef& collection, Error* error) {
    if (const auto* string = ZDMPAs<ZDMPStringValue>(collection)) {
        std::vector<std::u16string> units;
        for (const char16_t unit : string->value()) units.emplace_back(1, unit);
        return stringValues(std::move(units));
    }
    if (const auto* array = ZDMPAs<ZDMPArrayValue>(collection)) return array->allElements();
    ZDMPSetError(error, ZDMPErrorCode::notIterable);
    return {};
}

// A string's units and keys each become a value: charge them before they are made.
bool reserveItems(const ZDMPValueRef& collection, Error* error) {
    const auto* string = ZDMPAs<ZDMPStringValue>(collection);
    if (!string) return true;
    constexpr double kBytesPerItem = sizeof(ZDMPValueRef) + sizeof(ZDMPStringValue);
    return ZDMPRunBudget::reserveBytes(static_cast<double>(string->value().size()) * kBytesPerItem, error);
}

ZDMPValueRef collectionLoop(List arguments, Scope scope, Error* error, Items kind, Binding binding) {
    if (!ZDMPEvaluator::hasExactly(arguments, 3, error)) return ZDMPUndefined();
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const std::u16string name = values[0]->stringValueOrError(error);
    if (ZDMPFailed(*error) || !reserveItems(values[1], error)) return ZDMPUndefined();
    // Built once: changes the body makes to the collection do not change the iterations.
    const ZDMPValueList items = kind == Items::keys ? keysOf(values[1]) : elementsOf(values[1], error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const auto* body = ZDMPAs<ZDMPArrayValue>(values[2]);
    if (!body) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
    ZDMPValueRef result = ZDMPUndefined();
    for (const auto& item : items) {
        ZDMPScopeRef bodyScope = scope;
        if (binding == Binding::existing) {
            scope->setValue(item, name);
        } else {
            bodyScope = scope->createChildScope();
            if (binding == Binding::constant) {
                bodyScope->addImmutableValue(item, name);
            } else {
                bodyScope->addValue(item, name);
            }
        }
        if (!runBody(*body, bodyScope, error, &result)) return result;
    }
    return ZDMPUndefined();
}

template <Items kind, Binding binding>
ZDMPValueRef collectionLoopOf(List arguments, Scope scope, Error* error) {
    return collectionLoop(arguments, scope, error, kind, binding);
}

// An operand that must evaluate to an array (code 10 otherwise).
std::shared_ptr<ZDMPArrayValue> arrayOperand(const ZDMPValueRef& operand, Scope scope, Error* error) {
    const ZDMPValueRef value = ZDMPEvaluator::evaluateStatement(operand, scope, error);
    if (ZDMPFailed(*error)) return nullptr;
    auto array = std::dynamic_pointer_cast<ZDMPArrayValue>(value);
    if (!array) ZDMPSetError(error, ZDMPErrorCode::wrongArgumentKind);
    return array;
}

bool conditionHolds(const ZDMPValueRef& condition, Scope scope, Error* error) {
    const ZDMPValueRef value = ZDMPEvaluator::evaluateStatement(condition, scope, error);
    if (ZDMPFailed(*error)) return false;
    return value->booleanValueOrError(error);
}

// A sibling of the previous iteration's scope holding copies of the loop variables, so every
// iteration (and every function made in it) keeps its own values.
ZDMPScopeRef iterationScope(Scope outer, const ZDMPScope& source, const std::vector<std::u16string>& names) {
    ZDMPScopeRef scope = outer->createChildScope();
    for (const auto& name : names) scope->addValue(source.valueForName(name), name);
    return scope;
}

ZDMPValueRef countedLoop(List arguments, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 4, error)) return ZDMPUndefined();
    const auto variables = arrayOperand(arguments[0], scope, error);
    if (!variables) return ZDMPUndefined();
    std::vector<std::u16string> names;
    for (const auto& variable : variables->allElements()) {
        names.push_back(variable->stringValueOrError(error));
        if (ZDMPFailed(*error)) return ZDMPUndefined();
    }
    const auto body = arrayOperand(arguments[3], scope, error);
    if (!body) return ZDMPUndefined();
    ZDMPScopeRef iteration = iterationScope(scope, *scope, names);
    ZDMPValueRef result = ZDMPUndefined();
    while (true) {
        const bool holds = conditionHolds(arguments[1], iteration, error);
        if (ZDMPFailed(*error) || !holds) return ZDMPUndefined();
        if (!runBody(*body, iteration, error, &result)) return result;
        iteration = iterationScope(scope, *iteration, names);
        ZDMPEvaluator::evaluateStatement(arguments[2], iteration, error);
        if (ZDMPFailed(*error)) return ZDMPUndefined();
    }
}

ZDMPValueRef whileLoop(List arguments, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 4, error)) return ZDMPUndefined();
    const bool bodyFirst = conditionHolds(arguments[2], scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const auto body = arrayOperand(arguments[3], scope, error);
    if (!body) return ZDMPUndefined();
    ZDMPValueRef result = ZDMPUndefined();
    if (bodyFirst && !runBody(*body, scope, error, &result)) return result;
    while (true) {
        const bool holds = conditionHolds(arguments[0], scope, error);
        if (ZDMPFailed(*error) || !holds) return ZDMPUndefined();
        if (!runBody(*body, scope, error, &result)) return result;
        ZDMPEvaluator::evaluateStatement(arguments[1], scope, error);
        if (ZDMPFailed(*error)) return ZDMPUndefined();
    }
}

}  // namespace

ZDMPLoopCommandEvaluator::ZDMPLoopCommandEvaluator()
    : ZDMPHandlerTableEvaluator(Arguments::unevaluated,
                                {
                                    {u"47", collectionLoopOf<Items::keys, Binding::existing>},
                                    {u"54", collectionLoopOf<Items::keys, Binding::constant>},
                                    {u"55", collectionLoopOf<Items::keys, Binding::mutableCopy>},
                                    {u"64", collectionLoopOf<Items::elements, Binding::existing>},
                                    {u"65", collectionLoopOf<Items::elements, Binding::constant>},
                                    {u"66", collectionLoopOf<Items::elements, Binding::mutableCopy>},
                                    {u"63", countedLoop},
                                    {u"42", whileLoop},
                                }) {}
