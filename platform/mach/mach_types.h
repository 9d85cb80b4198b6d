#pragma once
// The kernel's result codes and name types, with the platform's values, so that code written
// against them reads the same here. Every port name below belongs to the own task: no other task
// exists for the stand-in.
#include <cstdint>

using kern_return_t = int;
using mach_port_t = uint32_t;
using mach_port_name_t = uint32_t;
using task_t = mach_port_t;
using thread_t = mach_port_t;
using mach_port_right_t = uint32_t;
using mach_port_delta_t = int32_t;
using mach_port_urefs_t = uint32_t;

using vm_address_t = uintptr_t;
using vm_size_t = uintptr_t;
using mach_vm_address_t = uint64_t;
using mach_vm_size_t = uint64_t;

inline constexpr mach_port_t MACH_PORT_NULL = 0;
inline constexpr mach_port_t MACH_PORT_DEAD = ~mach_port_t{0};
// Neither null nor dead: a name that may denote a right.
constexpr bool MACH_PORT_VALID(mach_port_name_t name) {
    return name != MACH_PORT_NULL && name != MACH_PORT_DEAD;
}

inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t KERN_INVALID_ADDRESS = 1;
inline constexpr kern_return_t KERN_PROTECTION_FAILURE = 2;
inline constexpr kern_return_t KERN_NO_SPACE = 3;
inline constexpr kern_return_t KERN_INVALID_ARGUMENT = 4;
inline constexpr kern_return_t KERN_FAILURE = 5;
inline constexpr kern_return_t KERN_RESOURCE_SHORTAGE = 6;
inline constexpr kern_return_t KERN_INVALID_NAME = 15;
inline constexpr kern_return_t KERN_INVALID_TASK = 16;
inline constexpr kern_return_t KERN_INVALID_RIGHT = 17;
inline constexpr kern_return_t KERN_INVALID_VALUE = 18;
inline constexpr kern_return_t KERN_UREFS_OVERFLOW = 19;
inline constexpr kern_return_t KERN_OPERATION_TIMED_OUT = 49;

inline constexpr mach_port_right_t MACH_PORT_RIGHT_SEND = 0;
inline constexpr mach_port_right_t MACH_PORT_RIGHT_RECEIVE = 1;
inline constexpr mach_port_right_t MACH_PORT_RIGHT_SEND_ONCE = 2;
inline constexpr mach_port_right_t MACH_PORT_RIGHT_PORT_SET = 3;
inline constexpr mach_port_right_t MACH_PORT_RIGHT_DEAD_NAME = 4;
