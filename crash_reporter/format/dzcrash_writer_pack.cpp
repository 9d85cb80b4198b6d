#include "crash_reporter/format/dzcrash_writer_pack.h"

#include <cstdlib>
#include <cstring>

namespace {

enum WireType : uint32_t { kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kFixed32 = 5 };

// Key, and a value or a length, never take more than two varints.
constexpr size_t kScratchSize = 2 * kDZCrashWriterMaxVarintSize;

template <class T>
T load(const void* value) {
    T result;
    std::memcpy(&result, value, sizeof(T));
    return result;
}

size_t packLittleEndian(uint64_t value, size_t size, uint8_t* out) {
    for (size_t i = 0; i < size; i++) out[i] = static_cast<uint8_t>(value >> (8 * i));
    return size;
}

size_t stringLength(const char* string) {
    size_t length = 0;
    while (string[length] != '\0') length++;
    return length;
}

WireType wireType(dzcrash_writer_type type) {
    switch (type) {
        case DZCRASH_WRITER_INT32:
        case DZCRASH_WRITER_SINT32:
        case DZCRASH_WRITER_INT64:
        case DZCRASH_WRITER_SINT64:
        case DZCRASH_WRITER_UINT32:
        case DZCRASH_WRITER_UINT64:
        case DZCRASH_WRITER_BOOL:
        case DZCRASH_WRITER_ENUM:
            return kVarint;
        case DZCRASH_WRITER_SFIXED64:
        case DZCRASH_WRITER_FIXED64:
        case DZCRASH_WRITER_DOUBLE:
            return kFixed64;
        case DZCRASH_WRITER_SFIXED32:
        case DZCRASH_WRITER_FIXED32:
        case DZCRASH_WRITER_FLOAT:
            return kFixed32;
        case DZCRASH_WRITER_STRING:
        case DZCRASH_WRITER_BYTES:
        case DZCRASH_WRITER_MESSAGE:
            return kLengthDelimited;
    }
    // A value type outside the table is a bug in the writer; guessing an encoding would corrupt
    // the rest of the report silently.
    abort();
}

// Encodes the value's fixed part into `out` and returns its size; for strings and bytes also
// hands back the data that follows the length.
size_t packValue(dzcrash_writer_type type, const void* value, uint8_t* out, const void** tail,
                 size_t* tailLength) {
    switch (type) {
        case DZCRASH_WRITER_INT32:
        case DZCRASH_WRITER_ENUM:
            // Negative values are sign-extended to 64 bits, so readers of either width agree.
            return dzcrash_writer_pack_varint(
                static_cast<uint64_t>(static_cast<int64_t>(load<int32_t>(value))), out);
        case DZCRASH_WRITER_SINT32: {
            int32_t n = load<int32_t>(value);
            uint32_t zigzag = (static_cast<uint32_t>(n) << 1) ^ static_cast<uint32_t>(n >> 31);
            return dzcrash_writer_pack_varint(zigzag, out);
        }
        case DZCRASH_WRITER_SINT64: {
            int64_t n = load<int64_t>(value);
            uint64_t zigzag = (static_cast<uint64_t>(n) << 1) ^ static_cast<uint64_t>(n >> 63);
            return dzcrash_writer_pack_varint(zigzag, out);
        }
        case DZCRASH_WRITER_INT64:
            return dzcrash_writer_pack_varint(static_cast<uint64_t>(load<int64_t>(value)), out);
        case DZCRASH_WRITER_UINT32:
            return dzcrash_writer_pack_varint(load<uint32_t>(value), out);
        case DZCRASH_WRITER_UINT64:
            return dzcrash_writer_pack_varint(load<uint64_t>(value), out);
        case DZCRASH_WRITER_BOOL:
            out[0] = load<bool>(value) ? 1 : 0;
            return 1;
        case DZCRASH_WRITER_SFIXED32:
        case DZCRASH_WRITER_FIXED32:
        case DZCRASH_WRITER_FLOAT:
            return packLittleEndian(load<uint32_t>(value), 4, out);
        case DZCRASH_WRITER_SFIXED64:
        case DZCRASH_WRITER_FIXED64:
        case DZCRASH_WRITER_DOUBLE:
            return packLittleEndian(load<uint64_t>(value), 8, out);
        case DZCRASH_WRITER_STRING: {
            const char* string = static_cast<const char*>(value);
            *tail = string;
            *tailLength = stringLength(string);
            return dzcrash_writer_pack_varint(*tailLength, out);
        }
        case DZCRASH_WRITER_BYTES: {
            dzcrash_writer_bytes bytes = load<dzcrash_writer_bytes>(value);
            *tail = bytes.data;
            *tailLength = bytes.length;
            return dzcrash_writer_pack_varint(bytes.length, out);
        }
        case DZCRASH_WRITER_MESSAGE:
            return dzcrash_writer_pack_varint(load<size_t>(value), out);
    }
    abort();
}

}  // namespace

size_t dzcrash_writer_pack_varint(uint64_t value, uint8_t* out) {
    size_t size = 0;
    while (value >= 0x80) {
        out[size++] = static_cast<uint8_t>(value | 0x80);
        value >>= 7;
    }
    out[size++] = static_cast<uint8_t>(value);
    return size;
}

size_t dzcrash_writer_pack(dzcrash_report_sink* sink, uint32_t field, dzcrash_writer_type type,
                           const void* value) {
    uint8_t scratch[kScratchSize];
    size_t size = dzcrash_writer_pack_varint((static_cast<uint64_t>(field) << 3) | wireType(type), scratch);
    const void* tail = nullptr;
    size_t tailLength = 0;
    size += packValue(type, value, scratch + size, &tail, &tailLength);

    if (sink) {
        dzcrash_report_sink_write(sink, scratch, size);
        if (tailLength > 0) dzcrash_report_sink_write(sink, tail, tailLength);
    }
    return size + tailLength;
}
