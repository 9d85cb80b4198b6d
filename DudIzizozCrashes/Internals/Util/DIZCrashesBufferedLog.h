#pragma once
// The crash-time log buffer: 60 slots holding the archives of logs that a channel has prepared and
// not yet finished enqueueing, and the writer that saves every slot to its own file from inside the
// crash reporter's handler. Ordinary code changes the slots under the crash service's lock; the
// writer takes no lock, allocates nothing and reads the slots as they are at the moment of the crash.
#include <signal.h>
#include <ucontext.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct DIZCrashesBufferedLog {
    std::string bufferPath;       // absolute, filled once when the service is made
    std::string buffer;           // keyed-archive bytes of the log; empty: the slot is free
    std::string targetTokenPath;  // absolute
    std::string targetToken;      // the encrypted token text, or empty
    std::string internalId;       // the channel's id of the log
    double timestamp = 0;         // seconds since 1970 when filled; not read while free
};

inline constexpr size_t kDIZCrashesLogBufferSize = 60;

// The slots, made before main and never destroyed: a thread still buffering while the process
// exits, or a crash during exit, finds them whole.
extern DIZCrashesBufferedLog* const diz_log_buffer;

// Set to 1 by the crash-time writer before it writes anything, and never back: from then on a slot
// that is freed has its file removed, so the next run does not replay a log this run completed.
extern std::atomic<uint8_t> diz_log_buffer_saved;

// Crash time: sets the flag, then writes every slot's bytes to its buffer file (a free slot
// truncates its file) and a slot's token, when it has one, to its token file.
void diz_save_log_buffer() noexcept;
// Replaces the file at `path` with `bytes`, by open, write and close only; a file that cannot be
// opened is skipped silently.
void diz_write_log_buffer_file(const std::string& bytes, const std::string& path) noexcept;
// The crash reporter's post-crash callback: it runs after the report is written.
void diz_save_log_buffer_callback(siginfo_t* info, ucontext_t* uap, void* context);
