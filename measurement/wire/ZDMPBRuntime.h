#pragma once
// The in-memory form of every measurement wire message: a message info record holding one value
// pointer per field (NULL = unset), described by the message type's static table of type words.
// Records own all memory reachable from them, never share it, and are copied deeply. Only the
// codecs and the message classes of this folder build records; everything else goes through the
// index accessors (ZDMPBAccessors.h).
#include <cstdint>

#include "platform/foundation/Value.h"

// One cardinality bit and one kind bit per field.
enum ZDMPBFieldType : int32_t {
    ZDMPBFieldTypeOptional = 0x0002,
    ZDMPBFieldTypeRepeated = 0x0008,
    ZDMPBFieldTypeBool = 0x0020,
    ZDMPBFieldTypeEnum = 0x0040,
    ZDMPBFieldTypeInt32 = 0x0080,
    ZDMPBFieldTypeUInt32 = 0x0100,
    ZDMPBFieldTypeInt64 = 0x0200,
    ZDMPBFieldTypeUInt64 = 0x0400,
    ZDMPBFieldTypeFloat = 0x0800,
    ZDMPBFieldTypeDouble = 0x1000,
    ZDMPBFieldTypeString = 0x2000,
    ZDMPBFieldTypeMessage = 0x4000,
    ZDMPBFieldTypeBytes = 0x8000,
};

struct ZDMPBMessageInfo {
    void** fieldValues;
    const int32_t* fieldTypeWords;  // static, shared by every record of the type
    const char* name;               // static; also the message object's messageID
};

// Value of a string or bytes field. `length` is authoritative; bytes carry a NUL after them only
// when ZDMPBSetStringValue stored them. A slot without bytes is a field without text.
struct ZDMPBStringSlot {
    uint32_t reserved;
    uint32_t length;
    uint8_t* bytes;
};

// Value of a repeated field, present from initialisation on: `count` element pointers (8-byte
// cells, string slots or records). The fill cursor only serves the decoder's filling pass.
struct ZDMPBRepeatedSlot {
    uint32_t cursor;
    uint32_t count;
    void** elements;
};

using ZDMPBInitMessageInfoFn = bool (*)(ZDMPBMessageInfo* info);
using ZDMPBDeallocMessageFieldFn = bool (*)(ZDMPBMessageInfo* info, int32_t index);
using ZDMPBCopyMessageInfoFn = bool (*)(ZDMPBMessageInfo** destination, const ZDMPBMessageInfo* source);

// C setters: each allocates the cell on first use and overwrites it later; a NULL address prints
// the setter's text on stdout and changes nothing.
void ZDMPBSetBoolValue(void** value, bool b);
void ZDMPBSetUInt32Value(void** value, uint32_t v);
void ZDMPBSetUInt64Value(void** value, uint64_t v);
void ZDMPBSetFloatValue(void** value, float v);
void ZDMPBSetDoubleValue(void** value, double v);
// Copies `length` bytes into a fresh NUL-terminated buffer, creating the slot if absent.
void ZDMPBSetStringValue(void** value, const uint8_t* bytes, uint32_t length);
// Frees the bytes and zeroes the slot, which stays.
void ZDMPBClearString(ZDMPBStringSlot* slot);
// Frees a bytes slot's bytes, or a repeated slot's element array (not the elements), and zeroes it.
void ZDMPBClearBytes(ZDMPBStringSlot* slot);
void ZDMPBClearBytes(ZDMPBRepeatedSlot* slot);

// Fill a slot from an object: true for nil (the slot stays as it is), false for an object of
// another kind; the buffer holds no NUL and is never NULL, so an empty text stays present.
bool ZDMPBCopyStringToBytes(const Value& object, ZDMPBStringSlot* slot);
bool ZDMPBCopyDataToBytes(const Value& object, ZDMPBStringSlot* slot);

// Cells as the runtime lays them out.
inline uint64_t ZDMPBCellBits(const void* cell) {
    return *static_cast<const uint64_t*>(cell);
}
inline float ZDMPBCellFloat(const void* cell) {
    return *static_cast<const float*>(cell);
}
inline double ZDMPBCellDouble(const void* cell) {
    return *static_cast<const double*>(cell);
}
