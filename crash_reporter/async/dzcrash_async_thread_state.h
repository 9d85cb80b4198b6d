#pragma once
// The register set of one thread, in the 64-bit x86 layout or the 32-bit one, with a bitmap of the
// registers whose values are known; filled from a suspended thread, from a signal's machine context
// or from the calling thread. Copied by value. Every function here is async-signal-safe.
#include <sys/ucontext.h>

#include <cstddef>
#include <cstdint>

#include "crash_reporter/async/dzcrash_error.h"
#include "platform/mach/mach_types.h"
#include "platform/mach/machine.h"
#include "platform/mach/thread_status.h"

// Register numbers of both layouts share the first three.
using dzcrash_regnum_t = uint32_t;
enum : dzcrash_regnum_t {
    DZCRASH_REG_IP = 0,
    DZCRASH_REG_FP = 1,
    DZCRASH_REG_SP = 2,
};

enum : dzcrash_regnum_t {
    DZCRASH_X86_64_RIP = DZCRASH_REG_IP,
    DZCRASH_X86_64_RBP = DZCRASH_REG_FP,
    DZCRASH_X86_64_RSP = DZCRASH_REG_SP,
    DZCRASH_X86_64_RAX,
    DZCRASH_X86_64_RBX,
    DZCRASH_X86_64_RCX,
    DZCRASH_X86_64_RDX,
    DZCRASH_X86_64_RDI,
    DZCRASH_X86_64_RSI,
    DZCRASH_X86_64_R8,
    DZCRASH_X86_64_R9,
    DZCRASH_X86_64_R10,
    DZCRASH_X86_64_R11,
    DZCRASH_X86_64_R12,
    DZCRASH_X86_64_R13,
    DZCRASH_X86_64_R14,
    DZCRASH_X86_64_R15,
    DZCRASH_X86_64_RFLAGS,
    DZCRASH_X86_64_CS,
    DZCRASH_X86_64_FS,
    DZCRASH_X86_64_GS,
    DZCRASH_X86_64_REG_COUNT,
};

enum : dzcrash_regnum_t {
    DZCRASH_X86_EIP = DZCRASH_REG_IP,
    DZCRASH_X86_EBP = DZCRASH_REG_FP,
    DZCRASH_X86_ESP = DZCRASH_REG_SP,
    DZCRASH_X86_EAX,
    DZCRASH_X86_EDX,
    DZCRASH_X86_ECX,
    DZCRASH_X86_EBX,
    DZCRASH_X86_ESI,
    DZCRASH_X86_EDI,
    DZCRASH_X86_EFLAGS,
    DZCRASH_X86_TRAPNO,
    DZCRASH_X86_CS,
    DZCRASH_X86_DS,
    DZCRASH_X86_ES,
    DZCRASH_X86_FS,
    DZCRASH_X86_GS,
    DZCRASH_X86_REG_COUNT,
};

enum dzcrash_async_thread_stack_direction_t : uint32_t {
    DZCRASH_ASYNC_THREAD_STACK_DIRECTION_UP = 1,
    DZCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN = 2,
};

// The thread-state header's flavour tells the layout: x86_THREAD_STATE32 is the 32-bit one, anything
// else the 64-bit one.
struct dzcrash_async_thread_state {
    dzcrash_async_thread_stack_direction_t stack_direction;
    size_t greg_size;
    uint64_t valid_regs;
    x86_thread_state_t thread_state;
    x86_exception_state_t exception_state;
};

// Clears the record and sets the headers and register size of CPU_TYPE_X86 or CPU_TYPE_X86_64; any
// other type is DZCRASH_ENOTSUP.
dzcrash_error_t dzcrash_async_thread_state_init(dzcrash_async_thread_state* state,
                                                cpu_type_t cpu_type) noexcept;
// The 64-bit registers and exception state of a signal handler's machine context, all marked valid.
void dzcrash_async_thread_state_from_mcontext(dzcrash_async_thread_state* state,
                                              const mcontext_t* context) noexcept;
// The registers of a thread of the own task, all marked valid; DZCRASH_EINTERNAL when the kernel
// cannot tell them (as for a thread that does not answer a suspension).
dzcrash_error_t dzcrash_async_thread_state_from_thread(dzcrash_async_thread_state* state,
                                                       thread_t thread) noexcept;

// Calls `callback` with the calling thread's registers as at the call of
// dzcrash_async_thread_state_capture_current: the instruction pointer is the return address into
// the caller and the frame pointer the caller's, so a walk starts in the caller. The capture's own
// frames stay live while the callback runs. Answers the callback's result. x86-64 only.
using dzcrash_async_thread_state_capture_callback_t = dzcrash_error_t (*)(dzcrash_async_thread_state* state,
                                                                          void* context);
extern "C" dzcrash_error_t dzcrash_async_thread_state_capture_current(
    dzcrash_async_thread_state_capture_callback_t callback, void* context) noexcept;

void dzcrash_async_thread_state_copy(dzcrash_async_thread_state* destination,
                                     const dzcrash_async_thread_state* source) noexcept;

// 21 in the 64-bit layout, 16 in the 32-bit one. Register numbers handed to the calls below stay
// under this count; callers pass the fixed numbers, numbers from the DWARF map, or smaller ones.
size_t dzcrash_async_thread_state_get_reg_count(const dzcrash_async_thread_state* state) noexcept;
const char* dzcrash_async_thread_state_get_reg_name(const dzcrash_async_thread_state* state,
                                                    dzcrash_regnum_t reg) noexcept;
bool dzcrash_async_thread_state_has_reg(const dzcrash_async_thread_state* state,
                                        dzcrash_regnum_t reg) noexcept;
// A 32-bit register reads zero-extended and is written truncated.
uint64_t dzcrash_async_thread_state_get_reg(const dzcrash_async_thread_state* state,
                                            dzcrash_regnum_t reg) noexcept;
// Also marks the register valid.
void dzcrash_async_thread_state_set_reg(dzcrash_async_thread_state* state, dzcrash_regnum_t reg,
                                        uint64_t value) noexcept;
void dzcrash_async_thread_state_clear_reg(dzcrash_async_thread_state* state, dzcrash_regnum_t reg) noexcept;
void dzcrash_async_thread_state_clear_all_regs(dzcrash_async_thread_state* state) noexcept;
// Forgets every register a callee may overwrite, as an unwinder must for the frame of a caller.
void dzcrash_async_thread_state_clear_volatile_regs(dzcrash_async_thread_state* state) noexcept;
dzcrash_async_thread_stack_direction_t dzcrash_async_thread_state_get_stack_direction(
    const dzcrash_async_thread_state* state) noexcept;
size_t dzcrash_async_thread_state_get_greg_size(const dzcrash_async_thread_state* state) noexcept;

// Between DWARF register numbers and ours; false when the layout has no such register.
bool dzcrash_async_thread_state_map_dwarf_to_reg(const dzcrash_async_thread_state* state, uint64_t dwarf_reg,
                                                 dzcrash_regnum_t* reg) noexcept;
bool dzcrash_async_thread_state_map_reg_to_dwarf(const dzcrash_async_thread_state* state,
                                                 dzcrash_regnum_t reg, uint64_t* dwarf_reg) noexcept;
