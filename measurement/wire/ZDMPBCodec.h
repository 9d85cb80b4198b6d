#pragma once
// The one codec engine behind every message type, driven by a constant descriptor per type, and
// the nanopb callbacks it installs. Only this folder includes it: it exposes nanopb.
//
// Decoding runs nanopb over the bytes with callback fields for strings and repeated fields; a
// message with repeated fields anywhere in it decodes in two passes, the first counting elements
// so that each element array is allocated once at its exact size. Encoding sizes the message
// first and allocates the output once. Texts go to stdout, as the C setters' do.
#include <pb.h>
#include <pb_common.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "measurement/wire/ZDMPBRuntime.h"

// Elements of the recursive messages (an EventParam inside an EventParam) nest at most this deep,
// counting the outermost; deeper input fails to decode instead of exhausting the stack.
inline constexpr int kZDMPBMaxNesting = 100;
// Longest string field the decoder accepts.
inline constexpr size_t kZDMPBMaxStringLength = 0x100000;

struct ZDMPBMessageDescriptor;
using ZDMPBDecodeCallback = bool (*)(pb_istream_t* stream, const pb_field_t* field, void** arg);
using ZDMPBEncodeCallback = bool (*)(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);

struct ZDMPBFieldDescriptor {
    uint32_t tag;
    const char* name;                       // the schema's field name, for texts
    const ZDMPBMessageDescriptor* message;  // element or embedded message type, else nullptr
};

struct ZDMPBMessageDescriptor {
    const char* name;
    int32_t fieldCount;
    const int32_t* typeWords;            // fieldCount words, by field index
    const ZDMPBFieldDescriptor* fields;  // fieldCount entries, by field index
    const pb_msgdesc_t* nanopb;          // generated field table
    size_t structSize;                   // size of the generated struct
    int passes;                          // 2 when a repeated field lies anywhere inside
    bool recursive;                      // holds repeated elements of its own type
    // The type's named operations that the runtime and the parents' codecs call.
    ZDMPBInitMessageInfoFn initMessageInfo;
    ZDMPBDeallocMessageFieldFn deallocMessageField;
    ZDMPBCopyMessageInfoFn copyMessageInfo;
    ZDMPBDecodeCallback decodeRepeated;
    ZDMPBEncodeCallback encodeRepeated;
};

// The descriptor of message type M (generated struct zdmpb_M) from the arrays kMTypeWords and
// kMFields ({tag, name, child descriptor or nullptr}), both by field index. A new message type is
// its schema in proto/, ZDMPB_DECLARE_CODEC(M), the two arrays, ZDMPB_DESCRIPTOR(M, …),
// ZDMPB_DEFINE_CODEC(M) and ZDMPB_MESSAGE_CLASS(M).
#define ZDMPB_DESCRIPTOR(M, passes, recursive)                                                           \
    static_assert(std::size(k##M##TypeWords) == std::size(k##M##Fields));                                \
    const ZDMPBMessageDescriptor kZDMPB##M##Descriptor = {#M,                                            \
                                                          static_cast<int32_t>(std::size(k##M##Fields)), \
                                                          k##M##TypeWords,                               \
                                                          k##M##Fields,                                  \
                                                          &zdmpb_##M##_msg,                              \
                                                          sizeof(zdmpb_##M),                             \
                                                          passes,                                        \
                                                          recursive,                                     \
                                                          ZDMPB##M##InitMessageInfo,                     \
                                                          ZDMPB##M##DeallocMessageField,                 \
                                                          ZDMPB##M##CopyMessageInfo,                     \
                                                          ZDMPB##M##DecodeRepeated,                      \
                                                          ZDMPB##M##EncodeRepeated}

// The engine; the per-type operations (ZDMPB_DECLARE_CODEC) are thin wrappers over it.
namespace zdmpb {
bool initMessageInfo(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo* info);
bool allocArrays(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo* info);
void copyDecodedScalars(const ZDMPBMessageDescriptor& type, void* decoded, ZDMPBMessageInfo* info);
bool deallocMessageField(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo* info, int32_t index);
bool deallocMessageInfo(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo* info);
bool copyMessageInfo(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo** destination,
                     const ZDMPBMessageInfo* source);
bool setDecoders(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo* info, void* decoded);
bool decode(const ZDMPBMessageDescriptor& type, const uint8_t* bytes, size_t length, ZDMPBMessageInfo* info);
bool decodeRepeated(const ZDMPBMessageDescriptor& type, pb_istream_t* stream, void** arg);
bool fillEncoder(const ZDMPBMessageDescriptor& type, const ZDMPBMessageInfo* info, void* encoded);
int32_t encode(const ZDMPBMessageDescriptor& type, const ZDMPBMessageInfo* info, uint8_t** buffer);
bool encodeRepeated(const ZDMPBMessageDescriptor& type, pb_ostream_t* stream, const pb_field_t* field,
                    void* const* arg);
}  // namespace zdmpb

// Shared callbacks. Decoding ones take the address of the field's value pointer (single strings)
// or the repeated slot; encoding ones the string slot or the repeated slot.
bool ZDMPBDecodeStringField(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool ZDMPBDecodeRepeatedString(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool ZDMPBDecodeRepeatedVarint(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool ZDMPBEncodeStringField(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);
bool ZDMPBEncodeRepeatedString(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);
bool ZDMPBEncodeRepeatedVarint(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);

// Encodes a filled generated struct into a fresh buffer the caller frees: the length, or -1 with
// the buffer NULL. An empty message is length 0 with a (one-byte) buffer.
int32_t ZDMPBEncodeToBuffer(const pb_msgdesc_t* fields, const void* encoded, uint8_t** buffer);

// The operations of one message type under its own names (ZDMPBEventDecode, …). Every type gets
// the full set; AllocArrays of a type without repeated fields only answers true.
#define ZDMPB_DECLARE_CODEC(M)                                                                      \
    extern const ZDMPBMessageDescriptor kZDMPB##M##Descriptor;                                      \
    bool ZDMPB##M##InitMessageInfo(ZDMPBMessageInfo* info);                                         \
    bool ZDMPB##M##AllocArrays(ZDMPBMessageInfo* info);                                             \
    void ZDMPB##M##CopyDecodedScalars(void* decoded, ZDMPBMessageInfo* info);                       \
    bool ZDMPB##M##DeallocMessageField(ZDMPBMessageInfo* info, int32_t index);                      \
    bool ZDMPB##M##DeallocMessageInfo(ZDMPBMessageInfo* info);                                      \
    bool ZDMPB##M##CopyMessageInfo(ZDMPBMessageInfo** destination, const ZDMPBMessageInfo* source); \
    bool ZDMPB##M##SetDecoders(ZDMPBMessageInfo* info, void* decoded);                              \
    bool ZDMPB##M##Decode(const uint8_t* bytes, size_t length, ZDMPBMessageInfo* info);             \
    bool ZDMPB##M##DecodeRepeated(pb_istream_t* stream, const pb_field_t* field, void** arg);       \
    bool ZDMPB##M##FillEncoder(const ZDMPBMessageInfo* info, void* encoded);                        \
    int32_t ZDMPB##M##Encode(const ZDMPBMessageInfo* info, uint8_t** buffer);                       \
    bool ZDMPB##M##EncodeRepeated(pb_ostream_t* stream, const pb_field_t* field, void* const* arg)

#define ZDMPB_DEFINE_CODEC(M)                                                                        \
    bool ZDMPB##M##InitMessageInfo(ZDMPBMessageInfo* info) {                                         \
        return zdmpb::initMessageInfo(kZDMPB##M##Descriptor, info);                                  \
    }                                                                                                \
    bool ZDMPB##M##AllocArrays(ZDMPBMessageInfo* info) {                                             \
        return zdmpb::allocArrays(kZDMPB##M##Descriptor, info);                                      \
    }                                                                                                \
    void ZDMPB##M##CopyDecodedScalars(void* decoded, ZDMPBMessageInfo* info) {                       \
        zdmpb::copyDecodedScalars(kZDMPB##M##Descriptor, decoded, info);                             \
    }                                                                                                \
    bool ZDMPB##M##DeallocMessageField(ZDMPBMessageInfo* info, int32_t index) {                      \
        return zdmpb::deallocMessageField(kZDMPB##M##Descriptor, info, index);                       \
    }                                                                                                \
    bool ZDMPB##M##DeallocMessageInfo(ZDMPBMessageInfo* info) {                                      \
        return zdmpb::deallocMessageInfo(kZDMPB##M##Descriptor, info);                               \
    }                                                                                                \
    bool ZDMPB##M##CopyMessageInfo(ZDMPBMessageInfo** destination, const ZDMPBMessageInfo* source) { \
        return zdmpb::copyMessageInfo(kZDMPB##M##Descriptor, destination, source);                   \
    }                                                                                                \
    bool ZDMPB##M##SetDecoders(ZDMPBMessageInfo* info, void* decoded) {                              \
        return zdmpb::setDecoders(kZDMPB##M##Descriptor, info, decoded);                             \
    }                                                                                                \
    bool ZDMPB##M##Decode(const uint8_t* bytes, size_t length, ZDMPBMessageInfo* info) {             \
        return zdmpb::decode(kZDMPB##M##Descriptor, bytes, length, info);                            \
    }                                                                                                \
    bool ZDMPB##M##DecodeRepeated(pb_istream_t* stream, const pb_field_t*, void** arg) {             \
        return zdmpb::decodeRepeated(kZDMPB##M##Descriptor, stream, arg);                            \
    }                                                                                                \
    bool ZDMPB##M##FillEncoder(const ZDMPBMessageInfo* info, void* encoded) {                        \
        return zdmpb::fillEncoder(kZDMPB##M##Descriptor, info, encoded);                             \
    }                                                                                                \
    int32_t ZDMPB##M##Encode(const ZDMPBMessageInfo* info, uint8_t** buffer) {                       \
        return zdmpb::encode(kZDMPB##M##Descriptor, info, buffer);                                   \
    }                                                                                                \
    bool ZDMPB##M##EncodeRepeated(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) { \
        return zdmpb::encodeRepeated(kZDMPB##M##Descriptor, stream, field, arg);                     \
    }
