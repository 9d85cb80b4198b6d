#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <string>
#include <vector>

#include "crash_reporter/async/dzcrash_async_thread_state.h"
#include "crash_reporter/async/dzcrash_frame_cursor.h"
#include "crash_reporter/async/dzcrash_frame_readers.h"
#include "platform/mach/mach_port.h"

namespace {

constexpr int64_t kNone = -1;

struct RegisterRow {
    const char* name;
    int64_t dwarf;
    bool preserved;
};

// The register tables as the report format and the DWARF reader expect them.
const std::vector<RegisterRow> kRegisters64 = {
    {"rip", kNone, false}, {"rbp", 6, true},   {"rsp", 7, true},      {"rax", 0, false}, {"rbx", 3, true},
    {"rcx", 2, false},     {"rdx", 1, false},  {"rdi", 5, false},     {"rsi", 4, false}, {"r8", 8, false},
    {"r9", 9, false},      {"r10", 10, false}, {"r11", 11, false},    {"r12", 12, true}, {"r13", 13, true},
    {"r14", 14, true},     {"r15", 15, true},  {"rflags", 49, false}, {"cs", 51, false}, {"fs", 54, false},
    {"gs", 55, false},
};

const std::vector<RegisterRow> kRegisters32 = {
    {"eip", 8, false},    {"ebp", 4, true},         {"esp", 5, true},         {"eax", 0, false},
    {"edx", 2, false},    {"ecx", 1, false},        {"ebx", 3, true},         {"esi", 6, true},
    {"edi", 7, true},     {"eflags", kNone, false}, {"trapno", kNone, false}, {"cs", kNone, false},
    {"ds", kNone, false}, {"es", kNone, false},     {"fs", kNone, false},     {"gs", kNone, false},
};

dzcrash_async_thread_state stateFor(cpu_type_t cpu) {
    dzcrash_async_thread_state state;
    EXPECT_EQ(dzcrash_async_thread_state_init(&state, cpu), DZCRASH_ESUCCESS);
    return state;
}

}  // namespace

TEST(ThreadState, InitSetsTheLayoutOfEachX86TypeAndRefusesOthers) {
    struct Case {
        cpu_type_t cpu;
        int threadFlavor, threadCount, exceptionFlavor, exceptionCount;
        size_t gregSize, regCount;
    };
    for (const Case& c :
         {Case{CPU_TYPE_X86, 1, 16, 3, 3, 4, 16}, Case{CPU_TYPE_X86_64, 4, 42, 6, 4, 8, 21}}) {
        SCOPED_TRACE(c.cpu);
        dzcrash_async_thread_state state;
        std::memset(&state, 0xA5, sizeof state);
        ASSERT_EQ(dzcrash_async_thread_state_init(&state, c.cpu), DZCRASH_ESUCCESS);
        EXPECT_EQ(state.thread_state.tsh.flavor, c.threadFlavor);
        EXPECT_EQ(state.thread_state.tsh.count, c.threadCount);
        EXPECT_EQ(state.exception_state.esh.flavor, c.exceptionFlavor);
        EXPECT_EQ(state.exception_state.esh.count, c.exceptionCount);
        EXPECT_EQ(dzcrash_async_thread_state_get_greg_size(&state), c.gregSize);
        EXPECT_EQ(dzcrash_async_thread_state_get_reg_count(&state), c.regCount);
        EXPECT_EQ(dzcrash_async_thread_state_get_stack_direction(&state),
                  DZCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN);
        EXPECT_EQ(state.valid_regs, 0u);
        EXPECT_EQ(dzcrash_async_thread_state_get_reg(&state, DZCRASH_REG_IP), 0u)
            << "registers left uncleared";
    }
    dzcrash_async_thread_state state;
    EXPECT_EQ(dzcrash_async_thread_state_init(&state, CPU_TYPE_ARM), DZCRASH_ENOTSUP);
    EXPECT_EQ(dzcrash_async_thread_state_init(&state, CPU_TYPE_ARM64), DZCRASH_ENOTSUP);
}

TEST(ThreadState, NamesDwarfNumbersAndPreservedRegistersFollowTheTablesOfBothLayouts) {
    for (const auto& [cpu, table] :
         {std::pair{CPU_TYPE_X86_64, &kRegisters64}, std::pair{CPU_TYPE_X86, &kRegisters32}}) {
        SCOPED_TRACE(cpu);
        dzcrash_async_thread_state state = stateFor(cpu);
        ASSERT_EQ(dzcrash_async_thread_state_get_reg_count(&state), table->size());
        for (dzcrash_regnum_t reg = 0; reg < table->size(); ++reg) {
            const RegisterRow& row = (*table)[reg];
            SCOPED_TRACE(row.name);
            EXPECT_STREQ(dzcrash_async_thread_state_get_reg_name(&state, reg), row.name);
            uint64_t dwarf = 999;
            EXPECT_EQ(dzcrash_async_thread_state_map_reg_to_dwarf(&state, reg, &dwarf), row.dwarf != kNone);
            if (row.dwarf == kNone) continue;
            EXPECT_EQ(dwarf, static_cast<uint64_t>(row.dwarf));
            dzcrash_regnum_t back = 999;
            EXPECT_TRUE(dzcrash_async_thread_state_map_dwarf_to_reg(&state, dwarf, &back));
            EXPECT_EQ(back, reg);
            dzcrash_async_thread_state_set_reg(&state, reg, 1);
        }

        // Valid registers that a callee may overwrite are forgotten; the preserved ones stay.
        for (dzcrash_regnum_t reg = 0; reg < table->size(); ++reg)
            dzcrash_async_thread_state_set_reg(&state, reg, reg);
        dzcrash_async_thread_state_clear_volatile_regs(&state);
        for (dzcrash_regnum_t reg = 0; reg < table->size(); ++reg) {
            EXPECT_EQ(dzcrash_async_thread_state_has_reg(&state, reg), (*table)[reg].preserved)
                << (*table)[reg].name;
        }
    }

    // DWARF numbers the layouts lack: the return-address column (16) and anything past the table.
    dzcrash_regnum_t reg = 999;
    dzcrash_async_thread_state state = stateFor(CPU_TYPE_X86_64);
    EXPECT_FALSE(dzcrash_async_thread_state_map_dwarf_to_reg(&state, 16, &reg));
    EXPECT_FALSE(dzcrash_async_thread_state_map_dwarf_to_reg(&state, 17, &reg));
    state = stateFor(CPU_TYPE_X86);
    EXPECT_FALSE(dzcrash_async_thread_state_map_dwarf_to_reg(&state, 9, &reg));
    EXPECT_EQ(reg, 999u);
}

TEST(ThreadState, RegistersAreSetReadAndClearedInTheirOwnWidthAndPlace) {
    dzcrash_async_thread_state state = stateFor(CPU_TYPE_X86_64);
    dzcrash_async_thread_state_set_reg(&state, DZCRASH_X86_64_R13, 0x1122334455667788);
    EXPECT_EQ(state.thread_state.uts.ts64.r13, 0x1122334455667788u);
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&state, DZCRASH_X86_64_R13), 0x1122334455667788u);
    EXPECT_EQ(state.valid_regs, uint64_t{1} << DZCRASH_X86_64_R13);
    dzcrash_async_thread_state_clear_reg(&state, DZCRASH_X86_64_R13);
    EXPECT_FALSE(dzcrash_async_thread_state_has_reg(&state, DZCRASH_X86_64_R13));

    // 32 bits wide, truncated on the way in; the trap number lives in the exception state.
    state = stateFor(CPU_TYPE_X86);
    dzcrash_async_thread_state_set_reg(&state, DZCRASH_X86_EBX, 0xFFFFFFFF80000001);
    EXPECT_EQ(state.thread_state.uts.ts32.ebx, 0x80000001u);
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&state, DZCRASH_X86_EBX), 0x80000001u);
    dzcrash_async_thread_state_set_reg(&state, DZCRASH_X86_TRAPNO, 0x1000E);
    EXPECT_EQ(state.exception_state.ues.es32.trapno, 0xEu);
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&state, DZCRASH_X86_TRAPNO), 0xEu);
    EXPECT_EQ(state.thread_state.uts.ts32.eflags, 0u);
    dzcrash_async_thread_state_clear_all_regs(&state);
    EXPECT_EQ(state.valid_regs, 0u);

    dzcrash_async_thread_state copy;
    dzcrash_async_thread_state_copy(&copy, &state);
    EXPECT_EQ(std::memcmp(&copy, &state, sizeof copy), 0);
}

namespace {

struct SignalCapture {
    mcontext_t context;
    dzcrash_async_thread_state state;
};
SignalCapture* signalCapture = nullptr;

void recordContext(int, siginfo_t*, void* context) {
    signalCapture->context = static_cast<ucontext_t*>(context)->uc_mcontext;
    dzcrash_async_thread_state_from_mcontext(&signalCapture->state,
                                             &static_cast<ucontext_t*>(context)->uc_mcontext);
}

}  // namespace

TEST(ThreadState, FromTheMachineContextOfARealSignalHoldsItsRegistersOneByOne) {
    SignalCapture capture;
    std::memset(&capture, 0, sizeof capture);
    signalCapture = &capture;
    struct sigaction action {
    }, previous{};
    action.sa_sigaction = recordContext;
    action.sa_flags = SA_SIGINFO;
    ASSERT_EQ(sigaction(SIGUSR2, &action, &previous), 0);
    raise(SIGUSR2);
    sigaction(SIGUSR2, &previous, nullptr);
    signalCapture = nullptr;

    const greg_t* g = capture.context.gregs;
    const dzcrash_async_thread_state& state = capture.state;
    EXPECT_EQ(state.valid_regs, ~uint64_t{0});
    EXPECT_EQ(dzcrash_async_thread_state_get_greg_size(&state), 8u);
    EXPECT_EQ(state.thread_state.tsh.flavor, x86_THREAD_STATE64);
    EXPECT_EQ(state.exception_state.esh.flavor, x86_EXCEPTION_STATE64);
    EXPECT_EQ(dzcrash_async_thread_state_get_stack_direction(&state),
              DZCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN);
    const std::pair<dzcrash_regnum_t, int> pairs[] = {
        {DZCRASH_X86_64_RIP, REG_RIP}, {DZCRASH_X86_64_RBP, REG_RBP}, {DZCRASH_X86_64_RSP, REG_RSP},
        {DZCRASH_X86_64_RAX, REG_RAX}, {DZCRASH_X86_64_RBX, REG_RBX}, {DZCRASH_X86_64_RCX, REG_RCX},
        {DZCRASH_X86_64_RDX, REG_RDX}, {DZCRASH_X86_64_RDI, REG_RDI}, {DZCRASH_X86_64_RSI, REG_RSI},
        {DZCRASH_X86_64_R8, REG_R8},   {DZCRASH_X86_64_R9, REG_R9},   {DZCRASH_X86_64_R10, REG_R10},
        {DZCRASH_X86_64_R11, REG_R11}, {DZCRASH_X86_64_R12, REG_R12}, {DZCRASH_X86_64_R13, REG_R13},
        {DZCRASH_X86_64_R14, REG_R14}, {DZCRASH_X86_64_R15, REG_R15}, {DZCRASH_X86_64_RFLAGS, REG_EFL},
    };
    for (const auto& [reg, greg] : pairs) {
        EXPECT_EQ(dzcrash_async_thread_state_get_reg(&state, reg), static_cast<uint64_t>(g[greg]))
            << dzcrash_async_thread_state_get_reg_name(&state, reg);
    }
    const uint64_t segments = static_cast<uint64_t>(g[REG_CSGSFS]);
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&state, DZCRASH_X86_64_CS), segments & 0xffff);
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&state, DZCRASH_X86_64_GS), (segments >> 16) & 0xffff);
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&state, DZCRASH_X86_64_FS), (segments >> 32) & 0xffff);
    EXPECT_NE(dzcrash_async_thread_state_get_reg(&state, DZCRASH_X86_64_CS), 0u) << "no code segment read";
    EXPECT_EQ(state.exception_state.ues.es64.trapno, static_cast<uint16_t>(g[REG_TRAPNO]));
    EXPECT_EQ(state.exception_state.ues.es64.err, static_cast<uint32_t>(g[REG_ERR]));
    EXPECT_EQ(state.exception_state.ues.es64.faultvaddr, static_cast<uint64_t>(g[REG_CR2]));
}

// The capture is taken in f, called from g, called from the test body; each records its frame
// address so the walk can be checked frame by frame. Exported (not static), so dladdr names them.
struct CaptureWalk {
    void* framesOf[3];  // f, g, the test body
    uint64_t rips[3];
    uint64_t fps[3];
    dzcrash_async_frame_error_t steps[3];
    uint64_t flags;
};

dzcrash_error_t walkFromCapture(dzcrash_async_thread_state* state, void* context) {
    auto* walk = static_cast<CaptureWalk*>(context);
    dzcrash_async_frame_cursor cursor;
    dzcrash_async_frame_cursor_init(&cursor, mach_task_self(), state, nullptr);
    for (int i = 0; i < 3; ++i) {
        walk->steps[i] = dzcrash_async_frame_cursor_next(&cursor);
        dzcrash_async_frame_cursor_get_reg(&cursor, DZCRASH_REG_IP, &walk->rips[i]);
        dzcrash_async_frame_cursor_get_reg(&cursor, DZCRASH_REG_FP, &walk->fps[i]);
    }
    walk->flags = dzcrash_async_thread_state_get_reg(state, DZCRASH_X86_64_RFLAGS);
    dzcrash_async_frame_cursor_free(&cursor);
    return DZCRASH_EACCESS;
}

[[gnu::noinline]] dzcrash_error_t captureInF(CaptureWalk* walk) {
    walk->framesOf[0] = __builtin_frame_address(0);
    const dzcrash_error_t result = dzcrash_async_thread_state_capture_current(walkFromCapture, walk);
    asm volatile("" ::: "memory");
    return result;
}

[[gnu::noinline]] dzcrash_error_t captureThroughG(CaptureWalk* walk) {
    walk->framesOf[1] = __builtin_frame_address(0);
    const dzcrash_error_t result = captureInF(walk);
    // Keeps the call from becoming a jump, which would leave g without a frame.
    asm volatile("" ::: "memory");
    return result;
}

namespace {

const void* functionAt(uint64_t returnAddress, std::string* name = nullptr) {
    Dl_info info{};
    // One byte back: the call instruction, in case the call is the function's last.
    if (dladdr(reinterpret_cast<void*>(returnAddress - 1), &info) == 0) return nullptr;
    if (name && info.dli_sname) *name = info.dli_sname;
    return info.dli_saddr;
}

}  // namespace

TEST(ThreadState, CaptureStartsInTheCallerAndItsFramePointersWalkBackToTheTestBody) {
    CaptureWalk walk{};
    walk.framesOf[2] = __builtin_frame_address(0);
    EXPECT_EQ(captureThroughG(&walk), DZCRASH_EACCESS) << "the callback's result is the capture's";
    for (dzcrash_async_frame_error_t step : walk.steps) EXPECT_EQ(step, DZCRASH_FRAME_ESUCCESS);

    EXPECT_EQ(functionAt(walk.rips[0]), reinterpret_cast<const void*>(&captureInF));
    EXPECT_EQ(walk.fps[0], reinterpret_cast<uint64_t>(walk.framesOf[0]));
    EXPECT_EQ(functionAt(walk.rips[1]), reinterpret_cast<const void*>(&captureThroughG));
    EXPECT_EQ(walk.fps[1], reinterpret_cast<uint64_t>(walk.framesOf[1]));
    std::string body;
    functionAt(walk.rips[2], &body);
    EXPECT_NE(body.find("CaptureStartsInTheCaller"), std::string::npos) << body;
    EXPECT_NE(body.find("TestBody"), std::string::npos) << body;
    EXPECT_EQ(walk.fps[2], reinterpret_cast<uint64_t>(walk.framesOf[2]));
    // Bit 1 of the flags is always set; a zero would mean they were never recorded.
    EXPECT_EQ(walk.flags & 2, 2u);
}

TEST(ThreadState, CaptureRecordsTheCalleePreservedRegistersAsTheyWereAtTheCall) {
    struct Seen {
        uint64_t rbx, r12, r15;
    } seen{};
    auto record = [](dzcrash_async_thread_state* state, void* context) {
        auto* out = static_cast<Seen*>(context);
        out->rbx = dzcrash_async_thread_state_get_reg(state, DZCRASH_X86_64_RBX);
        out->r12 = dzcrash_async_thread_state_get_reg(state, DZCRASH_X86_64_R12);
        out->r15 = dzcrash_async_thread_state_get_reg(state, DZCRASH_X86_64_R15);
        return DZCRASH_ESUCCESS;
    };
    dzcrash_async_thread_state_capture_callback_t callback = record;
    // The values sit in the registers at the call, as the asm statement pins them.
    register uint64_t rbx asm("rbx") = 0x0B0B0B0B0B0B0B0B;
    register uint64_t r12 asm("r12") = 0x1212121212121212;
    register uint64_t r15 asm("r15") = 0x1515151515151515;
    register uint64_t rdi asm("rdi") = reinterpret_cast<uint64_t>(callback);
    register uint64_t rsi asm("rsi") = reinterpret_cast<uint64_t>(&seen);
    // Past the red zone, which the compiler may use below the stack pointer; 128 keeps the alignment.
    asm volatile(
        "sub $128, %%rsp\n\t"
        "call dzcrash_async_thread_state_capture_current@PLT\n\t"
        "add $128, %%rsp"
        : "+r"(rdi), "+r"(rsi)
        : "r"(rbx), "r"(r12), "r"(r15)
        : "rax", "rcx", "rdx", "r8", "r9", "r10", "r11", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5",
          "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "memory",
          "cc");
    EXPECT_EQ(seen.rbx, 0x0B0B0B0B0B0B0B0Bu);
    EXPECT_EQ(seen.r12, 0x1212121212121212u);
    EXPECT_EQ(seen.r15, 0x1515151515151515u);
}
