#include "crash_reporter/format/dzcrash_report_sink.h"

#include <unistd.h>

#include <cerrno>

namespace {

// write(2) may take fewer bytes than asked, or be interrupted by a signal before taking any:
// both are retried, since at crash time other signals can still arrive.
bool writeAll(dzcrash_report_sink* sink, const uint8_t* bytes, size_t length) {
    while (length > 0) {
        ssize_t written = write(sink->fd, bytes, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            sink->failed = true;
            return false;
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool writeBuffer(dzcrash_report_sink* sink) {
    size_t length = sink->buffered;
    sink->buffered = 0;
    return writeAll(sink, sink->buffer, length);
}

}  // namespace

void dzcrash_report_sink_init(dzcrash_report_sink* sink, int fd, size_t limit) {
    sink->fd = fd;
    sink->limit = limit;
    sink->accepted = 0;
    sink->buffered = 0;
    sink->failed = false;
}

bool dzcrash_report_sink_write(dzcrash_report_sink* sink, const void* bytes, size_t length) {
    if (sink->limit != 0 && length > sink->limit - sink->accepted) return false;
    sink->accepted += length;

    if (sink->buffered + length > kDZCrashReportSinkBufferSize && !writeBuffer(sink)) return false;
    if (length > kDZCrashReportSinkBufferSize) {
        return writeAll(sink, static_cast<const uint8_t*>(bytes), length);
    }

    const uint8_t* source = static_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < length; i++) sink->buffer[sink->buffered + i] = source[i];
    sink->buffered += length;
    return true;
}

bool dzcrash_report_sink_flush(dzcrash_report_sink* sink) {
    return writeBuffer(sink) && !sink->failed;
}

bool dzcrash_report_sink_close(dzcrash_report_sink* sink) {
    bool flushed = dzcrash_report_sink_flush(sink);
    // Linux releases the descriptor even when close(2) is interrupted, and the bytes were written
    // already, so an interruption is no failure and must not be retried.
    bool closed = close(sink->fd) == 0 || errno == EINTR;
    sink->fd = -1;
    return flushed && closed;
}
