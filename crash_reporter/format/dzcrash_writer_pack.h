#pragma once
// The crash-time field encoder of the report message: standard protocol-buffer binary encoding,
// one key and value per call, written to a report sink without allocating. With no sink it only
// measures, which is how an embedded message learns its length before its body is written.
#include <cstddef>
#include <cstdint>

#include "crash_reporter/format/dzcrash_report_sink.h"

enum dzcrash_writer_type : int {
    DZCRASH_WRITER_INT32 = 0,
    DZCRASH_WRITER_SINT32 = 1,
    DZCRASH_WRITER_SFIXED32 = 2,
    DZCRASH_WRITER_INT64 = 3,
    DZCRASH_WRITER_SINT64 = 4,
    DZCRASH_WRITER_SFIXED64 = 5,
    DZCRASH_WRITER_UINT32 = 6,
    DZCRASH_WRITER_FIXED32 = 7,
    DZCRASH_WRITER_UINT64 = 8,
    DZCRASH_WRITER_FIXED64 = 9,
    DZCRASH_WRITER_FLOAT = 10,
    DZCRASH_WRITER_DOUBLE = 11,
    DZCRASH_WRITER_BOOL = 12,
    DZCRASH_WRITER_ENUM = 13,
    DZCRASH_WRITER_STRING = 14,
    DZCRASH_WRITER_BYTES = 15,
    DZCRASH_WRITER_MESSAGE = 16,
};

// The value of a bytes field.
struct dzcrash_writer_bytes {
    size_t length;
    const void* data;
};

inline constexpr size_t kDZCrashWriterMaxVarintSize = 10;

// Writes `value` as a varint into `out` (room for 10 bytes); returns the bytes used, 1 to 10.
size_t dzcrash_writer_pack_varint(uint64_t value, uint8_t* out);

// Writes one field to `sink` (nothing when it is null) and returns the bytes it takes. `value`
// points at an int32_t (int32, sint32, sfixed32, enum), int64_t (int64, sint64, sfixed64),
// uint32_t (uint32, fixed32), uint64_t (uint64, fixed64), float, double or bool; a string is a
// NUL-terminated char array, bytes a dzcrash_writer_bytes, and a message the size_t length of its
// body, which the caller writes next. A value type outside the table aborts.
size_t dzcrash_writer_pack(dzcrash_report_sink* sink, uint32_t field, dzcrash_writer_type type,
                           const void* value);
