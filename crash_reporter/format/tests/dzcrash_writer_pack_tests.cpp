#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "crash_reporter/format/dzcrash_writer_pack.h"
#include "crash_reporter/format/tests/ScratchFile.h"

namespace {

const int32_t kInt32MinusOne = -1;
const int32_t kInt32 = 150;
const int32_t kSint32 = -2;
const int32_t kSfixed32 = -2;
const int64_t kInt64MinusOne = -1;
const int64_t kSint64 = -3;
const int64_t kSfixed64 = -2;
const uint32_t kUint32 = 300;
const uint32_t kFixed32 = 0x01020304;
const uint64_t kUint64Max = std::numeric_limits<uint64_t>::max();
const uint64_t kFixed64 = 0x0102030405060708;
const float kFloat = 1.0f;
const double kDouble = 1.0;
const bool kBool = true;
const int32_t kEnum = 1;
const char kString[] = "dzcrash";
const uint8_t kBytesData[] = {0x00, 0xFF};
const dzcrash_writer_bytes kBytes = {sizeof(kBytesData), kBytesData};
const size_t kMessageLength = 300;

struct PackCase {
    const char* name;
    uint32_t field;
    dzcrash_writer_type type;
    const void* value;
    Data expected;  // key and value as a standard protocol-buffer reader expects them
};

const Data kTenByteMinusOne = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01};

Data key(uint8_t byte, const Data& value) {
    Data all{byte};
    all.insert(all.end(), value.begin(), value.end());
    return all;
}

const std::vector<PackCase> kPackCases = {
    {"int32 -1 sign-extended", 1, DZCRASH_WRITER_INT32, &kInt32MinusOne, key(0x08, kTenByteMinusOne)},
    {"int32 150", 1, DZCRASH_WRITER_INT32, &kInt32, {0x08, 0x96, 0x01}},
    {"sint32 -2 zig-zag", 1, DZCRASH_WRITER_SINT32, &kSint32, {0x08, 0x03}},
    {"sfixed32 -2", 1, DZCRASH_WRITER_SFIXED32, &kSfixed32, {0x0D, 0xFE, 0xFF, 0xFF, 0xFF}},
    {"int64 -1", 1, DZCRASH_WRITER_INT64, &kInt64MinusOne, key(0x08, kTenByteMinusOne)},
    {"sint64 -3 zig-zag", 1, DZCRASH_WRITER_SINT64, &kSint64, {0x08, 0x05}},
    {"sfixed64 -2",
     1,
     DZCRASH_WRITER_SFIXED64,
     &kSfixed64,
     {0x09, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {"uint32 300", 1, DZCRASH_WRITER_UINT32, &kUint32, {0x08, 0xAC, 0x02}},
    {"fixed32 little-endian", 1, DZCRASH_WRITER_FIXED32, &kFixed32, {0x0D, 0x04, 0x03, 0x02, 0x01}},
    {"uint64 max", 1, DZCRASH_WRITER_UINT64, &kUint64Max, key(0x08, kTenByteMinusOne)},
    {"fixed64 little-endian",
     1,
     DZCRASH_WRITER_FIXED64,
     &kFixed64,
     {0x09, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
    {"float 1.0", 1, DZCRASH_WRITER_FLOAT, &kFloat, {0x0D, 0x00, 0x00, 0x80, 0x3F}},
    {"double 1.0",
     1,
     DZCRASH_WRITER_DOUBLE,
     &kDouble,
     {0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F}},
    {"bool", 1, DZCRASH_WRITER_BOOL, &kBool, {0x08, 0x01}},
    {"enum", 1, DZCRASH_WRITER_ENUM, &kEnum, {0x08, 0x01}},
    {"string without its NUL",
     1,
     DZCRASH_WRITER_STRING,
     kString,
     {0x0A, 0x07, 'd', 'z', 'c', 'r', 'a', 's', 'h'}},
    {"bytes", 1, DZCRASH_WRITER_BYTES, &kBytes, {0x0A, 0x02, 0x00, 0xFF}},
    {"message: key and measured length", 1, DZCRASH_WRITER_MESSAGE, &kMessageLength, {0x0A, 0xAC, 0x02}},
    {"field 16 takes a two-byte key", 16, DZCRASH_WRITER_UINT32, &kUint32, {0x80, 0x01, 0xAC, 0x02}},
};

}  // namespace

TEST(DZCrashWriterPack, EveryValueTypeWritesWhatItMeasuresInStandardEncoding) {
    for (const PackCase& c : kPackCases) {
        SCOPED_TRACE(c.name);
        ScratchFile file;
        dzcrash_report_sink sink;
        dzcrash_report_sink_init(&sink, file.fd(), 0);

        size_t measured = dzcrash_writer_pack(nullptr, c.field, c.type, c.value);
        size_t written = dzcrash_writer_pack(&sink, c.field, c.type, c.value);
        ASSERT_TRUE(dzcrash_report_sink_flush(&sink));

        EXPECT_EQ(file.contents(), c.expected);
        EXPECT_EQ(measured, c.expected.size());
        EXPECT_EQ(written, measured);
    }
}

TEST(DZCrashWriterPack, VarintsTakeOneToTenBytes) {
    const struct {
        uint64_t value;
        size_t size;
    } cases[] = {{0, 1},          {127, 1}, {128, 2}, {16383, 2}, {16384, 3}, {uint64_t{1} << 63, 10},
                 {kUint64Max, 10}};
    for (const auto& c : cases) {
        uint8_t out[kDZCrashWriterMaxVarintSize];
        EXPECT_EQ(dzcrash_writer_pack_varint(c.value, out), c.size) << c.value;
        EXPECT_EQ(out[c.size - 1] & 0x80, 0) << "the last byte ends the varint";
    }
}

TEST(DZCrashWriterPackDeathTest, AValueTypeOutsideTheTableAborts) {
    const uint32_t value = 1;
    EXPECT_DEATH(dzcrash_writer_pack(nullptr, 1, static_cast<dzcrash_writer_type>(17), &value), "");
}
