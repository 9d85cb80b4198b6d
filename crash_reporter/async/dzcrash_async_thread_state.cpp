#include "crash_reporter/async/dzcrash_async_thread_state.h"

#include <cstddef>

#include "crash_reporter/async/dzcrash_async.h"
#include "platform/mach/thread_act.h"

namespace {

constexpr int64_t kNoDwarf = -1;

struct RegisterInfo {
    const char* name;
    int64_t dwarf;
    bool preserved;
};

constexpr RegisterInfo kRegisters64[DZCRASH_X86_64_REG_COUNT] = {
    {"rip", kNoDwarf, false}, {"rbp", 6, true},   {"rsp", 7, true},      {"rax", 0, false}, {"rbx", 3, true},
    {"rcx", 2, false},        {"rdx", 1, false},  {"rdi", 5, false},     {"rsi", 4, false}, {"r8", 8, false},
    {"r9", 9, false},         {"r10", 10, false}, {"r11", 11, false},    {"r12", 12, true}, {"r13", 13, true},
    {"r14", 14, true},        {"r15", 15, true},  {"rflags", 49, false}, {"cs", 51, false}, {"fs", 54, false},
    {"gs", 55, false},
};

constexpr RegisterInfo kRegisters32[DZCRASH_X86_REG_COUNT] = {
    {"eip", 8, false},
    {"ebp", 4, true},
    {"esp", 5, true},
    {"eax", 0, false},
    {"edx", 2, false},
    {"ecx", 1, false},
    {"ebx", 3, true},
    {"esi", 6, true},
    {"edi", 7, true},
    {"eflags", kNoDwarf, false},
    {"trapno", kNoDwarf, false},
    {"cs", kNoDwarf, false},
    {"ds", kNoDwarf, false},
    {"es", kNoDwarf, false},
    {"fs", kNoDwarf, false},
    {"gs", kNoDwarf, false},
};

constexpr uint64_t x86_thread_state64_t::*kFields64[DZCRASH_X86_64_REG_COUNT] = {
    &x86_thread_state64_t::rip, &x86_thread_state64_t::rbp, &x86_thread_state64_t::rsp,
    &x86_thread_state64_t::rax, &x86_thread_state64_t::rbx, &x86_thread_state64_t::rcx,
    &x86_thread_state64_t::rdx, &x86_thread_state64_t::rdi, &x86_thread_state64_t::rsi,
    &x86_thread_state64_t::r8,  &x86_thread_state64_t::r9,  &x86_thread_state64_t::r10,
    &x86_thread_state64_t::r11, &x86_thread_state64_t::r12, &x86_thread_state64_t::r13,
    &x86_thread_state64_t::r14, &x86_thread_state64_t::r15, &x86_thread_state64_t::rflags,
    &x86_thread_state64_t::cs,  &x86_thread_state64_t::fs,  &x86_thread_state64_t::gs,
};

// The trap number is no general register: it lives in the exception state (no field here).
constexpr uint32_t x86_thread_state32_t::*kFields32[DZCRASH_X86_REG_COUNT] = {
    &x86_thread_state32_t::eip,
    &x86_thread_state32_t::ebp,
    &x86_thread_state32_t::esp,
    &x86_thread_state32_t::eax,
    &x86_thread_state32_t::edx,
    &x86_thread_state32_t::ecx,
    &x86_thread_state32_t::ebx,
    &x86_thread_state32_t::esi,
    &x86_thread_state32_t::edi,
    &x86_thread_state32_t::eflags,
    nullptr,
    &x86_thread_state32_t::cs,
    &x86_thread_state32_t::ds,
    &x86_thread_state32_t::es,
    &x86_thread_state32_t::fs,
    &x86_thread_state32_t::gs,
};

bool is32Bit(const dzcrash_async_thread_state* state) {
    return state->thread_state.tsh.flavor == x86_THREAD_STATE32;
}

const RegisterInfo* registers(const dzcrash_async_thread_state* state, size_t* count) {
    *count = dzcrash_async_thread_state_get_reg_count(state);
    return is32Bit(state) ? kRegisters32 : kRegisters64;
}

uint64_t bit(dzcrash_regnum_t reg) {
    return reg < 64 ? uint64_t{1} << reg : 0;
}

void setHeaders64(dzcrash_async_thread_state* state) {
    state->thread_state.tsh = {x86_THREAD_STATE64, static_cast<int>(x86_THREAD_STATE64_COUNT)};
    state->exception_state.esh = {x86_EXCEPTION_STATE64, static_cast<int>(x86_EXCEPTION_STATE64_COUNT)};
    state->greg_size = 8;
    state->stack_direction = DZCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN;
}

}  // namespace

// The capture stub fills a Linux machine context by hand; these are the offsets it writes at.
static_assert(offsetof(mcontext_t, gregs) == 0 && sizeof(greg_t) == 8);
static_assert(REG_R8 == 0 && REG_R15 == 7 && REG_RDI == 8 && REG_RSI == 9 && REG_RBP == 10 && REG_RBX == 11 &&
              REG_RDX == 12 && REG_RAX == 13 && REG_RCX == 14 && REG_RSP == 15 && REG_RIP == 16 &&
              REG_EFL == 17 && REG_CSGSFS == 18);
static_assert(sizeof(mcontext_t) == 256, "the stub reserves 256 bytes for the context");

// Called by the stub with the context it filled on its stack.
extern "C" dzcrash_error_t dzcrash_async_thread_state_capture_finish(
    dzcrash_async_thread_state_capture_callback_t callback, void* context, mcontext_t* machine) noexcept {
    // No fault and no floating-point state belong to a capture; the stub left those words unset.
    machine->gregs[REG_ERR] = 0;
    machine->gregs[REG_TRAPNO] = 0;
    machine->gregs[REG_OLDMASK] = 0;
    machine->gregs[REG_CR2] = 0;
    machine->fpregs = nullptr;
    dzcrash_fill_bytes(machine->__reserved1, 0, sizeof machine->__reserved1);
    dzcrash_async_thread_state state;
    dzcrash_async_thread_state_from_mcontext(&state, machine);
    return callback(&state, context);
}

dzcrash_error_t dzcrash_async_thread_state_init(dzcrash_async_thread_state* state,
                                                cpu_type_t cpu_type) noexcept {
    dzcrash_fill_bytes(state, 0, sizeof *state);
    switch (cpu_type) {
        case CPU_TYPE_X86:
            state->thread_state.tsh = {x86_THREAD_STATE32, static_cast<int>(x86_THREAD_STATE32_COUNT)};
            state->exception_state.esh = {x86_EXCEPTION_STATE32,
                                          static_cast<int>(x86_EXCEPTION_STATE32_COUNT)};
            state->greg_size = 4;
            state->stack_direction = DZCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN;
            return DZCRASH_ESUCCESS;
        case CPU_TYPE_X86_64:
            setHeaders64(state);
            return DZCRASH_ESUCCESS;
        default:
            return DZCRASH_ENOTSUP;
    }
}

void dzcrash_async_thread_state_from_mcontext(dzcrash_async_thread_state* state,
                                              const mcontext_t* context) noexcept {
    dzcrash_fill_bytes(state, 0, sizeof *state);
    setHeaders64(state);
    x86_thread_state64_from_mcontext(*context, &state->thread_state.uts.ts64);
    x86_exception_state64_from_mcontext(*context, &state->exception_state.ues.es64);
    state->valid_regs = ~uint64_t{0};
}

dzcrash_error_t dzcrash_async_thread_state_from_thread(dzcrash_async_thread_state* state,
                                                       thread_t thread) noexcept {
    dzcrash_fill_bytes(state, 0, sizeof *state);
    mach_msg_type_number_t count = x86_THREAD_STATE_COUNT;
    if (thread_get_state(thread, x86_THREAD_STATE, reinterpret_cast<thread_state_t>(&state->thread_state),
                         &count) != KERN_SUCCESS) {
        return DZCRASH_EINTERNAL;
    }
    count = x86_EXCEPTION_STATE_COUNT;
    if (thread_get_state(thread, x86_EXCEPTION_STATE,
                         reinterpret_cast<thread_state_t>(&state->exception_state), &count) != KERN_SUCCESS) {
        return DZCRASH_EINTERNAL;
    }
    state->stack_direction = DZCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN;
    state->greg_size = state->thread_state.tsh.flavor == x86_THREAD_STATE64 ? 8 : 4;
    state->valid_regs = ~uint64_t{0};
    return DZCRASH_ESUCCESS;
}

void dzcrash_async_thread_state_copy(dzcrash_async_thread_state* destination,
                                     const dzcrash_async_thread_state* source) noexcept {
    dzcrash_copy_bytes(destination, source, sizeof *destination);
}

size_t dzcrash_async_thread_state_get_reg_count(const dzcrash_async_thread_state* state) noexcept {
    return is32Bit(state) ? size_t{DZCRASH_X86_REG_COUNT} : size_t{DZCRASH_X86_64_REG_COUNT};
}

const char* dzcrash_async_thread_state_get_reg_name(const dzcrash_async_thread_state* state,
                                                    dzcrash_regnum_t reg) noexcept {
    size_t count;
    const RegisterInfo* table = registers(state, &count);
    return reg < count ? table[reg].name : nullptr;
}

bool dzcrash_async_thread_state_has_reg(const dzcrash_async_thread_state* state,
                                        dzcrash_regnum_t reg) noexcept {
    return (state->valid_regs & bit(reg)) != 0;
}

uint64_t dzcrash_async_thread_state_get_reg(const dzcrash_async_thread_state* state,
                                            dzcrash_regnum_t reg) noexcept {
    if (reg >= dzcrash_async_thread_state_get_reg_count(state)) return 0;
    if (!is32Bit(state)) return state->thread_state.uts.ts64.*kFields64[reg];
    if (reg == DZCRASH_X86_TRAPNO) return state->exception_state.ues.es32.trapno;
    return state->thread_state.uts.ts32.*kFields32[reg];
}

void dzcrash_async_thread_state_set_reg(dzcrash_async_thread_state* state, dzcrash_regnum_t reg,
                                        uint64_t value) noexcept {
    if (reg >= dzcrash_async_thread_state_get_reg_count(state)) return;
    if (!is32Bit(state)) {
        state->thread_state.uts.ts64.*kFields64[reg] = value;
    } else if (reg == DZCRASH_X86_TRAPNO) {
        state->exception_state.ues.es32.trapno = static_cast<uint16_t>(value);
    } else {
        state->thread_state.uts.ts32.*kFields32[reg] = static_cast<uint32_t>(value);
    }
    state->valid_regs |= bit(reg);
}

void dzcrash_async_thread_state_clear_reg(dzcrash_async_thread_state* state, dzcrash_regnum_t reg) noexcept {
    state->valid_regs &= ~bit(reg);
}

void dzcrash_async_thread_state_clear_all_regs(dzcrash_async_thread_state* state) noexcept {
    state->valid_regs = 0;
}

void dzcrash_async_thread_state_clear_volatile_regs(dzcrash_async_thread_state* state) noexcept {
    size_t count;
    const RegisterInfo* table = registers(state, &count);
    for (dzcrash_regnum_t reg = 0; reg < count; ++reg) {
        if (!table[reg].preserved) dzcrash_async_thread_state_clear_reg(state, reg);
    }
}

dzcrash_async_thread_stack_direction_t dzcrash_async_thread_state_get_stack_direction(
    const dzcrash_async_thread_state* state) noexcept {
    return state->stack_direction;
}

size_t dzcrash_async_thread_state_get_greg_size(const dzcrash_async_thread_state* state) noexcept {
    return state->greg_size;
}

bool dzcrash_async_thread_state_map_dwarf_to_reg(const dzcrash_async_thread_state* state, uint64_t dwarf_reg,
                                                 dzcrash_regnum_t* reg) noexcept {
    size_t count;
    const RegisterInfo* table = registers(state, &count);
    for (dzcrash_regnum_t candidate = 0; candidate < count; ++candidate) {
        if (table[candidate].dwarf != kNoDwarf &&
            static_cast<uint64_t>(table[candidate].dwarf) == dwarf_reg) {
            *reg = candidate;
            return true;
        }
    }
    return false;
}

bool dzcrash_async_thread_state_map_reg_to_dwarf(const dzcrash_async_thread_state* state,
                                                 dzcrash_regnum_t reg, uint64_t* dwarf_reg) noexcept {
    size_t count;
    const RegisterInfo* table = registers(state, &count);
    if (reg >= count || table[reg].dwarf == kNoDwarf) return false;
    *dwarf_reg = static_cast<uint64_t>(table[reg].dwarf);
    return true;
}
