#include "measurement/wire/ZDMPBCodec.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr int32_t kKindMask = ~(ZDMPBFieldTypeOptional | ZDMPBFieldTypeRepeated);

bool isRepeated(int32_t word) {
    return (word & ZDMPBFieldTypeRepeated) != 0;
}

int32_t kindOf(int32_t word) {
    return word & kKindMask;
}

bool holdsBytes(int32_t word) {
    return (kindOf(word) & (ZDMPBFieldTypeString | ZDMPBFieldTypeBytes)) != 0;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<void, FreeDeleter>;

// The generated struct of one decode or encode, zeroed. On the heap: a recursive decode keeps one
// per level, and the stacks of worker threads are small.
Buffer zeroedStruct(const ZDMPBMessageDescriptor& type) {
    return Buffer(std::calloc(1, type.structSize));
}

// Where field `index` lives in a generated struct, found through nanopb's own iterator.
bool locate(const ZDMPBMessageDescriptor& type, void* generated, int32_t index, pb_field_iter_t& field) {
    return pb_field_iter_begin(&field, type.nanopb, generated) &&
           pb_field_iter_find(&field, type.fields[index].tag);
}

// Counts the recursive messages being decoded on this thread, so that hostile nesting ends in a
// failed decode rather than a stack overflow.
thread_local int tRecursiveDepth = 0;

class NestingGuard {
  public:
    explicit NestingGuard(bool recursive) : counted_(recursive) {
        if (counted_) ++tRecursiveDepth;
    }
    ~NestingGuard() {
        if (counted_) --tRecursiveDepth;
    }
    bool tooDeep() const { return counted_ && tRecursiveDepth > kZDMPBMaxNesting; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

  private:
    bool counted_;
};

void storeScalar(int32_t word, const void* data, void** value) {
    switch (kindOf(word)) {
        case ZDMPBFieldTypeBool:
            ZDMPBSetBoolValue(value, *static_cast<const bool*>(data));
            return;
        case ZDMPBFieldTypeEnum:
        case ZDMPBFieldTypeInt32:
        case ZDMPBFieldTypeUInt32:
            ZDMPBSetUInt32Value(value, *static_cast<const uint32_t*>(data));
            return;
        case ZDMPBFieldTypeInt64:
        case ZDMPBFieldTypeUInt64:
            ZDMPBSetUInt64Value(value, *static_cast<const uint64_t*>(data));
            return;
        case ZDMPBFieldTypeFloat:
            ZDMPBSetFloatValue(value, *static_cast<const float*>(data));
            return;
        case ZDMPBFieldTypeDouble:
            ZDMPBSetDoubleValue(value, *static_cast<const double*>(data));
            return;
        default:
            return;
    }
}

void loadScalar(int32_t word, const void* cell, void* data) {
    if (kindOf(word) == ZDMPBFieldTypeFloat) {  // the one 4-byte cell
        *static_cast<float*>(data) = ZDMPBCellFloat(cell);
        return;
    }
    const uint64_t bits = ZDMPBCellBits(cell);
    switch (kindOf(word)) {
        case ZDMPBFieldTypeBool:
            *static_cast<bool*>(data) = (bits & 0xFF) != 0;
            return;
        case ZDMPBFieldTypeEnum:
        case ZDMPBFieldTypeInt32:
        case ZDMPBFieldTypeUInt32: {
            const auto v = static_cast<uint32_t>(bits);
            std::memcpy(data, &v, sizeof v);
            return;
        }
        case ZDMPBFieldTypeInt64:
        case ZDMPBFieldTypeUInt64:
            std::memcpy(data, &bits, sizeof bits);
            return;
        case ZDMPBFieldTypeDouble:
            *static_cast<double*>(data) = ZDMPBCellDouble(cell);
            return;
        default:
            return;
    }
}

// A copy of one cell, string slot or record into a fresh destination pointer.
bool copyValue(const ZDMPBFieldDescriptor& field, int32_t word, const void* source, void** destination) {
    if (!source) return false;
    const int32_t kind = kindOf(word);
    if (kind == ZDMPBFieldTypeMessage) {
        return zdmpb::copyMessageInfo(*field.message, reinterpret_cast<ZDMPBMessageInfo**>(destination),
                                      static_cast<const ZDMPBMessageInfo*>(source));
    }
    if (holdsBytes(word)) {
        const auto* slot = static_cast<const ZDMPBStringSlot*>(source);
        // A slot without bytes stays one: it must not turn into a present empty text.
        if (!slot->bytes) {
            *destination = std::calloc(1, sizeof(ZDMPBStringSlot));
            return *destination != nullptr;
        }
        ZDMPBSetStringValue(destination, slot->bytes, slot->length);
        return *destination != nullptr;
    }
    if (kind == ZDMPBFieldTypeFloat) {
        ZDMPBSetFloatValue(destination, ZDMPBCellFloat(source));
    } else {
        ZDMPBSetUInt64Value(destination, ZDMPBCellBits(source));
    }
    return *destination != nullptr;
}

void freeElement(const ZDMPBFieldDescriptor& field, int32_t word, void* element) {
    if (kindOf(word) == ZDMPBFieldTypeMessage) {
        if (element) zdmpb::deallocMessageInfo(*field.message, static_cast<ZDMPBMessageInfo*>(element));
        return;
    }
    if (holdsBytes(word)) ZDMPBClearString(static_cast<ZDMPBStringSlot*>(element));
    std::free(element);
}

// Reads the rest of the stream as one string into `slot`, within the size limit.
bool readString(pb_istream_t* stream, ZDMPBStringSlot* slot) {
    const size_t length = stream->bytes_left;
    if (length > kZDMPBMaxStringLength) {
        std::printf("Unable to process proto stream. Buffer is too big. %zu > %d", length,
                    static_cast<int>(kZDMPBMaxStringLength));
        return false;
    }
    // Never a NULL buffer, not even for an empty text: a slot without bytes means no text.
    auto* bytes = static_cast<uint8_t*>(std::calloc(length > 0 ? length : 1, 1));
    if (!bytes) return false;
    if (!pb_read(stream, bytes, length)) {
        std::free(bytes);
        return false;
    }
    slot->bytes = bytes;
    slot->length = static_cast<uint32_t>(length);
    return true;
}

bool skipRest(pb_istream_t* stream) {
    return pb_read(stream, nullptr, stream->bytes_left);
}

// The element the filling pass writes next, or nullptr when the input holds more elements than
// the counting pass saw.
void** nextElement(ZDMPBRepeatedSlot* slot) {
    if (slot->cursor >= slot->count) return nullptr;
    return &slot->elements[slot->cursor++];
}

}  // namespace

namespace zdmpb {

bool initMessageInfo(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo* info) {
    if (!info) return false;
    info->name = type.name;
    info->fieldTypeWords = type.typeWords;
    info->fieldValues =
        static_cast<void**>(std::calloc(type.fieldCount > 0 ? type.fieldCount : 1, sizeof(void*)));
    if (!info->fieldValues) return false;
    for (int32_t i = 0; i < type.fieldCount; ++i) {
        if (!isRepeated(type.typeWords[i])) continue;
        info->fieldValues[i] = std::calloc(1, sizeof(ZDMPBRepeatedSlot));
        if (!info->fieldValues[i]) return false;
    }
    return true;
}

bool allocArrays(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo* info) {
    for (int32_t i = 0; i < type.fieldCount; ++i) {
        const int32_t word = type.typeWords[i];
        if (!isRepeated(word)) continue;
        auto* slot = static_cast<ZDMPBRepeatedSlot*>(info->fieldValues[i]);
        if (!slot) {
            std::printf("<ERROR> Cannot allocate %s arrays. Missing params field (%s)\n", type.name,
                        type.fields[i].name);
            return false;
        }
        if (slot->count > 0) {
            slot->elements = static_cast<void**>(std::calloc(slot->count, sizeof(void*)));
            if (!slot->elements) return false;
        }
        slot->cursor = 0;
    }
    for (int32_t i = 0; i < type.fieldCount; ++i) {
        const int32_t word = type.typeWords[i];
        if (isRepeated(word) || kindOf(word) != ZDMPBFieldTypeMessage || !info->fieldValues[i]) continue;
        if (type.fields[i].message->passes == 2)
            allocArrays(*type.fields[i].message, static_cast<ZDMPBMessageInfo*>(info->fieldValues[i]));
    }
    return true;
}

void copyDecodedScalars(const ZDMPBMessageDescriptor& type, void* decoded, ZDMPBMessageInfo* info) {
    for (int32_t i = 0; i < type.fieldCount; ++i) {
        const int32_t word = type.typeWords[i];
        if (isRepeated(word) || holdsBytes(word)) continue;
        pb_field_iter_t field;
        if (!locate(type, decoded, i, field)) continue;
        const bool present = *static_cast<const bool*>(field.pSize);
        if (kindOf(word) == ZDMPBFieldTypeMessage) {
            auto* sub = static_cast<ZDMPBMessageInfo*>(info->fieldValues[i]);
            if (present && sub) {
                copyDecodedScalars(*type.fields[i].message, field.pData, sub);
            } else {
                if (sub) deallocMessageInfo(*type.fields[i].message, sub);
                info->fieldValues[i] = nullptr;
            }
        } else if (present) {
            storeScalar(word, field.pData, &info->fieldValues[i]);
        }
    }
}

bool deallocMessageField(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo* info, int32_t index) {
    if (!info || !info->fieldValues) return false;
    if (index < 0 || index >= type.fieldCount) {
        std::printf("<ERROR> %s: Cannot deallocate field %d: Unknown field\n", type.name, index);
        return false;
    }
    const int32_t word = type.typeWords[index];
    const ZDMPBFieldDescriptor& field = type.fields[index];
    void*& value = info->fieldValues[index];
    if (isRepeated(word)) {
        auto* slot = static_cast<ZDMPBRepeatedSlot*>(value);
        if (!slot) return true;
        for (uint32_t k = 0; k < slot->count && slot->elements; ++k)
            freeElement(field, word, slot->elements[k]);
        ZDMPBClearBytes(slot);
        return true;
    }
    if (!value) return true;
    if (kindOf(word) == ZDMPBFieldTypeMessage) {
        deallocMessageInfo(*field.message, static_cast<ZDMPBMessageInfo*>(value));
    } else {
        if (holdsBytes(word)) ZDMPBClearString(static_cast<ZDMPBStringSlot*>(value));
        std::free(value);
    }
    value = nullptr;
    return true;
}

bool deallocMessageInfo(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo* info) {
    if (!info) return false;
    if (info->fieldValues) {
        for (int32_t i = 0; i < type.fieldCount; ++i) {
            if (!deallocMessageField(type, info, i)) return false;
            std::free(info->fieldValues[i]);  // the emptied repeated slot; NULL for the others
            info->fieldValues[i] = nullptr;
        }
        std::free(info->fieldValues);
    }
    std::free(info);
    return true;
}

bool copyMessageInfo(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo** destination,
                     const ZDMPBMessageInfo* source) {
    if (!destination || !source || !source->fieldValues) return false;
    if (*destination) deallocMessageInfo(type, *destination);
    *destination = static_cast<ZDMPBMessageInfo*>(std::calloc(1, sizeof(ZDMPBMessageInfo)));
    if (!*destination) return false;
    ZDMPBMessageInfo* copy = *destination;
    if (!initMessageInfo(type, copy)) return false;
    for (int32_t i = 0; i < type.fieldCount; ++i) {
        const void* value = source->fieldValues[i];
        if (!value) continue;
        const int32_t word = type.typeWords[i];
        if (!isRepeated(word)) {
            if (!copyValue(type.fields[i], word, value, &copy->fieldValues[i])) return false;
            continue;
        }
        const auto* from = static_cast<const ZDMPBRepeatedSlot*>(value);
        auto* to = static_cast<ZDMPBRepeatedSlot*>(copy->fieldValues[i]);
        if (from->count == 0) continue;
        if (!from->elements) return false;
        to->elements = static_cast<void**>(std::calloc(from->count, sizeof(void*)));
        if (!to->elements) return false;
        to->count = from->count;
        for (uint32_t k = 0; k < from->count; ++k) {
            if (!copyValue(type.fields[i], word, from->elements[k], &to->elements[k])) return false;
        }
    }
    return true;
}

bool setDecoders(const ZDMPBMessageDescriptor& type, ZDMPBMessageInfo* info, void* decoded) {
    if (!info || !info->fieldValues) return false;
    for (int32_t i = 0; i < type.fieldCount; ++i) {
        const int32_t word = type.typeWords[i];
        const bool repeated = isRepeated(word);
        if (!repeated && !holdsBytes(word) && kindOf(word) != ZDMPBFieldTypeMessage) continue;
        pb_field_iter_t field;
        if (!locate(type, decoded, i, field)) return false;
        if (repeated) {
            auto* slot = static_cast<ZDMPBRepeatedSlot*>(info->fieldValues[i]);
            if (!slot) return false;
            ZDMPBClearBytes(slot);
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            callback->funcs.decode = kindOf(word) == ZDMPBFieldTypeMessage
                                         ? type.fields[i].message->decodeRepeated
                                     : holdsBytes(word) ? ZDMPBDecodeRepeatedString
                                                        : ZDMPBDecodeRepeatedVarint;
            callback->arg = slot;
        } else if (holdsBytes(word)) {
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            callback->funcs.decode = ZDMPBDecodeStringField;
            callback->arg = &info->fieldValues[i];
        } else {
            const ZDMPBMessageDescriptor& child = *type.fields[i].message;
            deallocMessageField(type, info, i);
            auto* sub = static_cast<ZDMPBMessageInfo*>(std::calloc(1, sizeof(ZDMPBMessageInfo)));
            if (!sub) return false;
            info->fieldValues[i] = sub;
            if (!initMessageInfo(child, sub) || !setDecoders(child, sub, field.pData)) return false;
        }
    }
    return true;
}

bool decode(const ZDMPBMessageDescriptor& type, const uint8_t* bytes, size_t length, ZDMPBMessageInfo* info) {
    if (!info) {
        std::printf("<ERROR> %s decoder failed: message_info is NULL\n", type.name);
        return false;
    }
    NestingGuard nesting(type.recursive);
    if (nesting.tooDeep()) {
        std::printf("<ERROR> %s decoder failed: nesting too deep\n", type.name);
        return false;
    }
    Buffer decoded = zeroedStruct(type);
    if (!decoded || !setDecoders(type, info, decoded.get())) {
        std::printf("<ERROR> %s decoder failed: Unable to set decoders\n", type.name);
        return false;
    }
    pb_istream_t stream = pb_istream_from_buffer(bytes, length);
    if (!pb_decode(&stream, type.nanopb, decoded.get())) {
        std::printf("<ERROR> %s decoder failed: %s\n", type.name, PB_GET_ERROR(&stream));
        return false;
    }
    if (type.passes == 2) {
        if (!allocArrays(type, info)) {
            std::printf("<ERROR> %s decoder failed: Unable to allocate arrays\n", type.name);
            return false;
        }
        stream = pb_istream_from_buffer(bytes, length);
        if (!pb_decode(&stream, type.nanopb, decoded.get())) {
            std::printf("<ERROR> %s decoder failed: %s\n", type.name, PB_GET_ERROR(&stream));
            return false;
        }
    }
    copyDecodedScalars(type, decoded.get(), info);
    return true;
}

bool decodeRepeated(const ZDMPBMessageDescriptor& type, pb_istream_t* stream, void** arg) {
    auto* slot = arg ? static_cast<ZDMPBRepeatedSlot*>(*arg) : nullptr;
    if (!slot) {
        std::printf("<ERROR> %s decoder failed: Invalid arg parameter\n", type.name);
        return false;
    }
    const size_t length = stream->bytes_left;
    if (!slot->elements) {
        if (!skipRest(stream)) {
            std::printf("<ERROR> %s decoder failed: %s\n", type.name, PB_GET_ERROR(stream));
            return false;
        }
        ++slot->count;
        return true;
    }
    Buffer bytes(std::calloc(length > 0 ? length : 1, 1));
    if (!bytes || !pb_read(stream, static_cast<pb_byte_t*>(bytes.get()), length)) {
        std::printf("<ERROR> %s decoder failed: Unable to extract buffer from stream\n", type.name);
        return false;
    }
    void** element = nextElement(slot);
    if (!element) return false;
    auto* info = static_cast<ZDMPBMessageInfo*>(std::calloc(1, sizeof(ZDMPBMessageInfo)));
    if (!info) return false;
    *element = info;
    if (!initMessageInfo(type, info)) {
        deallocMessageInfo(type, info);
        *element = nullptr;
        std::printf("<ERROR> %s decoder failed: Unable to initialize MessageInfo\n", type.name);
        return false;
    }
    if (!decode(type, static_cast<const uint8_t*>(bytes.get()), length, info)) {
        std::printf("<ERROR> %s decoder failed: Unable to decode repeated %s\n", type.name, type.name);
        return false;
    }
    return true;
}

bool fillEncoder(const ZDMPBMessageDescriptor& type, const ZDMPBMessageInfo* info, void* encoded) {
    if (!info || !info->fieldValues) return false;
    for (int32_t i = 0; i < type.fieldCount; ++i) {
        const int32_t word = type.typeWords[i];
        void* value = info->fieldValues[i];
        const bool repeated = isRepeated(word);
        if (repeated && !value) {
            std::printf("<ERROR> %s Encoder: '%s' should have been allocated\n", type.name,
                        type.fields[i].name);
            return false;
        }
        if (!value || (repeated && static_cast<const ZDMPBRepeatedSlot*>(value)->count == 0)) continue;
        pb_field_iter_t field;
        if (!locate(type, encoded, i, field)) return false;
        if (repeated) {
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            callback->funcs.encode = kindOf(word) == ZDMPBFieldTypeMessage
                                         ? type.fields[i].message->encodeRepeated
                                     : holdsBytes(word) ? ZDMPBEncodeRepeatedString
                                                        : ZDMPBEncodeRepeatedVarint;
            callback->arg = value;
        } else if (holdsBytes(word)) {
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            callback->funcs.encode = ZDMPBEncodeStringField;
            callback->arg = value;
        } else if (kindOf(word) == ZDMPBFieldTypeMessage) {
            *static_cast<bool*>(field.pSize) = true;
            if (!fillEncoder(*type.fields[i].message, static_cast<const ZDMPBMessageInfo*>(value),
                             field.pData))
                return false;
        } else {
            *static_cast<bool*>(field.pSize) = true;
            loadScalar(word, value, field.pData);
        }
    }
    return true;
}

int32_t encode(const ZDMPBMessageDescriptor& type, const ZDMPBMessageInfo* info, uint8_t** buffer) {
    if (!buffer) return -1;
    Buffer encoded = zeroedStruct(type);
    if (!encoded || !fillEncoder(type, info, encoded.get())) return -1;
    return ZDMPBEncodeToBuffer(type.nanopb, encoded.get(), buffer);
}

bool encodeRepeated(const ZDMPBMessageDescriptor& type, pb_ostream_t* stream, const pb_field_t* field,
                    void* const* arg) {
    const auto* slot = arg ? static_cast<const ZDMPBRepeatedSlot*>(*arg) : nullptr;
    if (!slot) return false;
    if (slot->count > 0 && !slot->elements) return false;
    for (uint32_t k = 0; k < slot->count; ++k) {
        Buffer encoded = zeroedStruct(type);
        if (!encoded ||
            !fillEncoder(type, static_cast<const ZDMPBMessageInfo*>(slot->elements[k]), encoded.get()))
            return false;
        if (!pb_encode_tag_for_field(stream, field) ||
            !pb_encode_submessage(stream, type.nanopb, encoded.get()))
            return false;
    }
    return true;
}

}  // namespace zdmpb

bool ZDMPBDecodeStringField(pb_istream_t* stream, const pb_field_t*, void** arg) {
    auto** value = arg ? static_cast<void**>(*arg) : nullptr;
    if (!value) return false;
    if (auto* slot = static_cast<ZDMPBStringSlot*>(*value)) {
        // The first occurrence wins; the filling pass meets every string a second time.
        if (slot->bytes) return skipRest(stream);
        std::puts("<ERROR> String decoder failed: string data is NULL");
        return false;
    }
    auto* slot = static_cast<ZDMPBStringSlot*>(std::calloc(1, sizeof(ZDMPBStringSlot)));
    if (!slot) return false;
    *value = slot;
    return readString(stream, slot);
}

bool ZDMPBDecodeRepeatedString(pb_istream_t* stream, const pb_field_t*, void** arg) {
    auto* slot = arg ? static_cast<ZDMPBRepeatedSlot*>(*arg) : nullptr;
    if (!slot) return false;
    if (!slot->elements) {
        if (!skipRest(stream)) return false;
        ++slot->count;
        return true;
    }
    void** element = nextElement(slot);
    if (!element) return false;
    auto* string = static_cast<ZDMPBStringSlot*>(std::calloc(1, sizeof(ZDMPBStringSlot)));
    if (!string) return false;
    *element = string;
    return readString(stream, string);
}

bool ZDMPBDecodeRepeatedVarint(pb_istream_t* stream, const pb_field_t*, void** arg) {
    auto* slot = arg ? static_cast<ZDMPBRepeatedSlot*>(*arg) : nullptr;
    if (!slot) return false;
    uint64_t v = 0;
    if (!pb_decode_varint(stream, &v)) return false;
    if (!slot->elements) {
        ++slot->count;
        return true;
    }
    void** element = nextElement(slot);
    if (!element) return false;
    ZDMPBSetUInt64Value(element, v);
    return *element != nullptr;
}

bool ZDMPBEncodeStringField(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const auto* slot = arg ? static_cast<const ZDMPBStringSlot*>(*arg) : nullptr;
    if (!slot || !slot->bytes) return false;
    return pb_encode_tag_for_field(stream, field) && pb_encode_string(stream, slot->bytes, slot->length);
}

bool ZDMPBEncodeRepeatedString(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const auto* slot = arg ? static_cast<const ZDMPBRepeatedSlot*>(*arg) : nullptr;
    if (!slot) return false;
    if (slot->count == 0) return true;
    if (!slot->elements) return false;
    for (uint32_t k = 0; k < slot->count; ++k) {
        void* element = slot->elements[k];
        if (!ZDMPBEncodeStringField(stream, field, &element)) return false;
    }
    return true;
}

bool ZDMPBEncodeRepeatedVarint(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const auto* slot = arg ? static_cast<const ZDMPBRepeatedSlot*>(*arg) : nullptr;
    if (!slot || !slot->elements) return false;
    for (uint32_t k = 0; k < slot->count; ++k) {
        if (!slot->elements[k]) return false;
        if (!pb_encode_tag_for_field(stream, field) ||
            !pb_encode_varint(stream, ZDMPBCellBits(slot->elements[k])))
            return false;
    }
    return true;
}

int32_t ZDMPBEncodeToBuffer(const pb_msgdesc_t* fields, const void* encoded, uint8_t** buffer) {
    if (!buffer) return -1;
    pb_ostream_t sizing = PB_OSTREAM_SIZING;
    pb_encode(&sizing, fields, encoded);
    const size_t size = sizing.bytes_written;
    if (size > INT32_MAX) return -1;
    // One byte at least, so that an empty message is a buffer of length 0 and not a failure.
    *buffer = static_cast<uint8_t*>(std::calloc(size > 0 ? size : 1, 1));
    if (!*buffer) return -1;
    pb_ostream_t stream = pb_ostream_from_buffer(*buffer, size);
    if (!pb_encode(&stream, fields, encoded)) {
        std::free(*buffer);
        *buffer = nullptr;
        return -1;
    }
    return static_cast<int32_t>(stream.bytes_written);
}
