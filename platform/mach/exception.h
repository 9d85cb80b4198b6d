#pragma once
// Exception ports of the own task and its threads, the messages that raise an exception on such a
// port, and the kernel's part of it, emulated in the process: while a port is registered for a
// fault's type, a hardware fault of any thread (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP with a
// kernel code) becomes a request on that port, sent from a signal handler of the stand-in. The
// faulting thread waits for the reply with its state at the fault published, so thread_get_state and
// thread_suspend treat it as stopped there. A reply of KERN_SUCCESS lets the instruction run again;
// any other reply restores the signal's default action, so the fault repeats and ends the process.
// A signal that a process sent (kill, raise, abort), or a fault no port is registered for, goes to
// the action that was in force before the stand-in's handler.
#include <cstdint>

#include "platform/mach/mach_types.h"
#include "platform/mach/message.h"
#include "platform/mach/thread_act.h"
#include "platform/mach/thread_status.h"

using exception_type_t = int;
using exception_mask_t = uint32_t;
using exception_behavior_t = int;
using exception_data_type_t = int32_t;
using mach_exception_data_type_t = int64_t;
using exception_data_t = exception_data_type_t*;
using mach_exception_data_t = mach_exception_data_type_t*;
using exception_mask_array_t = exception_mask_t*;
using exception_port_array_t = mach_port_t*;
using exception_behavior_array_t = exception_behavior_t*;
using exception_flavor_array_t = thread_state_flavor_t*;

inline constexpr exception_type_t EXC_BAD_ACCESS = 1;
inline constexpr exception_type_t EXC_BAD_INSTRUCTION = 2;
inline constexpr exception_type_t EXC_ARITHMETIC = 3;
inline constexpr exception_type_t EXC_EMULATION = 4;
inline constexpr exception_type_t EXC_SOFTWARE = 5;
inline constexpr exception_type_t EXC_BREAKPOINT = 6;
inline constexpr exception_type_t EXC_GUARD = 12;
inline constexpr int EXC_TYPES_COUNT = 14;

inline constexpr exception_mask_t EXC_MASK_BAD_ACCESS = 1u << EXC_BAD_ACCESS;
inline constexpr exception_mask_t EXC_MASK_BAD_INSTRUCTION = 1u << EXC_BAD_INSTRUCTION;
inline constexpr exception_mask_t EXC_MASK_ARITHMETIC = 1u << EXC_ARITHMETIC;
inline constexpr exception_mask_t EXC_MASK_EMULATION = 1u << EXC_EMULATION;
inline constexpr exception_mask_t EXC_MASK_SOFTWARE = 1u << EXC_SOFTWARE;
inline constexpr exception_mask_t EXC_MASK_BREAKPOINT = 1u << EXC_BREAKPOINT;
inline constexpr exception_mask_t EXC_MASK_GUARD = 1u << EXC_GUARD;

inline constexpr exception_behavior_t EXCEPTION_DEFAULT = 1;
inline constexpr exception_behavior_t EXCEPTION_STATE = 2;
inline constexpr exception_behavior_t EXCEPTION_STATE_IDENTITY = 3;
inline constexpr exception_behavior_t MACH_EXCEPTION_CODES = static_cast<exception_behavior_t>(0x80000000u);

// The largest thread state a raise message carries, in 32-bit words.
inline constexpr mach_msg_type_number_t THREAD_STATE_MAX = 1296;

// Request ids of the raise messages; the reply's id is the request's plus 100.
inline constexpr mach_msg_id_t kExceptionRaiseId = 2401;
inline constexpr mach_msg_id_t kExceptionRaiseStateId = 2402;
inline constexpr mach_msg_id_t kExceptionRaiseStateIdentityId = 2403;
inline constexpr mach_msg_id_t kMachExceptionRaiseId = 2405;
inline constexpr mach_msg_id_t kMachExceptionRaiseStateId = 2406;
inline constexpr mach_msg_id_t kMachExceptionRaiseStateIdentityId = 2407;

// The request of the default behaviour with 64-bit codes: 84 bytes with two codes.
#pragma pack(push, 4)
struct mach_exception_raise_request_t {
    mach_msg_header_t Head;
    mach_msg_body_t msgh_body;
    mach_msg_port_descriptor_t thread;
    mach_msg_port_descriptor_t task;
    NDR_record_t NDR;
    exception_type_t exception;
    mach_msg_type_number_t codeCnt;
    int64_t code[2];
};
#pragma pack(pop)
static_assert(sizeof(mach_exception_raise_request_t) == 84);

// Registration for the types in `mask`. The swap forms answer the ports replaced, one entry per
// distinct (port, behaviour, flavour) with the types it had; `*count` is the room on the way in and
// the entries written on the way out. Each port answered comes with a send right of its own.
kern_return_t task_set_exception_ports(task_t task, exception_mask_t mask, mach_port_t port,
                                       exception_behavior_t behavior, thread_state_flavor_t flavor) noexcept;
kern_return_t task_swap_exception_ports(task_t task, exception_mask_t mask, mach_port_t port,
                                        exception_behavior_t behavior, thread_state_flavor_t flavor,
                                        exception_mask_array_t masks, mach_msg_type_number_t* count,
                                        exception_port_array_t ports, exception_behavior_array_t behaviors,
                                        exception_flavor_array_t flavors) noexcept;
kern_return_t task_get_exception_ports(task_t task, exception_mask_t mask, exception_mask_array_t masks,
                                       mach_msg_type_number_t* count, exception_port_array_t ports,
                                       exception_behavior_array_t behaviors,
                                       exception_flavor_array_t flavors) noexcept;
kern_return_t thread_swap_exception_ports(thread_act_t thread, exception_mask_t mask, mach_port_t port,
                                          exception_behavior_t behavior, thread_state_flavor_t flavor,
                                          exception_mask_array_t masks, mach_msg_type_number_t* count,
                                          exception_port_array_t ports, exception_behavior_array_t behaviors,
                                          exception_flavor_array_t flavors) noexcept;
kern_return_t thread_get_exception_ports(thread_act_t thread, exception_mask_t mask,
                                         exception_mask_array_t masks, mach_msg_type_number_t* count,
                                         exception_port_array_t ports, exception_behavior_array_t behaviors,
                                         exception_flavor_array_t flavors) noexcept;

// Raise an exception on `port` and wait for the answer, which they return. The state forms carry
// `old_state` and give back the handler's new state. 32-bit codes, then 64-bit ones.
kern_return_t exception_raise(mach_port_t port, mach_port_t thread, mach_port_t task,
                              exception_type_t exception, exception_data_t code,
                              mach_msg_type_number_t code_count) noexcept;
kern_return_t exception_raise_state(mach_port_t port, exception_type_t exception, exception_data_t code,
                                    mach_msg_type_number_t code_count, int* flavor, thread_state_t old_state,
                                    mach_msg_type_number_t old_state_count, thread_state_t new_state,
                                    mach_msg_type_number_t* new_state_count) noexcept;
kern_return_t exception_raise_state_identity(mach_port_t port, mach_port_t thread, mach_port_t task,
                                             exception_type_t exception, exception_data_t code,
                                             mach_msg_type_number_t code_count, int* flavor,
                                             thread_state_t old_state, mach_msg_type_number_t old_state_count,
                                             thread_state_t new_state,
                                             mach_msg_type_number_t* new_state_count) noexcept;
kern_return_t mach_exception_raise(mach_port_t port, mach_port_t thread, mach_port_t task,
                                   exception_type_t exception, mach_exception_data_t code,
                                   mach_msg_type_number_t code_count) noexcept;
kern_return_t mach_exception_raise_state(mach_port_t port, exception_type_t exception,
                                         mach_exception_data_t code, mach_msg_type_number_t code_count,
                                         int* flavor, thread_state_t old_state,
                                         mach_msg_type_number_t old_state_count, thread_state_t new_state,
                                         mach_msg_type_number_t* new_state_count) noexcept;
kern_return_t mach_exception_raise_state_identity(mach_port_t port, mach_port_t thread, mach_port_t task,
                                                  exception_type_t exception, mach_exception_data_t code,
                                                  mach_msg_type_number_t code_count, int* flavor,
                                                  thread_state_t old_state,
                                                  mach_msg_type_number_t old_state_count,
                                                  thread_state_t new_state,
                                                  mach_msg_type_number_t* new_state_count) noexcept;
