#pragma once
// Conversions at the interpreter's borders: wire runtime entities into values and statements, and
// values to and from the platform's plain Value (dictionaries, arrays, numbers, texts). Nested and
// cyclic structures deeper than the interpreter's nesting limit fail with code 18.
#include <memory>

#include "measurement/interpreter/ZDMPMapValue.h"
#include "measurement/interpreter/ZDMPRuntimeValue.h"
#include "measurement/wire/ZDMPBProgramMessages.h"
#include "platform/foundation/Value.h"

struct ZDMPRuntimeEntityConverter {
    // By kind: 1 string (field 4, "" when absent), 2 number (field 6, NaN when absent), 3 boolean
    // (field 5), 4 statement; any other kind fails with code 12.
    static ZDMPValueRef runtimeValueFromRuntimeEntity(const NANOMessageBase* entity, Error* error);
    static ZDMPValueRef stringValueFromRuntimeEntity(const NANOMessageBase* entity);
    static ZDMPValueRef numberValueFromRuntimeEntity(const NANOMessageBase* entity);
    static ZDMPValueRef booleanValueFromRuntimeEntity(const NANOMessageBase* entity);
    // Field 3 is the command (code 14 without it); field 2 the arguments, converted in order.
    static ZDMPValueRef statementValueFromRuntimeEntity(const NANOMessageBase* entity, Error* error);

    // Null → null, a bool → boolean, integer and real → number, text → string, dictionary → map,
    // array → array; any other kind fails with code 13.
    static ZDMPValueRef runtimeValueFromNSObject(const Value& object, Error* error);
    // Null → null Value (none), undefined → "", map → dictionary, array → array; any other value
    // becomes a real when its number conversion is not NaN, else its text.
    static Value objectFromRuntimeValue(const ZDMPValueRef& value, Error* error);
    // Each property converted; a none result leaves the key out.
    static Dictionary dictionaryFromMapValue(const ZDMPMapValue& map, Error* error);
};
