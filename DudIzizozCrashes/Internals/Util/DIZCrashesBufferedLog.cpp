#include "DudIzizozCrashes/Internals/Util/DIZCrashesBufferedLog.h"

#include <fcntl.h>

#include "crash_reporter/format/dzcrash_report_sink.h"

DIZCrashesBufferedLog* const diz_log_buffer = new DIZCrashesBufferedLog[kDIZCrashesLogBufferSize];

std::atomic<uint8_t> diz_log_buffer_saved{0};
static_assert(std::atomic<uint8_t>::is_always_lock_free, "the flag is set inside a signal handler");

void diz_write_log_buffer_file(const std::string& bytes, const std::string& path) noexcept {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    // The sink goes on after a short or interrupted write: a cut archive could not be read back at
    // the next start, and the log would be lost after all.
    dzcrash_report_sink sink;
    dzcrash_report_sink_init(&sink, fd, 0);
    dzcrash_report_sink_write(&sink, bytes.data(), bytes.size());
    dzcrash_report_sink_close(&sink);
}

void diz_save_log_buffer() noexcept {
    diz_log_buffer_saved.store(1);
    for (size_t i = 0; i < kDIZCrashesLogBufferSize; ++i) {
        const DIZCrashesBufferedLog& slot = diz_log_buffer[i];
        diz_write_log_buffer_file(slot.buffer, slot.bufferPath);
        if (!slot.targetToken.empty()) diz_write_log_buffer_file(slot.targetToken, slot.targetTokenPath);
    }
}

void diz_save_log_buffer_callback(siginfo_t*, ucontext_t*, void*) {
    diz_save_log_buffer();
}
