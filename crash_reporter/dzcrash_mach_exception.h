#pragma once
// The crash-time half of the Mach road: the ports registered before the reporter's in a form that
// needs no object, the offer of an exception to them, its translation to a signal, and the crash
// callback the exception server runs. Everything here is async-signal-safe.
#include <cstdint>

#include "crash_reporter/async/DZCrashHostInfo.h"
#include "crash_reporter/async/dzcrash_signal.h"
#include "platform/mach/exception.h"

struct dzcrash_mach_exception_port_set {
    uint32_t count;
    uint32_t masks[EXC_TYPES_COUNT];
    uint32_t ports[EXC_TYPES_COUNT];
    int32_t behaviors[EXC_TYPES_COUNT];
    int32_t flavors[EXC_TYPES_COUNT];
};

// The exception types the reporter registers for: bad access, bad instruction, arithmetic,
// software and breakpoint, and guard exceptions from Darwin 13 on; without host facts, no guard.
exception_mask_t dzcrash_mach_exception_mask(const DZCrashHostInfo* host) noexcept;

// A signal in the report's numbering, with its fault address.
struct dzcrash_mach_signal {
    dzcrash_report_signal_t signal;
    uint64_t address;
};
// False for fewer than two codes or a type outside 1 to 6 (guard exceptions among them).
bool dzcrash_mach_exception_to_signal(exception_type_t type, const mach_exception_data_type_t* codes,
                                      mach_msg_type_number_t code_count, dzcrash_mach_signal* out) noexcept;

// Offers the exception to the first valid port of `previous` registered for its type, with that
// port's behaviour and codes of its width; KERN_FAILURE when none is, else the port's answer.
kern_return_t dzcrash_mach_exception_forward(task_t task, thread_t thread, exception_type_t type,
                                             const mach_exception_data_type_t* codes,
                                             mach_msg_type_number_t code_count,
                                             const dzcrash_mach_exception_port_set* previous) noexcept;

// The exception server's callback; `context` is the dzcrash_crash_context. KERN_SUCCESS when a
// previous port handled the exception; otherwise, when it maps to a signal, writes the report with
// the faulting thread crashed and runs the post-crash callback, and answers KERN_FAILURE so that the
// fault takes its course.
kern_return_t dzcrash_mach_exception_callback(task_t task, thread_t thread, exception_type_t type,
                                              mach_exception_data_t codes, mach_msg_type_number_t code_count,
                                              void* context) noexcept;
