#include "platform/mach/thread_status.h"

#if defined(__x86_64__)

void x86_thread_state64_from_mcontext(const mcontext_t& context, x86_thread_state64_t* state) noexcept {
    const greg_t* r = context.gregs;
    state->rax = r[REG_RAX];
    state->rbx = r[REG_RBX];
    state->rcx = r[REG_RCX];
    state->rdx = r[REG_RDX];
    state->rdi = r[REG_RDI];
    state->rsi = r[REG_RSI];
    state->rbp = r[REG_RBP];
    state->rsp = r[REG_RSP];
    state->r8 = r[REG_R8];
    state->r9 = r[REG_R9];
    state->r10 = r[REG_R10];
    state->r11 = r[REG_R11];
    state->r12 = r[REG_R12];
    state->r13 = r[REG_R13];
    state->r14 = r[REG_R14];
    state->r15 = r[REG_R15];
    state->rip = r[REG_RIP];
    state->rflags = r[REG_EFL];
    // The kernel packs the selectors as cs, gs, fs (and ss on newer kernels), 16 bits each.
    const uint64_t segments = static_cast<uint64_t>(r[REG_CSGSFS]);
    state->cs = segments & 0xffff;
    state->gs = (segments >> 16) & 0xffff;
    state->fs = (segments >> 32) & 0xffff;
}

void x86_exception_state64_from_mcontext(const mcontext_t& context, x86_exception_state64_t* state) noexcept {
    state->trapno = static_cast<uint16_t>(context.gregs[REG_TRAPNO]);
    state->cpu = 0;
    state->err = static_cast<uint32_t>(context.gregs[REG_ERR]);
    state->faultvaddr = static_cast<uint64_t>(context.gregs[REG_CR2]);
}

#endif
