// A report written field by field with the crash-time encoder, in the order and shape the crash
// writer uses, must unpack with the generated code to the values written.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "crash_reporter/dzcrash.pb-c.h"
#include "crash_reporter/format/DZCrashReport.h"
#include "crash_reporter/format/dzcrash_report_file.h"
#include "crash_reporter/format/dzcrash_writer_pack.h"
#include "crash_reporter/format/tests/ScratchFile.h"

namespace {

using Sink = dzcrash_report_sink;

// An embedded message as the writer makes one: the body is measured without a sink, then key,
// length and body are written. Returns the bytes the whole field takes.
template <class Body>
size_t packMessage(Sink* sink, uint32_t field, Body body) {
    size_t length = body(nullptr);
    size_t size = dzcrash_writer_pack(sink, field, DZCRASH_WRITER_MESSAGE, &length);
    if (sink) body(sink);
    return size + length;
}

size_t packUint64(Sink* sink, uint32_t field, uint64_t value) {
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_UINT64, &value);
}
size_t packUint32(Sink* sink, uint32_t field, uint32_t value) {
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_UINT32, &value);
}
size_t packBool(Sink* sink, uint32_t field, bool value) {
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_BOOL, &value);
}
size_t packEnum(Sink* sink, uint32_t field, int32_t value) {
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_ENUM, &value);
}
size_t packString(Sink* sink, uint32_t field, const char* value) {
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_STRING, value);
}
size_t packBytes(Sink* sink, uint32_t field, const void* data, size_t length) {
    dzcrash_writer_bytes bytes = {length, data};
    return dzcrash_writer_pack(sink, field, DZCRASH_WRITER_BYTES, &bytes);
}

size_t packProcessor(Sink* sink, uint32_t field, uint64_t type, uint64_t subtype) {
    return packMessage(sink, field, [&](Sink* s) {
        return packEnum(s, 1, DZCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH) +
               packUint64(s, 2, type) + packUint64(s, 3, subtype);
    });
}

size_t packFrame(Sink* sink, uint32_t field, uint64_t pc, const char* symbol = nullptr, uint64_t start = 0) {
    return packMessage(sink, field, [&](Sink* s) {
        size_t size = packUint64(s, 3, pc);
        if (symbol) {
            size += packMessage(s, 6,
                                [&](Sink* t) { return packString(t, 1, symbol) + packUint64(t, 2, start); });
        }
        return size;
    });
}

constexpr uint8_t kReportUUID[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr uint8_t kImageUUID[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                    0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
constexpr int64_t kTimestamp = 1700000000;
constexpr char kPath[] = "/opt/crasher/bin/crasher";
constexpr uint8_t kCustomData[] = {'c', 'u', 's', 't', 0, 'o', 'm'};

// The report body, top-level fields in the crash writer's order.
size_t packReport(Sink* sink) {
    size_t size = packMessage(sink, 9, [](Sink* s) {
        return packBool(s, 1, false) + packBytes(s, 2, kReportUUID, sizeof(kReportUUID));
    });
    size += packMessage(sink, 1, [](Sink* s) {
        return packEnum(s, 1, DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X) +
               packString(s, 2, "10.15.7") + packString(s, 5, "19H2") +
               packEnum(s, 3, DZCRASH__ARCHITECTURE__X86_64) +
               dzcrash_writer_pack(s, 4, DZCRASH_WRITER_INT64, &kTimestamp);
    });
    size += packMessage(sink, 8, [](Sink* s) {
        return packString(s, 1, "TestMachine1,1") + packProcessor(s, 2, 0x1000007, 3) + packUint32(s, 3, 8) +
               packUint32(s, 4, 16);
    });
    size += packMessage(sink, 2, [](Sink* s) {
        return packString(s, 1, "com.example.crasher") + packString(s, 2, "42") + packString(s, 3, "");
    });
    // The path goes with its terminating NUL, as the crash writer stores it.
    size += packMessage(sink, 7, [](Sink* s) {
        return packString(s, 1, "crasher") + packUint32(s, 2, 4242) + packBytes(s, 3, kPath, sizeof(kPath)) +
               packString(s, 4, "init") + packUint32(s, 5, 1) + packBool(s, 6, true) +
               packUint64(s, 7, 1699999000);
    });
    for (uint32_t number = 0; number < 3; number++) {
        size += packMessage(sink, 3, [&](Sink* s) {
            bool crashed = number == 1;
            size_t body = packUint32(s, 1, number) + packBool(s, 3, crashed);
            if (crashed) {
                body += packMessage(
                    s, 4, [](Sink* t) { return packString(t, 1, "rip") + packUint64(t, 2, 0x1234); });
                body += packMessage(
                    s, 4, [](Sink* t) { return packString(t, 1, "rsp") + packUint64(t, 2, 0x7ff0); });
            }
            for (uint64_t frame = 0; frame < 3; frame++) {
                body += packFrame(s, 2, 0x100000000 + number * 0x100 + frame, frame == 0 ? "main" : nullptr,
                                  0x100000000);
            }
            return body;
        });
    }
    for (uint64_t image = 0; image < 2; image++) {
        size += packMessage(sink, 4, [&](Sink* s) {
            size_t body = packUint64(s, 2, 0x20000) + packUint64(s, 1, 0x100000000 + image * 0x100000) +
                          packString(s, 3, image == 0 ? kPath : "/usr/lib/libc.so");
            if (image == 0) body += packBytes(s, 4, kImageUUID, sizeof(kImageUUID));
            return body + packProcessor(s, 5, 0x1000007, 3);
        });
    }
    size += packMessage(sink, 5, [](Sink* s) {
        return packString(s, 1, "RangeError") + packString(s, 2, "index 3 beyond bounds") +
               packFrame(s, 3, 0x100000010) + packFrame(s, 3, 0x100000020);
    });
    size += packMessage(sink, 6, [](Sink* s) {
        return packString(s, 1, "SIGSEGV") + packString(s, 2, "SEGV_MAPERR") + packUint64(s, 3, 0x10) +
               packMessage(s, 4, [](Sink* t) {
                   return packUint64(t, 1, 1) + packUint64(t, 2, 2) + packUint64(t, 2, 0xFFFFFFFFFFFFFFFF);
               });
    });
    return size + packBytes(sink, 10, kCustomData, sizeof(kCustomData));
}

struct UnpackedDeleter {
    void operator()(Dzcrash__CrashReport* report) const {
        dzcrash__crash_report__free_unpacked(report, nullptr);
    }
};

}  // namespace

class HandEncodedReport : public ::testing::Test {
  protected:
    void SetUp() override {
        dzcrash_report_sink sink;
        dzcrash_report_sink_init(&sink, file_.fd(), 0);
        dzcrash_report_sink_write(&sink, kDZCrashReportFileMagic, sizeof(kDZCrashReportFileMagic));
        dzcrash_report_sink_write(&sink, &kDZCrashReportFileVersion, 1);
        measured_ = packReport(nullptr);
        written_ = packReport(&sink);
        ASSERT_TRUE(dzcrash_report_sink_flush(&sink));
        data_ = file_.contents();
    }

    ScratchFile file_;
    size_t measured_ = 0;
    size_t written_ = 0;
    Data data_;
};

TEST_F(HandEncodedReport, MeasuresExactlyWhatItWrites) {
    EXPECT_EQ(written_, measured_);
    EXPECT_EQ(data_.size(), kDZCrashReportFileHeaderSize + written_);
}

TEST_F(HandEncodedReport, UnpacksWithTheGeneratedCodeToTheValuesWritten) {
    std::unique_ptr<Dzcrash__CrashReport, UnpackedDeleter> report(dzcrash__crash_report__unpack(
        nullptr, data_.size() - kDZCrashReportFileHeaderSize, data_.data() + kDZCrashReportFileHeaderSize));
    ASSERT_NE(report, nullptr);

    ASSERT_NE(report->report_info, nullptr);
    EXPECT_FALSE(report->report_info->user_requested);
    ASSERT_EQ(report->report_info->uuid.len, 16u);
    EXPECT_EQ(std::memcmp(report->report_info->uuid.data, kReportUUID, 16), 0);

    EXPECT_EQ(report->system_info->operating_system,
              DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X);
    EXPECT_STREQ(report->system_info->os_version, "10.15.7");
    EXPECT_STREQ(report->system_info->os_build, "19H2");
    EXPECT_EQ(report->system_info->architecture, DZCRASH__ARCHITECTURE__X86_64);
    EXPECT_EQ(report->system_info->timestamp, 1700000000);

    ASSERT_NE(report->machine_info, nullptr);
    EXPECT_STREQ(report->machine_info->model, "TestMachine1,1");
    EXPECT_EQ(report->machine_info->processor->encoding,
              DZCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH);
    EXPECT_EQ(report->machine_info->processor->type, 0x1000007u);
    EXPECT_EQ(report->machine_info->processor->subtype, 3u);
    EXPECT_EQ(report->machine_info->processor_count, 8u);
    EXPECT_EQ(report->machine_info->logical_processor_count, 16u);

    EXPECT_STREQ(report->application_info->identifier, "com.example.crasher");
    EXPECT_STREQ(report->application_info->version, "42");
    EXPECT_STREQ(report->application_info->marketing_version, "");

    ASSERT_NE(report->process_info, nullptr);
    EXPECT_STREQ(report->process_info->process_name, "crasher");
    EXPECT_EQ(report->process_info->process_id, 4242u);
    EXPECT_STREQ(report->process_info->process_path, kPath);
    EXPECT_STREQ(report->process_info->parent_process_name, "init");
    EXPECT_EQ(report->process_info->parent_process_id, 1u);
    EXPECT_TRUE(report->process_info->native);
    EXPECT_EQ(report->process_info->start_time, 1699999000u);

    ASSERT_EQ(report->n_threads, 3u);
    for (uint32_t number = 0; number < 3; number++) {
        const Dzcrash__CrashReport__Thread* thread = report->threads[number];
        EXPECT_EQ(thread->thread_number, number);
        EXPECT_EQ(thread->crashed, number == 1);
        ASSERT_EQ(thread->n_frames, 3u);
        for (uint64_t frame = 0; frame < 3; frame++) {
            EXPECT_EQ(thread->frames[frame]->pc, 0x100000000 + number * 0x100 + frame);
        }
        ASSERT_NE(thread->frames[0]->symbol, nullptr);
        EXPECT_STREQ(thread->frames[0]->symbol->name, "main");
        EXPECT_EQ(thread->frames[0]->symbol->start_address, 0x100000000u);
        EXPECT_FALSE(thread->frames[0]->symbol->has_end_address);
        EXPECT_EQ(thread->frames[1]->symbol, nullptr);
        EXPECT_EQ(thread->n_registers, number == 1 ? 2u : 0u);
    }
    EXPECT_STREQ(report->threads[1]->registers[0]->name, "rip");
    EXPECT_EQ(report->threads[1]->registers[0]->value, 0x1234u);
    EXPECT_STREQ(report->threads[1]->registers[1]->name, "rsp");

    ASSERT_EQ(report->n_binary_images, 2u);
    EXPECT_EQ(report->binary_images[0]->base_address, 0x100000000u);
    EXPECT_EQ(report->binary_images[0]->size, 0x20000u);
    EXPECT_STREQ(report->binary_images[0]->name, kPath);
    ASSERT_EQ(report->binary_images[0]->uuid.len, 16u);
    EXPECT_EQ(std::memcmp(report->binary_images[0]->uuid.data, kImageUUID, 16), 0);
    EXPECT_EQ(report->binary_images[0]->code_type->type, 0x1000007u);
    EXPECT_EQ(report->binary_images[1]->base_address, 0x100100000u);
    EXPECT_FALSE(report->binary_images[1]->has_uuid);

    ASSERT_NE(report->exception, nullptr);
    EXPECT_STREQ(report->exception->name, "RangeError");
    EXPECT_STREQ(report->exception->reason, "index 3 beyond bounds");
    ASSERT_EQ(report->exception->n_frames, 2u);
    EXPECT_EQ(report->exception->frames[1]->pc, 0x100000020u);

    EXPECT_STREQ(report->signal->name, "SIGSEGV");
    EXPECT_STREQ(report->signal->code, "SEGV_MAPERR");
    EXPECT_EQ(report->signal->address, 0x10u);
    ASSERT_NE(report->signal->mach_exception, nullptr);
    EXPECT_EQ(report->signal->mach_exception->type, 1u);
    ASSERT_EQ(report->signal->mach_exception->n_codes, 2u);
    EXPECT_EQ(report->signal->mach_exception->codes[0], 2u);
    EXPECT_EQ(report->signal->mach_exception->codes[1], 0xFFFFFFFFFFFFFFFFu);

    ASSERT_TRUE(report->has_custom_data);
    EXPECT_EQ(Data(report->custom_data.data, report->custom_data.data + report->custom_data.len),
              Data(std::begin(kCustomData), std::end(kCustomData)));
}

// The writer keeps the path's terminating NUL in the file; decoded, the path must equal the same
// image's path, or every comparison and every JSON text made from it carries a stray NUL.
TEST_F(HandEncodedReport, DecodesTheProcessPathWithoutTheWritersTerminatingNul) {
    Error error;
    auto report = DZCrashReport::initWithData(data_, &error);
    ASSERT_NE(report, nullptr) << error.description;
    ASSERT_TRUE(report->processInfo()->processPath());
    EXPECT_EQ(*report->processInfo()->processPath(), kPath);
    EXPECT_EQ(*report->processInfo()->processPath(), report->images()[0]->imageName());
    EXPECT_EQ(report->applicationInfo()->applicationMarketingVersion(), std::optional<std::string>(""));
    EXPECT_EQ(report->threads()[1]->registers().size(), 2u);
}
