#include "measurement/interpreter/ZDMPRuntimeEntityConverter.h"

#include <cmath>
#include <limits>

#include "measurement/interpreter/ZDMPArrayValue.h"
#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPRunBudget.h"
#include "measurement/wire/ZDMPBAccessors.h"

namespace {

// Field positions (tag − 1) of a runtime entity.
constexpr int32_t kKindField = 0;
constexpr int32_t kArgumentsField = 1;
constexpr int32_t kCommandField = 2;
constexpr int32_t kStringField = 3;
constexpr int32_t kBooleanField = 4;
constexpr int32_t kNumberField = 5;

enum EntityKind : int32_t { stringEntity = 1, numberEntity = 2, booleanEntity = 3, statementEntity = 4 };

ZDMPValueRef failWith(Error* error, Error failure) {
    setError(error, std::move(failure));
    return ZDMPUndefined();
}

}  // namespace

ZDMPValueRef ZDMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(const NANOMessageBase* entity,
                                                                       Error* error) {
    switch (ZDMPBGetInt32(entity, kKindField)) {
        case stringEntity:
            return stringValueFromRuntimeEntity(entity);
        case numberEntity:
            return numberValueFromRuntimeEntity(entity);
        case booleanEntity:
            return booleanValueFromRuntimeEntity(entity);
        case statementEntity:
            return statementValueFromRuntimeEntity(entity, error);
        default:
            return ZDMPFail(error, ZDMPErrorCode::unknownEntityKind);
    }
}

ZDMPValueRef ZDMPRuntimeEntityConverter::stringValueFromRuntimeEntity(const NANOMessageBase* entity) {
    return std::make_shared<ZDMPStringValue>(ZDMPUtf16(ZDMPBGetString(entity, kStringField).value_or("")));
}

ZDMPValueRef ZDMPRuntimeEntityConverter::numberValueFromRuntimeEntity(const NANOMessageBase* entity) {
    if (!ZDMPBHasField(entity, kNumberField))
        return ZDMPNumberValue::make(std::numeric_limits<double>::quiet_NaN());
    return ZDMPNumberValue::make(ZDMPBGetDouble(entity, kNumberField));
}

ZDMPValueRef ZDMPRuntimeEntityConverter::booleanValueFromRuntimeEntity(const NANOMessageBase* entity) {
    return ZDMPBoolean(ZDMPBGetBool(entity, kBooleanField));
}

ZDMPValueRef ZDMPRuntimeEntityConverter::statementValueFromRuntimeEntity(const NANOMessageBase* entity,
                                                                         Error* error) {
    const auto command = ZDMPBGetString(entity, kCommandField);
    if (!command) return ZDMPFail(error, ZDMPErrorCode::statementWithoutCommand);
    const ZDMPNestingGuard nesting;
    if (!nesting.entered(error)) return ZDMPUndefined();
    ZDMPValueList arguments;
    const auto entities = ZDMPBGetArray(entity, kArgumentsField, &ZDMPBRuntimeEntity::messageClass());
    for (const Value& element : entities.value_or(Value::Array{})) {
        const auto argument = element.objectAs<NANOMessageBase>();
        Error failure;
        arguments.push_back(argument ? runtimeValueFromRuntimeEntity(argument.get(), &failure)
                                     : ZDMPFail(&failure, ZDMPErrorCode::unknownEntityKind));
        if (ZDMPFailed(failure)) return failWith(error, std::move(failure));
    }
    return std::make_shared<ZDMPStatementValue>(ZDMPUtf16(*command), std::move(arguments));
}

ZDMPValueRef ZDMPRuntimeEntityConverter::runtimeValueFromNSObject(const Value& object, Error* error) {
    const ZDMPNestingGuard nesting;
    if (!nesting.entered(error)) return ZDMPUndefined();
    switch (object.type()) {
        case Value::Type::Null:
            return ZDMPNull();
        case Value::Type::Bool:
            return ZDMPBoolean(*object.asBool());
        case Value::Type::Integer:
        case Value::Type::Real:
            return ZDMPNumberValue::make(*object.asReal());
        case Value::Type::String:
            return std::make_shared<ZDMPStringValue>(ZDMPUtf16(*object.asString()));
        case Value::Type::Dictionary: {
            const auto map = ZDMPMapValue::make();
            for (const auto& [key, element] : *object.asDictionary()) {
                Error failure;
                ZDMPValueRef value = runtimeValueFromNSObject(element, &failure);
                if (ZDMPFailed(failure)) return failWith(error, std::move(failure));
                map->setValue(std::move(value), ZDMPUtf16(key));
            }
            return map;
        }
        case Value::Type::Array: {
            ZDMPValueList elements;
            for (const Value& element : *object.asArray()) {
                Error failure;
                elements.push_back(runtimeValueFromNSObject(element, &failure));
                if (ZDMPFailed(failure)) return failWith(error, std::move(failure));
            }
            auto array = ZDMPArrayValue::initWithArray(std::move(elements), error);
            return array ? ZDMPValueRef(array) : ZDMPUndefined();
        }
        default:
            return ZDMPFail(error, ZDMPErrorCode::unconvertibleHostObject);
    }
}

Value ZDMPRuntimeEntityConverter::objectFromRuntimeValue(const ZDMPValueRef& value, Error* error) {
    const ZDMPNestingGuard nesting;
    if (!nesting.entered(error)) return Value();
    switch (value->kind()) {
        case ZDMPValueKind::null:
            return Value();
        case ZDMPValueKind::undefined:
            return Value("");
        case ZDMPValueKind::map:
            return Value(dictionaryFromMapValue(static_cast<const ZDMPMapValue&>(*value), error));
        case ZDMPValueKind::array: {
            Value::Array list;
            for (const auto& element : static_cast<const ZDMPArrayValue&>(*value).allElements()) {
                Error failure;
                list.push_back(objectFromRuntimeValue(element, &failure));
                if (ZDMPFailed(failure)) {
                    setError(error, std::move(failure));
                    break;
                }
            }
            return Value(std::move(list));
        }
        default:
            break;
    }
    Error failure;
    const double number = value->doubleValueOrError(&failure);
    if (!ZDMPFailed(failure) && !std::isnan(number)) return Value(number);
    failure = Error();
    std::u16string text = value->stringValueOrError(&failure);
    if (ZDMPFailed(failure)) setError(error, std::move(failure));
    return Value(ZDMPUtf8(text));
}

Dictionary ZDMPRuntimeEntityConverter::dictionaryFromMapValue(const ZDMPMapValue& map, Error* error) {
    Dictionary dictionary;
    for (const auto& name : map.allPropertyNames()) {
        Error failure;
        Value object = objectFromRuntimeValue(map.valueForProperty(name), &failure);
        if (!object.isNull()) dictionary.set(ZDMPUtf8(name), std::move(object));
        if (ZDMPFailed(failure)) {
            setError(error, std::move(failure));
            break;
        }
    }
    return dictionary;
}
