#pragma once
// The threads of the own task: listing them, suspending and resuming them, and reading the register
// state of a suspended one. Every function here is async-signal-safe: no allocation outside
// vm_allocate, no lock, errno left as it was.
//
// A thread is suspended by a real-time signal reserved for this (`thread_suspend_signal`): its
// handler publishes the interrupted context and waits on a futex until resumed. A thread that does
// not answer within about 100 ms (it blocks the signal, or is stopped) is not suspended and the
// call fails with KERN_OPERATION_TIMED_OUT; no call here waits longer than that.
#include "platform/mach/mach_types.h"
#include "platform/mach/thread_status.h"

using thread_act_t = thread_t;
using thread_act_array_t = thread_act_t*;

// The signal the stand-in takes for suspending threads. Code that masks signals must leave it open
// on threads that a crash report should show.
int thread_suspend_signal() noexcept;

// The task's threads as of the call, read from /proc/self/task, in vm_allocate'd memory that the
// caller releases with vm_deallocate (`*count` entries). Each name holds a send-right reference that
// mach_port_deallocate releases, as on the platform.
kern_return_t task_threads(task_t task, thread_act_array_t* threads, mach_msg_type_number_t* count) noexcept;

// Suspensions nest: a thread runs again once every suspension has been resumed. The calling thread
// cannot suspend itself (KERN_INVALID_ARGUMENT): nobody would be left to answer for it. A name that
// is no live thread of the task is KERN_INVALID_ARGUMENT; resuming a thread that is not suspended,
// KERN_FAILURE.
kern_return_t thread_suspend(thread_act_t thread) noexcept;
kern_return_t thread_resume(thread_act_t thread) noexcept;

// Flavour x86_THREAD_STATE (`*count` at least 44) or x86_EXCEPTION_STATE (at least 6), in their
// 64-bit forms; `*count` gets the words written. A thread that is not suspended is suspended for
// the read and resumed after it, so one that does not answer fails as thread_suspend does. The
// calling thread's own state is not available here (KERN_INVALID_ARGUMENT).
kern_return_t thread_get_state(thread_act_t thread, thread_state_flavor_t flavor, thread_state_t state,
                               mach_msg_type_number_t* count) noexcept;
