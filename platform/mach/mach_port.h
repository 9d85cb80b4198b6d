#pragma once
// Port names of the own task. The task port is one fixed name whose send-right user references are
// counted, so a caller that takes one and never releases it shows up in `mach_port_get_refs`. A
// thread's port name is its kernel thread id; thread names carry no count of their own.
// Every function here is async-signal-safe: no allocation, no lock, errno left as it was.
#include "platform/mach/mach_types.h"
#include "platform/mach/message.h"

// The own task's port name. Takes no reference, as the platform's cached name does not.
task_t mach_task_self() noexcept;
// The calling thread's port name (its thread id). The platform adds a send-right reference here
// that the caller releases with `mach_port_deallocate`; the release is accepted and not counted.
thread_t mach_thread_self() noexcept;

// Ports made by the task live in a fixed table of names (MachTesting tells how many are in use).
// Allocates a port with its receive right (MACH_PORT_RIGHT_RECEIVE) or an empty port set
// (MACH_PORT_RIGHT_PORT_SET); KERN_NO_SPACE when the table is full.
kern_return_t mach_port_allocate(task_t task, mach_port_right_t right, mach_port_name_t* name) noexcept;
// MACH_MSG_TYPE_MAKE_SEND adds a send right to a port whose receive right the task holds;
// MACH_MSG_TYPE_COPY_SEND one more to a port it holds a send right to. `poly` must be `name`.
kern_return_t mach_port_insert_right(task_t task, mach_port_name_t name, mach_port_t poly,
                                     mach_msg_type_name_t poly_poly) noexcept;
// Moves a port's receive right into the set `after`, or out of any set with MACH_PORT_NULL.
kern_return_t mach_port_move_member(task_t task, mach_port_name_t member, mach_port_name_t after) noexcept;
// Asks for MACH_NOTIFY_NO_SENDERS on `name`, sent to `notify` once no send right to `name` is left
// (at once when there is none now). `previous` gets MACH_PORT_NULL.
kern_return_t mach_port_request_notification(task_t task, mach_port_name_t name, mach_msg_id_t variant,
                                             uint32_t sync, mach_port_t notify,
                                             mach_msg_type_name_t notify_poly,
                                             mach_port_t* previous) noexcept;

// Changes the user references of a send right by `delta`. Only the task port has a counted send
// right: the process holds one reference from the start, and the count never drops below that one
// (KERN_INVALID_VALUE) nor overflows (KERN_UREFS_OVERFLOW). Thread names answer KERN_INVALID_RIGHT.
// On a port of the table: send rights count up and down; a receive right or a port set is destroyed
// by -1 (a port with send rights left becomes a dead name, released by mach_port_deallocate).
kern_return_t mach_port_mod_refs(task_t task, mach_port_name_t name, mach_port_right_t right,
                                 mach_port_delta_t delta) noexcept;
kern_return_t mach_port_get_refs(task_t task, mach_port_name_t name, mach_port_right_t right,
                                 mach_port_urefs_t* refs) noexcept;
// Releases one send-right reference: on the task port it lowers the count, on the name of a live
// thread of the task it succeeds, on a port of the table it drops a send right or a dead name. Any
// other name is KERN_INVALID_NAME.
kern_return_t mach_port_deallocate(task_t task, mach_port_name_t name) noexcept;
