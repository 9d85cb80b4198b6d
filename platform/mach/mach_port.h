#pragma once
// Port names of the own task. The task port is one fixed name whose send-right user references are
// counted, so a caller that takes one and never releases it shows up in `mach_port_get_refs`. A
// thread's port name is its kernel thread id; thread names carry no count of their own.
// Every function here is async-signal-safe: no allocation, no lock, errno left as it was.
#include "platform/mach/mach_types.h"

// The own task's port name. Takes no reference, as the platform's cached name does not.
task_t mach_task_self() noexcept;
// The calling thread's port name (its thread id). The platform adds a send-right reference here
// that the caller releases with `mach_port_deallocate`; the release is accepted and not counted.
thread_t mach_thread_self() noexcept;

// Changes the user references of a send right by `delta`. Only the task port has a counted send
// right: the process holds one reference from the start, and the count never drops below that one
// (KERN_INVALID_VALUE) nor overflows (KERN_UREFS_OVERFLOW). Thread names answer KERN_INVALID_RIGHT.
kern_return_t mach_port_mod_refs(task_t task, mach_port_name_t name, mach_port_right_t right,
                                 mach_port_delta_t delta) noexcept;
kern_return_t mach_port_get_refs(task_t task, mach_port_name_t name, mach_port_right_t right,
                                 mach_port_urefs_t* refs) noexcept;
// Releases one send-right reference: on the task port it lowers the count, on the name of a live
// thread of the task it succeeds. Any other name is KERN_INVALID_NAME.
kern_return_t mach_port_deallocate(task_t task, mach_port_name_t name) noexcept;
