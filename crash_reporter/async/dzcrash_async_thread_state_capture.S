// dzcrash_async_thread_state_capture_current(callback, context): records the caller's registers in a
// machine context on this frame's stack and hands it to dzcrash_async_thread_state_capture_finish,
// which calls back while this frame (and so the caller's chain) is still live. Offsets are those of
// the gregs array of Linux's mcontext_t, checked against <sys/ucontext.h> in the C++ source.
#if defined(__x86_64__)

#define REG_R8 0
#define REG_R9 8
#define REG_R10 16
#define REG_R11 24
#define REG_R12 32
#define REG_R13 40
#define REG_R14 48
#define REG_R15 56
#define REG_RDI 64
#define REG_RSI 72
#define REG_RBP 80
#define REG_RBX 88
#define REG_RDX 96
#define REG_RAX 104
#define REG_RCX 112
#define REG_RSP 120
#define REG_RIP 128
#define REG_EFL 136
#define REG_CSGSFS 144
// The context (256 bytes) sits below the saved flags; together with the saved frame pointer that
// keeps the stack 16-byte aligned at the call.
#define CONTEXT_BELOW_FLAGS 264

    .text
    .globl dzcrash_async_thread_state_capture_current
    .type dzcrash_async_thread_state_capture_current, @function
    .p2align 4
dzcrash_async_thread_state_capture_current:
    .cfi_startproc
#if defined(__CET__)
    endbr64
#endif
    pushq %rbp
    .cfi_def_cfa_offset 16
    .cfi_offset %rbp, -16
    movq %rsp, %rbp
    .cfi_def_cfa_register %rbp
    // Before any arithmetic, so the flags are the caller's.
    pushfq
    leaq -CONTEXT_BELOW_FLAGS(%rsp), %rsp

    movq %rax, REG_RAX(%rsp)
    movq %rbx, REG_RBX(%rsp)
    movq %rcx, REG_RCX(%rsp)
    movq %rdx, REG_RDX(%rsp)
    movq %rdi, REG_RDI(%rsp)
    movq %rsi, REG_RSI(%rsp)
    movq %r8, REG_R8(%rsp)
    movq %r9, REG_R9(%rsp)
    movq %r10, REG_R10(%rsp)
    movq %r11, REG_R11(%rsp)
    movq %r12, REG_R12(%rsp)
    movq %r13, REG_R13(%rsp)
    movq %r14, REG_R14(%rsp)
    movq %r15, REG_R15(%rsp)

    // The caller's frame pointer, as saved by the push above.
    movq (%rbp), %rax
    movq %rax, REG_RBP(%rsp)
    // This frame's address stands for the stack pointer: the caller's frames lie above it.
    movq %rbp, REG_RSP(%rsp)
    // The return address: the first frame is the point of the call in the caller.
    movq 8(%rbp), %rax
    movq %rax, REG_RIP(%rsp)
    movq -8(%rbp), %rax
    movq %rax, REG_EFL(%rsp)

    // Segment selectors packed as the kernel packs them: cs, gs, fs, 16 bits each.
    xorl %eax, %eax
    movw %fs, %ax
    shlq $16, %rax
    movw %gs, %ax
    shlq $16, %rax
    movw %cs, %ax
    movq %rax, REG_CSGSFS(%rsp)

    // callback and context are still in rdi and rsi.
    movq %rsp, %rdx
    call dzcrash_async_thread_state_capture_finish@PLT

    leave
    .cfi_def_cfa %rsp, 8
    ret
    .cfi_endproc
    .size dzcrash_async_thread_state_capture_current, .-dzcrash_async_thread_state_capture_current

#endif

    .section .note.GNU-stack, "", @progbits
