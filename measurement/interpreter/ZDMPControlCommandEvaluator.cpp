#include "measurement/interpreter/ZDMPControlCommandEvaluator.h"

#include "measurement/interpreter/ZDMPArrayValue.h"
#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPFunctionValue.h"
#include "measurement/interpreter/ZDMPScope.h"

namespace {

using List = const ZDMPValueList&;
using Scope = const ZDMPScopeRef&;

ZDMPValueRef evaluate(const ZDMPValueRef& value, Scope scope, Error* error) {
    return ZDMPEvaluator::evaluateStatement(value, scope, error);
}

bool isControl(const ZDMPValueRef& value) {
    return value->kind() == ZDMPValueKind::control;
}

// Runs an array's elements as a statement list in `scope`; the list is copied first, so the
// statements it runs may change the array.
ZDMPValueRef runList(const ZDMPArrayValue& list, Scope scope, Error* error) {
    return ZDMPEvaluator::executeStatements(list.allElements(), scope, error);
}

ZDMPValueRef methodCall(List arguments, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 3, error)) return ZDMPUndefined();
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const auto* name = ZDMPAs<ZDMPStringValue>(values[1]);
    const auto* methodArguments = ZDMPAs<ZDMPArrayValue>(values[2]);
    if (!name || !methodArguments) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
    return values[0]->applyWithName(name->value(), methodArguments->allElements(), scope, error);
}

ZDMPValueRef block(List arguments, Scope scope, Error* error) {
    return ZDMPEvaluator::executeStatements(arguments, scope->createChildScope(), error);
}

ZDMPValueRef breakStatement(List arguments, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 0, error)) return ZDMPUndefined();
    return ZDMPControlValue::breakValue();
}

ZDMPValueRef continueStatement(List arguments, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 0, error)) return ZDMPUndefined();
    return ZDMPControlValue::continueValue();
}

ZDMPValueRef runEvaluatedList(List arguments, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 1, error)) return ZDMPUndefined();
    const ZDMPValueRef list = evaluate(arguments[0], scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const auto* array = ZDMPAs<ZDMPArrayValue>(list);
    if (!array) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
    return runList(*array, scope, error);
}

ZDMPValueRef sequence(List arguments, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasAtLeast(arguments, 1, error)) return ZDMPUndefined();
    ZDMPValueRef result;
    for (const auto& argument : arguments) {
        result = evaluate(argument, scope, error);
        if (ZDMPFailed(*error)) return ZDMPUndefined();
        if (isControl(result)) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
    }
    return result;
}

std::shared_ptr<ZDMPFunctionValue> makeFunction(List arguments, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasAtLeast(arguments, 2, error)) return nullptr;
    std::u16string name = arguments[0]->stringValueOrError(error);
    if (ZDMPFailed(*error)) return nullptr;
    const ZDMPValueRef parameterList = evaluate(arguments[1], scope, error);
    if (ZDMPFailed(*error)) return nullptr;
    const auto* parameters = ZDMPAs<ZDMPArrayValue>(parameterList);
    if (!parameters) {
        ZDMPSetError(error, ZDMPErrorCode::wrongArgumentKind);
        return nullptr;
    }
    std::vector<std::u16string> parameterNames;
    for (const auto& parameter : parameters->allElements()) {
        parameterNames.push_back(parameter->stringValueOrError(error));
        if (ZDMPFailed(*error)) return nullptr;
    }
    ZDMPValueList body(arguments.begin() + 2, arguments.end());
    return std::make_shared<ZDMPFunctionValue>(std::move(name), std::move(parameterNames), std::move(body),
                                               scope);
}

ZDMPValueRef functionExpression(List arguments, Scope scope, Error* error) {
    auto function = makeFunction(arguments, scope, error);
    return function ? ZDMPValueRef(function) : ZDMPUndefined();
}

ZDMPValueRef functionDeclaration(List arguments, Scope scope, Error* error) {
    auto function = makeFunction(arguments, scope, error);
    if (!function) return ZDMPUndefined();
    scope->setValue(function, function->functionName());
    return function;
}

// An array branch runs as a list in the current scope; any other branch value is the result.
ZDMPValueRef takeBranch(const ZDMPValueRef& branch, Scope scope, Error* error) {
    const ZDMPValueRef value = evaluate(branch, scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    if (const auto* list = ZDMPAs<ZDMPArrayValue>(value)) return runList(*list, scope, error);
    return value;
}

ZDMPValueRef ifStatement(List arguments, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasAtLeast(arguments, 1, error) || !ZDMPEvaluator::hasAtMost(arguments, 3, error)) {
        return ZDMPUndefined();
    }
    const ZDMPValueRef condition = evaluate(arguments[0], scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const bool truth = condition->booleanValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const size_t branch = truth ? 1 : 2;
    if (branch >= arguments.size()) return ZDMPUndefined();
    return takeBranch(arguments[branch], scope, error);
}

ZDMPValueRef statementList(List arguments, Scope, Error* error) {
    auto list = ZDMPArrayValue::initWithArray(arguments, error);
    return list ? ZDMPValueRef(list) : ZDMPUndefined();
}

ZDMPValueRef returnStatement(List arguments, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(arguments, 1, error)) return ZDMPUndefined();
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return ZDMPControlValue::returnValueWithData(values.empty() ? ZDMPUndefined() : values[0]);
}

// A body's outcome: a failure or a control value ends the switch; anything else goes on.
bool switchBodyEnds(const ZDMPValueRef& outcome, const Error& failure) {
    return ZDMPFailed(failure) || isControl(outcome);
}

// A break is consumed; continue and return reach the enclosing loop or function.
ZDMPValueRef switchResult(const ZDMPValueRef& outcome, Error* error) {
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const auto* control = ZDMPAs<ZDMPControlValue>(outcome);
    if (!control || control->controlType() == ZDMPControlValue::Type::breakType) return ZDMPUndefined();
    return outcome;
}

ZDMPValueRef switchStatement(List arguments, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 3, error)) return ZDMPUndefined();
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const auto* caseList = ZDMPAs<ZDMPArrayValue>(values[1]);
    const auto* bodyList = ZDMPAs<ZDMPArrayValue>(values[2]);
    if (!caseList || !bodyList) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentCount);
    const ZDMPValueRef& discriminant = values[0];
    const ZDMPValueList cases = caseList->allElements();
    const ZDMPValueList bodies = bodyList->allElements();
    bool fallingThrough = false;
    for (size_t i = 0; i < cases.size(); ++i) {
        if (!fallingThrough) {
            const ZDMPValueRef candidate = evaluate(cases[i], scope, error);
            if (ZDMPFailed(*error)) return ZDMPUndefined();
            fallingThrough = ZDMPStrictlyEqual(*candidate, *discriminant, error);
            if (ZDMPFailed(*error)) return ZDMPUndefined();
            if (!fallingThrough) continue;
        }
        // A case without a body of its own falls through to the next one.
        if (i >= bodies.size()) continue;
        const ZDMPValueRef outcome = evaluate(bodies[i], scope, error);
        if (switchBodyEnds(outcome, *error)) return switchResult(outcome, error);
    }
    if (bodies.size() != cases.size() + 1) return ZDMPUndefined();
    const ZDMPValueRef outcome = evaluate(bodies.back(), scope, error);
    if (switchBodyEnds(outcome, *error)) return switchResult(outcome, error);
    return ZDMPUndefined();
}

ZDMPValueRef conditional(List arguments, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 3, error)) return ZDMPUndefined();
    const ZDMPValueRef condition = evaluate(arguments[0], scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const bool truth = condition->booleanValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return evaluate(arguments[truth ? 1 : 2], scope, error);
}

}  // namespace

ZDMPControlCommandEvaluator::ZDMPControlCommandEvaluator()
    : ZDMPHandlerTableEvaluator(Arguments::unevaluated, {
                                                            {u"2", methodCall},
                                                            {u"53", block},
                                                            {u"4", breakStatement},
                                                            {u"6", continueStatement},
                                                            {u"5", runEvaluatedList},
                                                            {u"9", runEvaluatedList},
                                                            {u"13", sequence},
                                                            {u"51", functionExpression},
                                                            {u"50", functionDeclaration},
                                                            {u"22", ifStatement},
                                                            {u"46", statementList},
                                                            {u"36", returnStatement},
                                                            {u"38", switchStatement},
                                                            {u"39", conditional},
                                                        }) {}
