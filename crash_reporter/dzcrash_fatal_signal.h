#pragma once
// What the reporter hangs into the signal handler's chain: the crash callback that writes the report
// of a fatal signal on the faulting thread, and the handler of an exception nothing caught, which
// records it and aborts into that same road.
#include <signal.h>
#include <ucontext.h>

#include "crash_reporter/DZCrashSignalHandler.h"
#include "platform/foundation/Exception.h"

// The fatal signals, in the order they are registered, with the host's numbers.
inline constexpr int kDZCrashFatalSignals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};

// `context` is the dzcrash_crash_context. Writes the report with the calling thread crashed at the
// state the signal interrupted, runs the post-crash callback when the report was written, and always
// answers false: the entry then raises the signal again and the process ends by it, its earlier
// handlers never called.
bool dzcrash_fatal_signal_callback(int signal, siginfo_t* info, ucontext_t* uap, void* context,
                                   dzcrash_signal_handler_callback* next) noexcept;

// Records the first exception in the shared crash writer state and aborts; a later one, from any
// thread, returns at once.
void dzcrash_uncaught_nsexception_handler(const ExceptionRecord& exception);
