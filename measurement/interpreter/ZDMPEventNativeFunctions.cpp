#include "measurement/interpreter/ZDMPEventNativeFunctions.h"

#include <map>

#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPEventContext.h"
#include "measurement/interpreter/ZDMPRuntimeEntityConverter.h"

namespace {

using Handler = ZDMPValueRef (*)(const ZDMPValueList& values, ZDMPEventContext& context, Error* error);

// The text of a value, or nullopt with the failure set.
std::optional<std::string> textOf(const ZDMPValueRef& value, Error* error) {
    Error failure;
    std::u16string text = value->stringValueOrError(&failure);
    if (!ZDMPFailed(failure)) return ZDMPUtf8(text);
    setError(error, std::move(failure));
    return std::nullopt;
}

ZDMPValueRef getEventName(const ZDMPValueList& values, ZDMPEventContext& context, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 0, error)) return ZDMPUndefined();
    return ZDMPStringValue::make(ZDMPUtf16(context.outputEvent()->name()), error);
}

ZDMPValueRef getParamValue(const ZDMPValueList& values, ZDMPEventContext& context, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    const auto name = textOf(values[0], error);
    if (!name) return ZDMPUndefined();
    const Value* parameter = context.outputEvent()->parameterForName(*name);
    if (!parameter) return ZDMPNull();
    return ZDMPRuntimeEntityConverter::runtimeValueFromNSObject(*parameter, error);
}

ZDMPValueRef getParams(const ZDMPValueList& values, ZDMPEventContext& context, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 0, error)) return ZDMPUndefined();
    return ZDMPRuntimeEntityConverter::runtimeValueFromNSObject(Value(context.outputEvent()->parameters()),
                                                                error);
}

ZDMPValueRef getTimestamp(const ZDMPValueList& values, ZDMPEventContext& context, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 0, error)) return ZDMPUndefined();
    return ZDMPNumberValue::make(context.outputEvent()->timestamp());
}

ZDMPValueRef setEventName(const ZDMPValueList& values, ZDMPEventContext& context, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    const ZDMPValueKind kind = values[0]->kind();
    if (kind == ZDMPValueKind::undefined || kind == ZDMPValueKind::null)
        return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
    const auto name = textOf(values[0], error);
    if (!name) return ZDMPUndefined();
    context.outputEvent()->setName(*name);
    return ZDMPStringValue::make(ZDMPUtf16(*name), error);
}

ZDMPValueRef setParamValue(const ZDMPValueList& values, ZDMPEventContext& context, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 2, error)) return ZDMPUndefined();
    const auto name = textOf(values[0], error);
    if (!name) return ZDMPUndefined();
    Error failure;
    Value object = ZDMPRuntimeEntityConverter::objectFromRuntimeValue(values[1], &failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return ZDMPUndefined();
    }
    context.outputEvent()->setParameter(std::move(object), *name);
    return values[1];
}

const std::map<std::u16string, Handler>& handlers() {
    static const auto* table = new std::map<std::u16string, Handler>{
        {u"getEventName", getEventName}, {u"getParamValue", getParamValue}, {u"getParams", getParams},
        {u"getTimestamp", getTimestamp}, {u"setEventName", setEventName},   {u"setParamValue", setParamValue},
    };
    return *table;
}

}  // namespace

ZDMPEventNativeFunctions::ZDMPEventNativeFunctions(std::shared_ptr<ZDMPEventContext> eventContext)
    : eventContext_(std::move(eventContext)) {}

ZDMPValueRef ZDMPEventNativeFunctions::applyWithName(const std::u16string& name,
                                                     const ZDMPValueList& arguments,
                                                     const ZDMPScopeRef& scope, Error* error) {
    const auto handler = handlers().find(name);
    if (handler == handlers().end()) return ZDMPMapValue::applyWithName(name, arguments, scope, error);
    Error failure;
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, &failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return ZDMPUndefined();
    }
    return handler->second(values, *eventContext_, error);
}

ZDMPEventLogger::ZDMPEventLogger(std::shared_ptr<ZDMPEventContext> eventContext)
    : ZDMPNativeFunction(u"internal.eventLogger"), eventContext_(std::move(eventContext)) {}

ZDMPValueRef ZDMPEventLogger::invokeWithArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                                  Error* error) {
    if (!ZDMPEvaluator::hasExactly(arguments, 3, error)) return ZDMPUndefined();
    Error failure;
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, &failure);
    std::optional<std::string> name;
    double timestamp = 0;
    if (!ZDMPFailed(failure)) name = textOf(values[0], &failure);
    if (!ZDMPFailed(failure)) timestamp = ZDMPIntegerPart(values[1]->doubleValueOrError(&failure));
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return ZDMPUndefined();
    }
    const auto* parameters = ZDMPAs<ZDMPMapValue>(values[2]);
    if (!parameters) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
    Dictionary dictionary = ZDMPRuntimeEntityConverter::dictionaryFromMapValue(*parameters, &failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return ZDMPUndefined();
    }
    eventContext_->logEventWithName(std::move(*name), timestamp, dictionary);
    return ZDMPUndefined();
}
