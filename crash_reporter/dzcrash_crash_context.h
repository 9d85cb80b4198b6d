#pragma once
// What crash time needs of the enabled reporter, in one process-wide record that the signal path
// reads without touching any object: the writer state prepared at enable, the pending report's
// path, and the callback the application runs once a report is on disk. Filled from ordinary code
// before a crash; read at crash time without locks.
#include <signal.h>
#include <ucontext.h>

#include "crash_reporter/dzcrash_log_writer.h"

struct dzcrash_crash_context {
    dzcrash_log_writer_state writer;
    // NUL-terminated, copied at enable; null until then.
    char* report_path;
};

dzcrash_crash_context* dzcrash_shared_crash_context() noexcept;

// Runs after a report has been written at crash time, with the signal as the handler received it.
using dzcrash_post_crash_callback_t = void (*)(siginfo_t* info, ucontext_t* uap, void* context);
void dzcrash_set_post_crash_callback(dzcrash_post_crash_callback_t callback, void* context) noexcept;
// Calls the callback when one is set. Async-signal-safe.
void dzcrash_run_post_crash_callback(siginfo_t* info, ucontext_t* uap) noexcept;
