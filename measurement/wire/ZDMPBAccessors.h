#pragma once
// The only way the rest of the library reads and writes message fields: by the field's 0-based
// index (not its wire tag). Nothing throws: a call on a message without a record or on a field of
// another kind logs through NSLog and answers the empty result, leaving the message unchanged.
// Sub-messages and arrays read here are detached copies; store changes back with SetMessage or
// SetArray.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "measurement/wire/NANOMessageBase.h"
#include "platform/foundation/Value.h"

// YES for every repeated field; otherwise whether the field is set.
bool ZDMPBHasField(const NANOMessageBase* message, int32_t index);
// Frees the value; a repeated field stays present and empty.
void ZDMPBClearField(NANOMessageBase* message, int32_t index);

bool ZDMPBGetBool(const NANOMessageBase* message, int32_t index);
void ZDMPBSetBool(NANOMessageBase* message, int32_t index, bool value);
// Enum, int32 and uint32 fields.
int32_t ZDMPBGetInt32(const NANOMessageBase* message, int32_t index);
void ZDMPBSetInt32(NANOMessageBase* message, int32_t index, int32_t value);
// Int64 and uint64 fields.
int64_t ZDMPBGetInt64(const NANOMessageBase* message, int32_t index);
void ZDMPBSetInt64(NANOMessageBase* message, int32_t index, int64_t value);
float ZDMPBGetFloat(const NANOMessageBase* message, int32_t index);
void ZDMPBSetFloat(NANOMessageBase* message, int32_t index, float value);
double ZDMPBGetDouble(const NANOMessageBase* message, int32_t index);
void ZDMPBSetDouble(NANOMessageBase* message, int32_t index, double value);
// nullopt when unset, without bytes, or not UTF-8.
std::optional<std::string> ZDMPBGetString(const NANOMessageBase* message, int32_t index);
// nullopt clears the field.
void ZDMPBSetString(NANOMessageBase* message, int32_t index, std::optional<std::string_view> value);
std::optional<Data> ZDMPBGetBytes(const NANOMessageBase* message, int32_t index);
void ZDMPBSetBytes(NANOMessageBase* message, int32_t index, const std::optional<Data>& value);

// A copy of the sub-message as an object of `cls`; nullptr when unset or of another class.
std::shared_ptr<NANOMessageBase> ZDMPBGetMessage(const NANOMessageBase* message, int32_t index,
                                                 const ZDMPBClass* cls);
template <class T>
std::shared_ptr<T> ZDMPBGetMessage(const NANOMessageBase* message, int32_t index) {
    return std::static_pointer_cast<T>(ZDMPBGetMessage(message, index, &T::messageClass()));
}
// Stores a deep copy of `sub`, which must be of the field's message type. Remove one with
// ClearField.
void ZDMPBSetMessage(NANOMessageBase* message, int32_t index, const NANOMessageBase* sub);

// The elements as Values: numbers, strings (invalid UTF-8 skipped), data, and message objects of
// `elementClass`. nullopt on failure.
std::optional<Value::Array> ZDMPBGetArray(const NANOMessageBase* message, int32_t index,
                                          const ZDMPBClass* elementClass = nullptr);
// Replaces the elements; nullopt empties the field. An element of the wrong kind leaves the field
// empty, never partly filled.
void ZDMPBSetArray(NANOMessageBase* message, int32_t index, const std::optional<Value::Array>& elements);

// The design's class name of a value ("NSNumber", "NSString", "NSData", a message's class, …), as
// the texts about refused values print it.
std::string ZDMPBClassNameOf(const Value& value);
