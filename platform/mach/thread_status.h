#pragma once
// The x86 thread and exception state records with the platform's layouts, flavours and word counts,
// and their filling from the machine context that Linux hands a signal handler. The records are
// plain data; the conversions are async-signal-safe.
#include <sys/ucontext.h>

#include <cstdint>

using natural_t = uint32_t;
using mach_msg_type_number_t = natural_t;
using thread_state_flavor_t = int;
using thread_state_t = natural_t*;

inline constexpr thread_state_flavor_t x86_THREAD_STATE32 = 1;
inline constexpr thread_state_flavor_t x86_EXCEPTION_STATE32 = 3;
inline constexpr thread_state_flavor_t x86_THREAD_STATE64 = 4;
inline constexpr thread_state_flavor_t x86_EXCEPTION_STATE64 = 6;
// The combined forms: a flavour and count header followed by the 32-bit or the 64-bit record.
inline constexpr thread_state_flavor_t x86_THREAD_STATE = 7;
inline constexpr thread_state_flavor_t x86_EXCEPTION_STATE = 9;

struct x86_thread_state32_t {
    uint32_t eax, ebx, ecx, edx, edi, esi, ebp, esp, ss, eflags, eip, cs, ds, es, fs, gs;
};

struct x86_thread_state64_t {
    uint64_t rax, rbx, rcx, rdx, rdi, rsi, rbp, rsp;
    uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    uint64_t rip, rflags, cs, fs, gs;
};

struct x86_exception_state32_t {
    uint16_t trapno;
    uint16_t cpu;
    uint32_t err;
    uint32_t faultvaddr;
};

struct x86_exception_state64_t {
    uint16_t trapno;
    uint16_t cpu;
    uint32_t err;
    uint64_t faultvaddr;
};

struct x86_state_hdr_t {
    int flavor;
    int count;
};

struct x86_thread_state_t {
    x86_state_hdr_t tsh;
    union {
        x86_thread_state32_t ts32;
        x86_thread_state64_t ts64;
    } uts;
};

struct x86_exception_state_t {
    x86_state_hdr_t esh;
    union {
        x86_exception_state32_t es32;
        x86_exception_state64_t es64;
    } ues;
};

inline constexpr mach_msg_type_number_t x86_THREAD_STATE32_COUNT = sizeof(x86_thread_state32_t) / 4;
inline constexpr mach_msg_type_number_t x86_THREAD_STATE64_COUNT = sizeof(x86_thread_state64_t) / 4;
inline constexpr mach_msg_type_number_t x86_EXCEPTION_STATE32_COUNT = sizeof(x86_exception_state32_t) / 4;
inline constexpr mach_msg_type_number_t x86_EXCEPTION_STATE64_COUNT = sizeof(x86_exception_state64_t) / 4;
inline constexpr mach_msg_type_number_t x86_THREAD_STATE_COUNT = sizeof(x86_thread_state_t) / 4;
inline constexpr mach_msg_type_number_t x86_EXCEPTION_STATE_COUNT = sizeof(x86_exception_state_t) / 4;

static_assert(x86_THREAD_STATE32_COUNT == 16 && x86_THREAD_STATE64_COUNT == 42);
static_assert(x86_EXCEPTION_STATE32_COUNT == 3 && x86_EXCEPTION_STATE64_COUNT == 4);
static_assert(x86_THREAD_STATE_COUNT == 44 && x86_EXCEPTION_STATE_COUNT == 6);

#if defined(__x86_64__)
// The general registers of a signal's machine context; cs, gs and fs come out of its packed
// segment word.
void x86_thread_state64_from_mcontext(const mcontext_t& context, x86_thread_state64_t* state) noexcept;
// The trap number, error code and fault address of that context. The processor number is not
// recorded there and stays 0.
void x86_exception_state64_from_mcontext(const mcontext_t& context, x86_exception_state64_t* state) noexcept;
#endif
