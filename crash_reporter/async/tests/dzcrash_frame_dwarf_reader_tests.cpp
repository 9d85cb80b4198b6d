#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "DwarfFixtureImage.h"
#include "crash_reporter/async/dzcrash_async_dwarf_cfa_state.h"
#include "crash_reporter/async/dzcrash_async_dwarf_expression.h"
#include "crash_reporter/async/dzcrash_frame_cursor.h"
#include "crash_reporter/async/dzcrash_frame_readers.h"
#include "platform/mach/mach_port.h"
#include "testing/ChildProcess.h"

using namespace dzcrash::async;

// From dzcrash_image_list.h, whose Mach-O constants clash with the thread-state headers'.
dzcrash_image_list* dzcrash_shared_image_list();

extern "C" {
using dzcrash_test_unwind_callback = void (*)(void* context);
int dzcrash_test_unwind_1(int value, dzcrash_test_unwind_callback callback, void* context);
int dzcrash_test_unwind_call_abort(int value);
}

namespace {

// DWARF call-frame opcodes and registers the fixtures use.
enum : uint8_t {
    kNop = 0x00,
    kAdvance1 = 0x41,  // DW_CFA_advance_loc by one code unit
    kOffset = 0x80,    // + register
    kRestoreExtended = 0x06,
    kRememberState = 0x0a,
    kRestoreState = 0x0b,
    kDefCfa = 0x0c,
    kDefCfaOffset = 0x0e,
    kDefCfaExpression = 0x0f,
    kArgsSize = 0x2e,
    kRsp = 7,
    kRbx = 3,
    kReturnAddress = 16,
};

// Bytes of a .eh_frame section, written entry by entry in the host's byte order.
struct FrameBytes {
    std::vector<uint8_t> bytes;

    void u8(uint8_t value) { bytes.push_back(value); }
    void raw(const void* value, size_t size) {
        const auto* p = static_cast<const uint8_t*>(value);
        bytes.insert(bytes.end(), p, p + size);
    }
    void u32(uint32_t value) { raw(&value, 4); }
    void u64(uint64_t value) { raw(&value, 8); }
    void put32(size_t at, uint32_t value) { std::memcpy(&bytes[at], &value, 4); }

    struct Cie {
        uint8_t version = 1;
        std::string augmentation = "zR";
        std::vector<uint8_t> augmentationData{0x00};  // R: absolute pointers
        int8_t dataAlignment = -8;                    // one-byte SLEB128
        std::vector<uint8_t> instructions{kDefCfa, kRsp, 8, kOffset | kReturnAddress, 1};
    };
    // Answers the entry's offset.
    size_t cie(const Cie& cie) {
        const size_t start = bytes.size();
        u32(0);
        u32(0);  // CIE id
        u8(cie.version);
        raw(cie.augmentation.c_str(), cie.augmentation.size() + 1);
        u8(1);  // code alignment
        u8(static_cast<uint8_t>(cie.dataAlignment & 0x7f));
        u8(kReturnAddress);
        if (!cie.augmentation.empty() && cie.augmentation[0] == 'z') {
            u8(static_cast<uint8_t>(cie.augmentationData.size()));
            raw(cie.augmentationData.data(), cie.augmentationData.size());
        }
        raw(cie.instructions.data(), cie.instructions.size());
        put32(start, static_cast<uint32_t>(bytes.size() - start - 4));
        return start;
    }
    // An FDE with absolute 8-byte pc start and range.
    size_t fde(size_t cieOffset, uint64_t start, uint64_t range, const std::vector<uint8_t>& instructions,
               const std::vector<uint8_t>& augmentationData = {}) {
        const size_t at = bytes.size();
        u32(0);
        u32(static_cast<uint32_t>(at + 4 - cieOffset));
        u64(start);
        u64(range);
        u8(static_cast<uint8_t>(augmentationData.size()));
        raw(augmentationData.data(), augmentationData.size());
        raw(instructions.data(), instructions.size());
        put32(at, static_cast<uint32_t>(bytes.size() - at - 4));
        return at;
    }
    void end() { u32(0); }
};

constexpr uint64_t kFunction = 0x401000;

// One mapping of a byte vector of this process.
struct Mapped {
    explicit Mapped(const std::vector<uint8_t>& bytes) : ok(!bytes.empty()) {
        if (ok)
            ok = dzcrash_async_mobject_init(&mobj, mach_task_self(), reinterpret_cast<uint64_t>(bytes.data()),
                                            bytes.size(), true) == DZCRASH_ESUCCESS;
    }
    ~Mapped() {
        if (ok) dzcrash_async_mobject_free(&mobj);
    }
    uint64_t base() const { return dzcrash_async_mobject_base_address(&mobj); }
    dzcrash_async_mobject_t mobj{};
    bool ok;
};

dzcrash_async_thread_state threadAt(uint64_t rip, uint64_t rsp) {
    dzcrash_async_thread_state state;
    dzcrash_async_thread_state_init(&state, CPU_TYPE_X86_64);
    dzcrash_async_thread_state_set_reg(&state, DZCRASH_REG_IP, rip);
    dzcrash_async_thread_state_set_reg(&state, DZCRASH_REG_SP, rsp);
    dzcrash_async_thread_state_set_reg(&state, DZCRASH_REG_FP, 0x1234);
    return state;
}

// The reader's step over a section, stage by stage; answers the first stage's error.
template <typename T, typename S>
dzcrash_error_t step(const std::vector<uint8_t>& section, uint64_t pc,
                     const dzcrash_async_thread_state& current, dzcrash_async_thread_state* next,
                     dwarf_cfa_state<T, S>* rules, bool debugFrame = false) {
    Mapped mapped(section);
    if (!mapped.ok) return DZCRASH_EINTERNAL;
    dwarf_frame_reader reader;
    dwarf_frame_reader_init(&reader, &mapped.mobj, dzcrash_byteorder_direct(), sizeof(T) == 8, debugFrame);
    dzcrash_async_dwarf_fde_info_t fde;
    dzcrash_error_t error = dwarf_frame_reader_find_fde(&reader, 0, pc, &fde);
    if (error != DZCRASH_ESUCCESS) return error;
    const gnu_ehptr_reader<T> pointers(dzcrash_byteorder_direct());
    dzcrash_async_dwarf_cie_info_t cie;
    error = dzcrash_async_dwarf_cie_info_init<T>(&cie, &mapped.mobj, dzcrash_byteorder_direct(), &pointers,
                                                 mapped.base() + fde.cie_offset);
    if (error != DZCRASH_ESUCCESS) return error;
    for (const auto& [offset, length] :
         {std::pair{cie.initial_instructions_offset, cie.initial_instructions_length},
          std::pair{fde.fde_instruction_offset, fde.fde_instruction_length}}) {
        error = rules->eval_program(&mapped.mobj, static_cast<T>(pc), static_cast<T>(fde.pc_start), &cie,
                                    &pointers, dzcrash_byteorder_direct(), mapped.base(),
                                    static_cast<dzcrash_vm_off_t>(offset), length);
        if (error != DZCRASH_ESUCCESS) return error;
    }
    return rules->apply_state(mach_task_self(), &cie, &current, dzcrash_byteorder_direct(), next);
}

dzcrash_error_t step64(const std::vector<uint8_t>& section, uint64_t pc,
                       const dzcrash_async_thread_state& current, dzcrash_async_thread_state* next) {
    dwarf_cfa_state<unsigned long long, long long> rules;
    return step(section, pc, current, next, &rules);
}

// A stack whose lowest word holds a return address.
struct Stack {
    uint64_t words[8] = {0x402345, 0x1111, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666, 0x7777};
    uint64_t at(size_t index) const { return reinterpret_cast<uint64_t>(&words[index]); }
};

}  // namespace

TEST(DwarfEntries, RefusedCiesAndTheEndOfAnFdesRange) {
    struct Case {
        const char* name;
        FrameBytes::Cie cie;
        uint64_t pc;
        dzcrash_error_t expected;
    };
    const std::vector<Case> cases = {
        {"version 2", {.version = 2}, kFunction, DZCRASH_EINVAL},
        {"augmentation without z", {.augmentation = "xy"}, kFunction, DZCRASH_ENOTSUP},
        {"version 3 is read", {.version = 3}, kFunction, DZCRASH_ESUCCESS},
        {"the last covered byte", {}, kFunction + 0x1f, DZCRASH_ESUCCESS},
        {"pc end is not covered", {}, kFunction + 0x20, DZCRASH_ENOTFOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameBytes frames;
        const size_t cie = frames.cie(c.cie);
        frames.fde(cie, kFunction, 0x20, {});
        frames.end();
        Stack stack;
        dzcrash_async_thread_state next;
        EXPECT_EQ(step64(frames.bytes, c.pc, threadAt(c.pc, stack.at(0)), &next), c.expected);
    }
}

TEST(DwarfEntries, AzPLRCieWithAnEightByteLsdaRunsFromTheFirstInstructionAfterTheFdesAugmentation) {
    FrameBytes frames;
    FrameBytes::Cie cie;
    cie.augmentation = "zPLR";
    // P: absolute 8-byte personality; L: 8-byte LSDA pointers; R: absolute pointers.
    cie.augmentationData = {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x04, 0x00};
    const size_t at = frames.cie(cie);
    const std::vector<uint8_t> lsda{0xc0, 0xc0, 0xc0, 0xc0,
                                    0xc0, 0xc0, 0xc0, 0xc0};  // restores, were they run
    frames.fde(at, kFunction, 0x20, {kDefCfaOffset, 24, kOffset | kRbx, 2}, lsda);
    frames.end();

    Stack stack;
    dzcrash_async_thread_state next;
    ASSERT_EQ(step64(frames.bytes, kFunction, threadAt(kFunction, stack.at(0)), &next), DZCRASH_ESUCCESS);
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&next, DZCRASH_REG_SP), stack.at(3));
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&next, DZCRASH_REG_IP), stack.words[2]);
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&next, DZCRASH_X86_64_RBX), stack.words[1]);
}

namespace {

// Debug-frame data: CIE ids of all ones, CIE pointers counted from the section's start, and no
// augmentation; in 32- and 64-bit length forms.
std::vector<uint8_t> debugFrame(bool wide) {
    FrameBytes frames;
    const auto header = [&](uint64_t id) {
        const size_t at = frames.bytes.size();
        if (wide) {
            frames.u32(0xffffffff);
            frames.u64(0);
            frames.u64(id);
        } else {
            frames.u32(0);
            frames.u32(static_cast<uint32_t>(id));
        }
        return at;
    };
    const auto close = [&](size_t at) {
        const uint64_t length = frames.bytes.size() - at - (wide ? 12 : 4);
        if (wide) {
            std::memcpy(&frames.bytes[at + 4], &length, 8);
        } else {
            frames.put32(at, static_cast<uint32_t>(length));
        }
    };
    frames.u64(0);  // not an entry: the walk starts after it, and the CIE's offset is not 0
    const size_t cie = header(wide ? ~uint64_t{0} : 0xffffffff);
    // Version 1, no augmentation, alignments 1 and -8, the CIE's usual rules.
    const std::vector<uint8_t> body{1, 0, 1, 0x78, kReturnAddress, kDefCfa, kRsp, 8, kOffset | kReturnAddress,
                                    1};
    frames.raw(body.data(), body.size());
    close(cie);
    const size_t fde = header(cie);
    frames.u64(kFunction);
    frames.u64(0x20);
    frames.u8(kNop);
    close(fde);
    return frames.bytes;
}

}  // namespace

TEST(DwarfEntries, DebugFrameDataHasItsOwnIdsAndCiePointers) {
    for (const bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "64-bit lengths" : "32-bit lengths");
        const std::vector<uint8_t> bytes = debugFrame(wide);
        // The walk starts at the CIE, 8 bytes in.
        Mapped mapped(bytes);
        dwarf_frame_reader reader;
        dwarf_frame_reader_init(&reader, &mapped.mobj, dzcrash_byteorder_direct(), true, true);
        dzcrash_async_dwarf_fde_info_t fde;
        ASSERT_EQ(dwarf_frame_reader_find_fde(&reader, 8, kFunction + 4, &fde), DZCRASH_ESUCCESS);
        EXPECT_EQ(fde.cie_offset, 8u);
        EXPECT_EQ(fde.pc_end, kFunction + 0x20);
        // Read as .eh_frame, the same CIE id is no CIE at all.
        dwarf_frame_reader_init(&reader, &mapped.mobj, dzcrash_byteorder_direct(), true, false);
        EXPECT_EQ(dwarf_frame_reader_find_fde(&reader, 8, kFunction + 4, &fde), DZCRASH_EINVAL);
    }
}

TEST(DwarfEntries, ASearchTableLeadsToTheFdeAndAWrongEntryFallsBackToTheWalk) {
    // Three functions 0x20 long and 0x100 apart, near enough to the section for 4-byte offsets.
    FrameBytes frames;
    frames.bytes.reserve(1024);
    const uint64_t base = reinterpret_cast<uint64_t>(frames.bytes.data());
    const uint64_t functions = base + 0x10000;
    const size_t cie = frames.cie({});
    std::vector<size_t> fdes;
    for (uint64_t i = 0; i < 3; ++i) fdes.push_back(frames.fde(cie, functions + i * 0x100, 0x20, {kNop}));
    frames.end();
    ASSERT_EQ(reinterpret_cast<uint64_t>(frames.bytes.data()), base);

    const auto find = [&](const std::vector<size_t>& tableFdes, uint64_t pc,
                          dzcrash_async_dwarf_fde_info_t* fde) {
        FrameBytes table;
        for (size_t i = 0; i < tableFdes.size(); ++i) {
            table.u32(static_cast<uint32_t>(0x10000 + i * 0x100));
            table.u32(static_cast<uint32_t>(tableFdes[i]));
        }
        Mapped section(frames.bytes);
        Mapped entries(table.bytes);
        dwarf_frame_reader reader;
        dwarf_frame_reader_init(&reader, &section.mobj, dzcrash_byteorder_direct(), true, false);
        dwarf_frame_reader_use_search_table(&reader, &entries.mobj, tableFdes.size(), base);
        return dwarf_frame_reader_find_fde(&reader, 0, pc, fde);
    };
    const std::vector<size_t> right = fdes;
    const struct {
        const char* name;
        std::vector<size_t> table;
        uint64_t pc;
        dzcrash_error_t expected;
        size_t fde;
    } cases[] = {
        {"the table's FDE", right, functions + 0x104, DZCRASH_ESUCCESS, fdes[1]},
        {"the last function", right, functions + 0x21f, DZCRASH_ESUCCESS, fdes[2]},
        {"between functions", right, functions + 0x150, DZCRASH_ENOTFOUND, 0},
        {"below every function", right, functions - 1, DZCRASH_ENOTFOUND, 0},
        {"an entry naming another FDE",
         {fdes[0], fdes[0], fdes[0]},
         functions + 0x204,
         DZCRASH_ESUCCESS,
         fdes[2]},
        {"an entry naming the CIE", {fdes[0], cie, fdes[2]}, functions + 0x104, DZCRASH_ESUCCESS, fdes[1]},
        {"an entry past the section",
         {fdes[0], 0x8000, fdes[2]},
         functions + 0x104,
         DZCRASH_ESUCCESS,
         fdes[1]},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dzcrash_async_dwarf_fde_info_t fde;
        ASSERT_EQ(find(c.table, c.pc, &fde), c.expected);
        if (c.expected == DZCRASH_ESUCCESS) {
            EXPECT_EQ(fde.fde_offset, c.fde + 4);
        }
    }

    // A damaged entry ahead stops the walk, not the table.
    frames.put32(fdes[0] + 4, 0xfffffff0);
    dzcrash_async_dwarf_fde_info_t fde;
    EXPECT_EQ(find({}, functions + 0x204, &fde), DZCRASH_EINVAL);
    ASSERT_EQ(find(right, functions + 0x204, &fde), DZCRASH_ESUCCESS);
    EXPECT_EQ(fde.fde_offset, fdes[2] + 4);
    EXPECT_EQ(find(right, functions + 0x150, &fde), DZCRASH_EINVAL);
}

TEST(DwarfEntries, TheThirtyTwoBitInstanceReadsFourBytePointers) {
    FrameBytes frames;
    FrameBytes::Cie cie;
    cie.dataAlignment = -4;
    cie.instructions = {kDefCfa, 5 /* esp */, 4, kOffset | 8 /* eip */, 1};
    cie.augmentation = "zR";
    cie.augmentationData = {0x03};  // unsigned 4-byte pointers
    const size_t at = frames.cie(cie);
    const size_t fde = frames.bytes.size();
    frames.u32(0);
    frames.u32(static_cast<uint32_t>(fde + 4 - at));
    frames.u32(0x8000);
    frames.u32(0x10);
    frames.u8(0);
    frames.put32(fde, static_cast<uint32_t>(frames.bytes.size() - fde - 4));
    frames.end();

    // The 32-bit layout keeps 32-bit addresses: the stack must lie below 4 GiB.
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    auto* words = static_cast<uint32_t*>(page);
    words[0] = 0x9123;
    dzcrash_async_thread_state current;
    dzcrash_async_thread_state_init(&current, CPU_TYPE_X86);
    dzcrash_async_thread_state_set_reg(&current, DZCRASH_REG_IP, 0x8004);
    dzcrash_async_thread_state_set_reg(&current, DZCRASH_REG_SP, reinterpret_cast<uint64_t>(words));
    dwarf_cfa_state<unsigned int, int> rules;
    dzcrash_async_thread_state next;
    // The 32-bit map: DWARF 5 is esp, 8 eip.
    EXPECT_EQ(step(frames.bytes, 0x8004, current, &next, &rules), DZCRASH_ESUCCESS);
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&next, DZCRASH_REG_IP), 0x9123u);
    EXPECT_EQ(dzcrash_async_thread_state_get_reg(&next, DZCRASH_REG_SP),
              reinterpret_cast<uint64_t>(words) + 4);
    munmap(page, 4096);
}

TEST(DwarfPrograms, RememberAndRestoreLimitsAndRestoreExtended) {
    struct Case {
        const char* name;
        std::vector<uint8_t> program;
        dzcrash_error_t expected;
    };
    const std::vector<Case> cases = {
        {"five remembers", std::vector<uint8_t>(5, kRememberState), DZCRASH_ESUCCESS},
        {"a sixth remember", std::vector<uint8_t>(6, kRememberState), DZCRASH_EINTERNAL},
        {"restore at level 0", {kRestoreState}, DZCRASH_EINVAL},
        {"GNU args size", {kArgsSize, 0}, DZCRASH_ENOTSUP},
        {"a vendor opcode", {0x3f}, DZCRASH_ENOTSUP},
        {"operand past the range", {kDefCfa, kRsp}, DZCRASH_EINVAL},
        {"register beyond 32 bits", {0x07, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, DZCRASH_ENOTSUP},
        {"expression block past the range", {kDefCfaExpression, 9, 0x30}, DZCRASH_EINVAL},
    };
    dzcrash_async_dwarf_cie_info_t cie{};
    cie.code_alignment_factor = 1;
    cie.data_alignment_factor = -8;
    cie.return_address_register = kReturnAddress;
    const gnu_ehptr_reader<unsigned long long> pointers(dzcrash_byteorder_direct());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mapped mapped(c.program);
        dwarf_cfa_state<unsigned long long, long long> rules;
        EXPECT_EQ(rules.eval_program(&mapped.mobj, 0, 0, &cie, &pointers, dzcrash_byteorder_direct(),
                                     mapped.base(), 0, c.program.size()),
                  c.expected);
    }

    // DW_CFA_restore_extended of a register without an initial rule removes that rule alone.
    std::vector<uint8_t> initial{kOffset | 12, 2};
    std::vector<uint8_t> program{kOffset | 3, 3, kOffset | 17, 4, kRestoreExtended, 3, kRestoreExtended, 12};
    dwarf_cfa_state<unsigned long long, long long> rules;
    Mapped first(initial), second(program);
    ASSERT_EQ(rules.eval_program(&first.mobj, 0, 0, &cie, &pointers, dzcrash_byteorder_direct(), first.base(),
                                 0, initial.size()),
              DZCRASH_ESUCCESS);
    ASSERT_EQ(rules.eval_program(&second.mobj, 0, 0, &cie, &pointers, dzcrash_byteorder_direct(),
                                 second.base(), 0, program.size()),
              DZCRASH_ESUCCESS);
    dzcrash_dwarf_cfa_reg_rule_t rule;
    unsigned long long value;
    EXPECT_FALSE(rules.get_register_rule(3, &rule, &value));
    ASSERT_TRUE(rules.get_register_rule(17, &rule, &value));  // 17 shares register 3's bucket
    EXPECT_EQ(value, static_cast<unsigned long long>(-32));
    ASSERT_TRUE(rules.get_register_rule(12, &rule, &value));
    EXPECT_EQ(value, static_cast<unsigned long long>(-16));
    EXPECT_EQ(rules.get_register_count(), 2);
}

TEST(DwarfPrograms, AnEpilogueUnwindsThroughTheRememberedRulesAndRepeatedPairsKeepThePool) {
    for (const int pairs : {0, 60}) {
        SCOPED_TRACE(pairs);
        FrameBytes frames;
        const size_t cie = frames.cie({});
        // push rbx; body with rbx saved; a mid-function epilogue (pop rbx; ret) before more body.
        std::vector<uint8_t> program{kAdvance1, kDefCfaOffset, 16, kOffset | kRbx, 2, kAdvance1};
        for (int index = 0; index < pairs; ++index) {
            program.push_back(kRememberState);
            program.push_back(kRestoreState);
        }
        program.insert(program.end(), {kRememberState, kDefCfaOffset, 8, kAdvance1, kRestoreState});
        frames.fde(cie, kFunction, 0x20, program);
        frames.end();

        // At the ret: rbx popped, the return address on top of the stack.
        Stack stack;
        const uint64_t pc = kFunction + 2;
        dzcrash_async_thread_state current = threadAt(pc, stack.at(1));
        dzcrash_async_thread_state_set_reg(&current, DZCRASH_X86_64_RBX, 0xb0b);
        dzcrash_async_thread_state next;
        ASSERT_EQ(step64(frames.bytes, pc, current, &next), DZCRASH_ESUCCESS);
        // Column 16 has no register of ours: its rule sets the instruction pointer.
        EXPECT_EQ(dzcrash_async_thread_state_get_reg(&next, DZCRASH_REG_IP), stack.words[1]);
        EXPECT_EQ(dzcrash_async_thread_state_get_reg(&next, DZCRASH_REG_SP), stack.at(2));
        // The copied rule for rbx still says where the prologue saved it.
        EXPECT_EQ(dzcrash_async_thread_state_get_reg(&next, DZCRASH_X86_64_RBX), stack.words[0]);
    }
}

namespace {

dzcrash_error_t evaluate(const std::vector<uint8_t>& ops, const std::vector<unsigned long long>& initial,
                         unsigned long long* result) {
    Mapped mapped(ops);
    dzcrash_async_thread_state state = threadAt(kFunction, 0x7000);
    return dzcrash_async_dwarf_expression_eval<unsigned long long, long long>(
        mapped.ok ? &mapped.mobj : nullptr, mach_task_self(), &state, dzcrash_byteorder_direct(),
        reinterpret_cast<uint64_t>(ops.data()), 0, ops.size(), initial.data(), initial.size(), result);
}

}  // namespace

TEST(DwarfExpressions, ShiftsStackLimitsAndRefusals) {
    struct Case {
        const char* name;
        std::vector<uint8_t> ops;
        std::vector<unsigned long long> initial;
        dzcrash_error_t expected;
        unsigned long long result;
    };
    const unsigned long long top = 0x8000000000000000ull;
    const std::vector<Case> cases = {
        {"shr is logical", {0x08, 63, 0x25}, {top}, DZCRASH_ESUCCESS, 1},
        {"shra is arithmetic", {0x08, 63, 0x26}, {top}, DZCRASH_ESUCCESS, ~0ull},
        {"shift by the width", {0x08, 64, 0x24}, {1}, DZCRASH_ESUCCESS, 0},
        {"breg of rsp plus offset", {0x77, 0x10}, {}, DZCRASH_ESUCCESS, 0x7010},
        {"bra skips", {0x31, 0x28, 1, 0, 0x32, 0x33}, {}, DZCRASH_ESUCCESS, 3},
        {"signed compare", {0x11, 0x7f, 0x30, 0x2d}, {}, DZCRASH_ESUCCESS, 1},
        {"100 initial values", {0x96}, std::vector<unsigned long long>(100, 5), DZCRASH_ESUCCESS, 5},
        {"a 101st initial value", {0x96}, std::vector<unsigned long long>(101, 5), DZCRASH_EINTERNAL, 0},
        {"push on a full stack", {0x30}, std::vector<unsigned long long>(100, 5), DZCRASH_EINTERNAL, 0},
        {"empty at the end", {0x96}, {}, DZCRASH_EINVAL, 0},
        {"drop on empty", {0x13}, {}, DZCRASH_EINVAL, 0},
        {"plus on one value", {0x22}, {1}, DZCRASH_EINTERNAL, 0},
        {"div by zero", {0x30, 0x1b}, {1}, DZCRASH_EINVAL, 0},
        {"mod by zero", {0x30, 0x1d}, {1}, DZCRASH_EINVAL, 0},
        {"DW_OP_addr", {0x03, 0, 0, 0, 0, 0, 0, 0, 0}, {}, DZCRASH_ENOTSUP, 0},
        {"DW_OP_reg0", {0x50}, {}, DZCRASH_ENOTSUP, 0},
        {"breg of a register without a mapping", {0x92, 0x20, 0}, {}, DZCRASH_ENOTSUP, 0},
        {"breg of a register not held", {0x70, 0}, {}, DZCRASH_ENOTFOUND, 0},
        {"deref_size of 3", {0x94, 3}, {0}, DZCRASH_EINVAL, 0},
        {"const8u cut short", {0x0e, 1, 2}, {}, DZCRASH_EINVAL, 0},
        {"skip before the block", {0x2f, 0xf0, 0xff}, {}, DZCRASH_EINVAL, 0},
        {"skip back into itself", {0x2f, 0xfd, 0xff}, {}, DZCRASH_EINVAL, 0},
        {"deref of an unmapped page", {0x06}, {8}, DZCRASH_ENOTFOUND, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned long long result = 0;
        EXPECT_EQ(evaluate(c.ops, c.initial, &result), c.expected);
        if (c.expected == DZCRASH_ESUCCESS) {
            EXPECT_EQ(result, c.result);
        }
    }
}

TEST(DwarfEntries, DamagedEntriesEndTheStepWithTheirCodeAndNeverFault) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        dzcrash_error_t expected;
    };
    const auto withFde = [](FrameBytes::Cie cie, uint64_t start, uint64_t range,
                            std::vector<uint8_t> program) {
        FrameBytes frames;
        frames.fde(frames.cie(cie), start, range, program);
        frames.end();
        return frames.bytes;
    };
    const auto patched = [](std::vector<uint8_t> bytes, size_t at, std::vector<uint8_t> replacement) {
        std::copy(replacement.begin(), replacement.end(), bytes.begin() + static_cast<long>(at));
        return bytes;
    };
    const std::vector<uint8_t> good = withFde({}, kFunction, 0x20, {});
    const size_t fdeAt = good.size() - 4 - (4 + 4 + 8 + 8 + 1);
    FrameBytes::Cie longLeb;
    longLeb.instructions = {kDefCfa, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01};
    FrameBytes::Cie unknownFormat;
    unknownFormat.augmentationData = {0x07};
    FrameBytes::Cie textRelative;
    textRelative.augmentationData = {0x20};
    FrameBytes::Cie expressionCfa;
    expressionCfa.instructions = {kDefCfaExpression, 1, 0x03, kOffset | kReturnAddress, 1};
    FrameBytes::Cie shortCie;
    shortCie.version = 3;

    const std::vector<Case> cases = {
        {"a header cut short", {0x10, 0x00}, DZCRASH_EINVAL},
        {"a length past the section", patched(good, 0, {0x00, 0x01, 0x00, 0x00}), DZCRASH_EINVAL},
        {"a 64-bit length that wraps",
         {0xff, 0xff, 0xff, 0xff, 0xf8, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0},
         DZCRASH_EINVAL},
        {"a CIE pointer reaching below the address space", patched(good, fdeAt + 4, {0xff, 0xff, 0xff, 0xff}),
         DZCRASH_EINVAL},
        {"a CIE pointer to the FDE itself", patched(good, fdeAt + 4, {0x04, 0x00, 0x00, 0x00}),
         DZCRASH_EINVAL},
        {"a CIE cut inside its augmentation",
         patched(withFde(shortCie, kFunction, 0x20, {}), 0, {0x06, 0, 0, 0}), DZCRASH_EINVAL},
        {"a range that wraps", withFde({}, ~uint64_t{0} - 0x10, 0x20, {}), DZCRASH_EINVAL},
        {"an unknown opcode", withFde({}, kFunction, 0x20, {0x2f}), DZCRASH_ENOTSUP},
        {"an eleven-byte ULEB128", withFde(longLeb, kFunction, 0x20, {}), DZCRASH_ENOTSUP},
        {"an unknown pointer format", withFde(unknownFormat, kFunction, 0x20, {}), DZCRASH_ENOTSUP},
        {"a text-relative pointer", withFde(textRelative, kFunction, 0x20, {}), DZCRASH_ENOTSUP},
        {"an unsupported expression operation", withFde(expressionCfa, kFunction, 0x20, {}), DZCRASH_ENOTSUP},
        {"no FDE before the terminator", {0, 0, 0, 0}, DZCRASH_ENOTFOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stack stack;
        dzcrash_async_thread_state next;
        EXPECT_EQ(step64(c.bytes, kFunction, threadAt(kFunction, stack.at(0)), &next), c.expected);
    }
}

namespace {

// An .eh_frame for the fixture image: one FDE over its code, pc-relative as compilers write it.
std::vector<uint8_t> fixtureFrames(const std::vector<uint8_t>& program) {
    FrameBytes frames;
    FrameBytes::Cie cie;
    cie.augmentationData = {0x1b};  // pc-relative, signed 4 bytes
    const size_t at = frames.cie(cie);
    const size_t fde = frames.bytes.size();
    frames.u32(0);
    frames.u32(static_cast<uint32_t>(fde + 4 - at));
    const size_t field = frames.bytes.size();
    frames.u32(static_cast<uint32_t>(-static_cast<int64_t>(DwarfFixtureImage::kCodeSize + field)));
    frames.u32(static_cast<uint32_t>(DwarfFixtureImage::kCodeSize));
    frames.u8(0);
    frames.raw(program.data(), program.size());
    frames.put32(fde, static_cast<uint32_t>(frames.bytes.size() - fde - 4));
    frames.end();
    return frames.bytes;
}

}  // namespace

TEST(DwarfReader, AnArgsSizeInstructionHandsTheStepToTheFramePointerReader) {
    struct Case {
        const char* name;
        std::vector<uint8_t> program;
        uint64_t expectedReturn;
    };
    // The stack says 0x6000 by the call-frame rules, the frame-pointer chain 0x5000.
    const std::vector<Case> cases = {
        {"rules the reader follows", {}, 0x6000},
        {"DW_CFA_GNU_args_size", {kArgsSize, 0}, 0x5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DwarfFixtureImage image(fixtureFrames(c.program));
        ASSERT_EQ(image.ehFrameAddress() - image.codeAddress(), DwarfFixtureImage::kCodeSize);
        uint64_t stack[4] = {0x6000, 0, 0, 0x5000};
        dzcrash_async_thread_state state =
            threadAt(image.codeAddress() + 4, reinterpret_cast<uint64_t>(&stack[0]));
        dzcrash_async_thread_state_set_reg(&state, DZCRASH_REG_FP, reinterpret_cast<uint64_t>(&stack[2]));
        dzcrash_async_frame_cursor cursor;
        dzcrash_async_frame_cursor_init(&cursor, mach_task_self(), &state, image.list());
        ASSERT_EQ(dzcrash_async_frame_cursor_next(&cursor), DZCRASH_FRAME_ESUCCESS);
        ASSERT_EQ(dzcrash_async_frame_cursor_next(&cursor), DZCRASH_FRAME_ESUCCESS);
        uint64_t ip = 0;
        EXPECT_EQ(dzcrash_async_frame_cursor_get_reg(&cursor, DZCRASH_REG_IP, &ip), DZCRASH_FRAME_ESUCCESS);
        EXPECT_EQ(ip, c.expectedReturn);
        dzcrash_async_frame_cursor_free(&cursor);
    }
}

namespace {

constexpr size_t kMaxFrames = 64;

struct Walk {
    uint64_t addresses[kMaxFrames];
    size_t count = 0;
};

// Walks the thread from `state` with the given readers, keeping each frame's instruction pointer.
void walk(const dzcrash_async_thread_state* state, const dzcrash_async_frame_reader_t* readers,
          size_t readerCount, Walk* out) {
    dzcrash_async_frame_cursor cursor;
    dzcrash_async_frame_cursor_init(&cursor, mach_task_self(), state, dzcrash_shared_image_list());
    while (out->count < kMaxFrames && dzcrash_async_frame_cursor_next_with_readers(
                                          &cursor, readers, readerCount) == DZCRASH_FRAME_ESUCCESS) {
        dzcrash_async_frame_cursor_get_reg(&cursor, DZCRASH_REG_IP, &out->addresses[out->count++]);
    }
    dzcrash_async_frame_cursor_free(&cursor);
}

struct Capture {
    Walk dwarf;
    void* backtraceAddresses[kMaxFrames];
    int backtraceCount = 0;
};

dzcrash_error_t walkWithDwarfOnly(dzcrash_async_thread_state* state, void* context) {
    static const dzcrash_async_frame_reader_t readers[] = {dzcrash_async_frame_dwarf_reader};
    walk(state, readers, 1, &static_cast<Capture*>(context)->dwarf);
    return DZCRASH_ESUCCESS;
}

// Runs in the innermost function of the library: both walks start here, one call apart.
__attribute__((noinline)) void captureBoth(void* context) {
    auto* capture = static_cast<Capture*>(context);
    dzcrash_async_thread_state_capture_current(walkWithDwarfOnly, capture);
    capture->backtraceCount = backtrace(capture->backtraceAddresses, kMaxFrames);
}

}  // namespace

TEST(DwarfReader, WalksOptimisedCodeWithoutFramePointersAsTheSystemsBacktraceDoes) {
    Capture capture;
    dzcrash_shared_image_list();
    ASSERT_GT(dzcrash_test_unwind_1(1, captureBoth, &capture), 0);
    // Frame 0 of the walk is its call site in captureBoth; from frame 1 on come the callers: the
    // five library functions, then this test and what runs it. backtrace() answers the same
    // callers after its own call site (and, in the sanitizer build, the interceptor's).
    ASSERT_GE(capture.dwarf.count, 8u);
    const std::vector<uint64_t> fromDwarf(capture.dwarf.addresses + 1,
                                          capture.dwarf.addresses + capture.dwarf.count);
    std::vector<uint64_t> fromBacktrace;
    for (int index = 0; index < capture.backtraceCount; ++index)
        fromBacktrace.push_back(reinterpret_cast<uint64_t>(capture.backtraceAddresses[index]));
    const auto first = std::find(fromBacktrace.begin(), fromBacktrace.end(), fromDwarf[0]);
    ASSERT_NE(first, fromBacktrace.end()) << "backtrace() does not pass the innermost library function";
    fromBacktrace.erase(fromBacktrace.begin(), first);
    const size_t compared = std::min(fromDwarf.size(), fromBacktrace.size());
    ASSERT_GE(compared, 7u);
    EXPECT_EQ(
        std::vector<uint64_t>(fromDwarf.begin(), fromDwarf.begin() + static_cast<long>(compared)),
        std::vector<uint64_t>(fromBacktrace.begin(), fromBacktrace.begin() + static_cast<long>(compared)));
    for (int link = 5; link >= 1; --link) {
        Dl_info info;
        ASSERT_NE(dladdr(reinterpret_cast<void*>(fromDwarf[5 - link] - 1), &info), 0);
        EXPECT_EQ(std::string(info.dli_sname), "dzcrash_test_unwind_" + std::to_string(link));
    }
}

namespace {

constexpr const char* kAbortReportVariable = "DZCRASH_TEST_ABORT_REPORT";
int gReportFd = -1;

// Walks the interrupted thread with the DWARF reader, then the frame-pointer one, and writes one
// line per frame: the image's file name and the symbol that holds the frame's code. Only the walk
// has to be async-signal-safe; naming the frames afterwards is the test's own business.
void walkOnAbort(int, siginfo_t*, void* context) {
    static const dzcrash_async_frame_reader_t readers[] = {dzcrash_async_frame_dwarf_reader,
                                                           dzcrash_async_frame_fp_reader};
    static Walk frames;
    dzcrash_async_thread_state state;
    dzcrash_async_thread_state_from_mcontext(&state, &static_cast<ucontext_t*>(context)->uc_mcontext);
    walk(&state, readers, 2, &frames);
    for (size_t index = 0; index < frames.count; ++index) {
        // A caller's address is a return address: the call it returns from lies one byte before.
        const uint64_t address = frames.addresses[index] - (index == 0 ? 0 : 1);
        Dl_info info{};
        dladdr(reinterpret_cast<void*>(address), &info);
        dprintf(gReportFd, "%s %s\n", info.dli_fname ? info.dli_fname : "?",
                info.dli_sname ? info.dli_sname : "?");
    }
    _exit(0);
}

}  // namespace

TEST(DwarfReaderChild, AbortsFromAFunctionWithoutFramePointers) {
    const char* report = std::getenv(kAbortReportVariable);
    if (!report) GTEST_SKIP() << "runs as a child process only";
    gReportFd = open(report, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(gReportFd, 0);
    dzcrash_shared_image_list();
    struct sigaction action {};
    action.sa_sigaction = walkOnAbort;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGABRT, &action, nullptr);
    dzcrash_test_unwind_call_abort(1);
}

TEST(DwarfReader, AnAbortingThreadIsWalkedOutOfLibcThroughTheNoreturnCallerToMain) {
    const std::string report = testing::TempDir() + "dwarf-abort-" + std::to_string(getpid()) + ".txt";
    const pid_t child =
        spawnThisTestBinary("DwarfReaderChild.AbortsFromAFunctionWithoutFramePointers",
                            {.environment = {std::string(kAbortReportVariable) + "=" + report}});
    ASSERT_GT(child, 0);
    const std::optional<int> status = waitForChild(child);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;

    std::ifstream lines(report);
    std::vector<std::pair<std::string, std::string>> frames;
    for (std::string image, symbol; lines >> image >> symbol;) frames.emplace_back(image, symbol);
    std::remove(report.c_str());
    ASSERT_FALSE(frames.empty());
    size_t index = 0;
    while (index < frames.size() && frames[index].first.find("libc.so") != std::string::npos) ++index;
    ASSERT_GT(index, 0u) << "the walk does not start in libc";
    ASSERT_LT(index + 1, frames.size());
    EXPECT_EQ(frames[index].second, "dzcrash_test_unwind_abort_here");
    EXPECT_EQ(frames[index + 1].second, "dzcrash_test_unwind_call_abort");
    bool reachedMain = false;
    for (; index < frames.size(); ++index) reachedMain = reachedMain || frames[index].second == "main";
    EXPECT_TRUE(reachedMain);
}

TEST(DwarfEncoding, PointersAndLeb128) {
    static const uint64_t target = 0xfeedface;  // what an indirect pointer points at
    struct Case {
        const char* name;
        uint8_t encoding;
        std::vector<uint8_t> bytes;
        dzcrash_error_t expected;
        uint64_t value;  // relative to the bytes' address for pc-relative cases
        uint64_t size;
    };
    const auto le = [](uint64_t value, size_t size) {
        std::vector<uint8_t> bytes(size);
        std::memcpy(bytes.data(), &value, size);
        return bytes;
    };
    const std::vector<Case> cases = {
        {"absolute pointer", 0x00, le(0x1122334455667788, 8), DZCRASH_ESUCCESS, 0x1122334455667788, 8},
        {"signed 2 bytes", 0x0a, le(0xfffe, 2), DZCRASH_ESUCCESS, ~uint64_t{0} - 1, 2},
        {"SLEB128", 0x09, {0x7f}, DZCRASH_ESUCCESS, ~uint64_t{0}, 1},
        {"pc-relative signed 4 bytes", 0x1b, le(0x10, 4), DZCRASH_ESUCCESS, 0x10, 4},
        {"indirect absolute", 0x80, le(reinterpret_cast<uint64_t>(&target), 8), DZCRASH_ESUCCESS, target, 8},
        {"omitted", 0xff, {0}, DZCRASH_ENOTFOUND, 0, 0},
        {"unknown format", 0x05, {0}, DZCRASH_ENOTSUP, 0, 0},
        {"data-relative without a base", 0x30, {0}, DZCRASH_ENOTSUP, 0, 0},
        {"unknown application", 0x70, {0}, DZCRASH_ENOTSUP, 0, 0},
        {"cut short", 0x04, {1, 2, 3}, DZCRASH_EINVAL, 0, 0},
    };
    const gnu_ehptr_reader<unsigned long long> reader(dzcrash_byteorder_direct());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mapped mapped(c.bytes);
        unsigned long long value = 0;
        dzcrash_vm_size_t size = 0;
        ASSERT_EQ(reader.read(&mapped.mobj, mapped.base(), 0, c.encoding, &value, &size), c.expected);
        if (c.expected != DZCRASH_ESUCCESS) continue;
        EXPECT_EQ(value, (c.encoding & 0x70) == 0x10 ? mapped.base() + c.value : c.value);
        EXPECT_EQ(size, c.size);
    }

    struct Leb {
        std::vector<uint8_t> bytes;
        dzcrash_error_t expectedUnsigned;
        uint64_t valueUnsigned;
        dzcrash_error_t expectedSigned;
        int64_t valueSigned;
    };
    const std::vector<uint8_t> ten{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01};
    std::vector<uint8_t> eleven(10, 0x80);
    eleven.push_back(0x00);
    const std::vector<Leb> lebs = {
        {{0xe5, 0x8e, 0x26}, DZCRASH_ESUCCESS, 624485, DZCRASH_ESUCCESS, 624485},
        {{0xc0, 0xbb, 0x78}, DZCRASH_ESUCCESS, 1973696, DZCRASH_ESUCCESS, -123456},
        {ten, DZCRASH_ESUCCESS, ~uint64_t{0}, DZCRASH_ESUCCESS, -1},
        {eleven, DZCRASH_ENOTSUP, 0, DZCRASH_ENOTSUP, 0},
        {{0x80, 0x80}, DZCRASH_EINVAL, 0, DZCRASH_EINVAL, 0},
    };
    for (const Leb& leb : lebs) {
        Mapped mapped(leb.bytes);
        uint64_t unsignedValue = 0;
        int64_t signedValue = 0;
        dzcrash_vm_size_t size = 0;
        EXPECT_EQ(read_uleb128(&mapped.mobj, mapped.base(), 0, &unsignedValue, &size), leb.expectedUnsigned);
        EXPECT_EQ(read_sleb128(&mapped.mobj, mapped.base(), 0, &signedValue, &size), leb.expectedSigned);
        if (leb.expectedUnsigned == DZCRASH_ESUCCESS) {
            EXPECT_EQ(unsignedValue, leb.valueUnsigned);
            EXPECT_EQ(signedValue, leb.valueSigned);
            // The same bytes read from task memory.
            EXPECT_EQ(task_read_uleb128(mach_task_self(), reinterpret_cast<uint64_t>(leb.bytes.data()), 0,
                                        &unsignedValue, &size),
                      DZCRASH_ESUCCESS);
            EXPECT_EQ(unsignedValue, leb.valueUnsigned);
            EXPECT_EQ(size, leb.bytes.size());
        }
    }
}

TEST(DwarfPrograms, ExpressionRulesAreEvaluatedWithTheCfaOnTheStack) {
    struct Case {
        const char* name;
        std::vector<uint8_t> program;
        size_t expectedWord;  // rbx's value is the stack word at this index, or the CFA itself
        bool cfaItself;
    };
    const std::vector<Case> cases = {
        {"DW_CFA_expression: saved at CFA + 8", {0x10, kRbx, 2, 0x23, 8}, 2, false},
        {"DW_CFA_val_expression: the CFA", {0x16, kRbx, 1, 0x12}, 0, true},
        {"DW_CFA_def_cfa_expression: rsp + 16",
         {kDefCfaExpression, 2, 0x77, 16, kOffset | kRbx, 1},
         1,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameBytes frames;
        frames.fde(frames.cie({}), kFunction, 0x20, c.program);
        frames.end();
        Stack stack;
        dzcrash_async_thread_state next;
        ASSERT_EQ(step64(frames.bytes, kFunction, threadAt(kFunction, stack.at(0)), &next), DZCRASH_ESUCCESS);
        const uint64_t cfa = dzcrash_async_thread_state_get_reg(&next, DZCRASH_REG_SP);
        EXPECT_EQ(dzcrash_async_thread_state_get_reg(&next, DZCRASH_X86_64_RBX),
                  c.cfaItself ? cfa : stack.words[c.expectedWord]);
    }
}
