#pragma once
// A buffered, size-capped output for the report file, safe inside a signal handler: it never
// allocates or locks, and reaches the file only through write(2) and close(2).
#include <cstddef>
#include <cstdint>

inline constexpr size_t kDZCrashReportSinkBufferSize = 256;

struct dzcrash_report_sink {
    int fd;
    size_t limit;     // bytes the sink accepts in all; 0 = no limit
    size_t accepted;  // bytes accepted so far, buffered or written
    size_t buffered;
    // Set once a write(2) has failed: the file then has a hole, so flush and close report failure
    // even when the descriptor works again later.
    bool failed;
    uint8_t buffer[kDZCrashReportSinkBufferSize];
};

void dzcrash_report_sink_init(dzcrash_report_sink* sink, int fd, size_t limit);
// False, and nothing written, when the bytes would take the sink past its limit; false too when
// the descriptor fails. Bytes that do not fit the buffer are written at once.
bool dzcrash_report_sink_write(dzcrash_report_sink* sink, const void* bytes, size_t length);
// Writes out the buffer; false if it or any earlier write to the descriptor failed.
bool dzcrash_report_sink_flush(dzcrash_report_sink* sink);
// Flushes, then closes the descriptor (also when the flush failed); false if either failed.
bool dzcrash_report_sink_close(dzcrash_report_sink* sink);
