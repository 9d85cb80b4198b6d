#include "measurement/interpreter/ZDMPVariableCommandEvaluator.h"

#include "measurement/interpreter/ZDMPArrayValue.h"
#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPFunctionValue.h"
#include "measurement/interpreter/ZDMPScope.h"

namespace {

using List = const ZDMPValueList&;
using Scope = const ZDMPScopeRef&;

const std::u16string* nameOf(const ZDMPValueRef& value) {
    const auto* string = ZDMPAs<ZDMPStringValue>(value);
    return string ? &string->value() : nullptr;
}

ZDMPPropertyOwner* propertyOwner(const ZDMPValueRef& value) {
    if (auto* map = ZDMPAs<ZDMPMapValue>(value)) return map;
    return ZDMPAs<ZDMPFunctionValue>(value);
}

ZDMPValueRef assignment(List values, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 2, error)) return ZDMPUndefined();
    const std::u16string* name = nameOf(values[0]);
    if (!name) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
    if (!scope->hasName(*name)) return ZDMPFail(error, ZDMPErrorCode::undeclaredAssignment);
    scope->setValue(values[1], *name);
    return values[1];
}

ZDMPValueRef declaration(List values, Scope scope, Error* error) {
    for (const auto& value : values) {
        const std::u16string* name = nameOf(value);
        if (!name) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
        scope->addValue(ZDMPUndefined(), *name);
    }
    return ZDMPUndefined();
}

ZDMPValueRef constantDeclaration(List values, Scope scope, Error* error) {
    if (values.size() % 2 != 0) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentCount);
    for (size_t i = 0; i < values.size(); i += 2) {
        const std::u16string* name = nameOf(values[i]);
        if (!name) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
        scope->addImmutableValue(values[i + 1], *name);
    }
    return ZDMPUndefined();
}

ZDMPValueRef arrayLiteral(List values, Scope, Error* error) {
    auto array = ZDMPArrayValue::initWithArray(values, error);
    return array ? ZDMPValueRef(array) : ZDMPUndefined();
}

ZDMPValueRef objectLiteral(List values, Scope, Error* error) {
    if (values.size() % 2 != 0) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentCount);
    const auto map = ZDMPMapValue::make();
    for (size_t i = 0; i < values.size(); i += 2) {
        const std::u16string key = values[i]->stringValueOrError(error);
        if (ZDMPFailed(*error)) return ZDMPUndefined();
        map->setValue(values[i + 1], key);
    }
    return map;
}

ZDMPValueRef variableRead(List values, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    const std::u16string* name = nameOf(values[0]);
    if (!name) return ZDMPFail(error, ZDMPErrorCode::wrongArgumentKind);
    return scope->valueForName(*name);
}

// "length" and the one-unit string at a valid index below the length; undefined for other keys.
ZDMPValueRef stringProperty(const std::u16string& text, const ZDMPRuntimeValue& key, Error* error) {
    const std::u16string name = key.stringValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    if (name == u"length") return ZDMPNumberValue::make(static_cast<double>(text.size()));
    double index = 0;
    if (!ZDMPIsArrayIndex(key, &index) || index >= static_cast<double>(text.size())) return ZDMPUndefined();
    return ZDMPStringValue::make(std::u16string(1, text[static_cast<size_t>(index)]), error);
}

ZDMPValueRef propertyRead(List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 2, error)) return ZDMPUndefined();
    const ZDMPValueRef& object = values[0];
    const ZDMPRuntimeValue& key = *values[1];
    if (const auto* array = ZDMPAs<ZDMPArrayValue>(object)) return array->valueForProperty(key, error);
    if (const auto* owner = propertyOwner(object)) {
        const std::u16string name = key.stringValueOrError(error);
        if (ZDMPFailed(*error)) return ZDMPUndefined();
        return owner->valueForProperty(name);
    }
    if (const auto* string = ZDMPAs<ZDMPStringValue>(object))
        return stringProperty(string->value(), key, error);
    return ZDMPUndefined();
}

ZDMPValueRef propertyWrite(List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 3, error)) return ZDMPUndefined();
    const ZDMPValueRef& object = values[0];
    const ZDMPValueKind kind = object->kind();
    if (kind == ZDMPValueKind::null || kind == ZDMPValueKind::undefined) {
        return ZDMPFail(error, ZDMPErrorCode::propertyWriteOnNothing);
    }
    if (auto* array = ZDMPAs<ZDMPArrayValue>(object)) {
        array->setValueForProperty(values[2], *values[1], error);
        if (ZDMPFailed(*error)) return ZDMPUndefined();
    } else if (auto* owner = propertyOwner(object)) {
        const std::u16string name = values[1]->stringValueOrError(error);
        if (ZDMPFailed(*error)) return ZDMPUndefined();
        owner->setValue(values[2], name);
    }
    return values[2];
}

ZDMPValueRef typeOf(List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    return ZDMPStringValue::make(ZDMPTypeOfName(*values[0]), error);
}

ZDMPValueRef undefinedLiteral(List, Scope, Error*) {
    return ZDMPUndefined();
}

ZDMPValueRef nullLiteral(List, Scope, Error*) {
    return ZDMPNull();
}

}  // namespace

ZDMPVariableCommandEvaluator::ZDMPVariableCommandEvaluator()
    : ZDMPHandlerTableEvaluator(Arguments::evaluated, {
                                                          {u"3", assignment},
                                                          {u"41", declaration},
                                                          {u"52", constantDeclaration},
                                                          {u"7", arrayLiteral},
                                                          {u"8", objectLiteral},
                                                          {u"15", variableRead},
                                                          {u"16", propertyRead},
                                                          {u"17", propertyRead},
                                                          {u"43", propertyWrite},
                                                          {u"40", typeOf},
                                                          {u"44", undefinedLiteral},
                                                          {u"45", nullLiteral},
                                                      }) {}
