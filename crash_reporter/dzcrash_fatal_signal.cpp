#include "crash_reporter/dzcrash_fatal_signal.h"

#include <atomic>
#include <cstdlib>

#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/async/dzcrash_async_thread_state.h"
#include "crash_reporter/async/dzcrash_image_list.h"
#include "crash_reporter/async/dzcrash_signal.h"
#include "crash_reporter/dzcrash_crash_context.h"

namespace {

std::atomic<uint8_t> exceptionHandled{0};

// A second fault while the report is written, and the final raise, take the default action.
void restoreDefaultActions() {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int signal : kDZCrashFatalSignals) sigaction(signal, &fallback, nullptr);
}

}  // namespace

bool dzcrash_fatal_signal_callback(int, siginfo_t* info, ucontext_t* uap, void* context,
                                   dzcrash_signal_handler_callback*) noexcept {
    restoreDefaultActions();
    dzcrash_async_thread_state state;
    dzcrash_async_thread_state_from_mcontext(&state, &uap->uc_mcontext);
    // A signal sent by a process (kill, raise, abort) carries the sender's pid and uid where a fault
    // carries its address; only the kernel's own codes are above 0.
    const uint64_t address = info->si_code > 0 ? reinterpret_cast<uint64_t>(info->si_addr) : 0;
    const dzcrash_log_writer_signal record{dzcrash_signal_from_host(info->si_signo, info->si_code), address,
                                           nullptr};
    auto* crash = static_cast<dzcrash_crash_context*>(context);
    if (dzcrash_write_report_file(&crash->writer, crash->report_path, dzcrash_shared_image_list(),
                                  dzcrash_thread_self(), &state, &record) != DZCRASH_ESUCCESS) {
        return false;
    }
    dzcrash_run_post_crash_callback(info, uap);
    return false;
}

void dzcrash_uncaught_nsexception_handler(const ExceptionRecord& exception) {
    uint8_t expected = 0;
    if (!exceptionHandled.compare_exchange_strong(expected, 1)) return;
    dzcrash_log_writer_set_exception(&dzcrash_shared_crash_context()->writer, exception);
    abort();
}
