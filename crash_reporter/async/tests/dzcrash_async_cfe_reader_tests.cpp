#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "crash_reporter/async/dzcrash_async_cfe_reader.h"
#include "crash_reporter/async/dzcrash_frame_readers.h"
#include "crash_reporter/async/dzcrash_image_list.h"
#include "crash_reporter/async/testing/MachOFixture.h"
#include "platform/mach/mach_port.h"

namespace {

constexpr uint32_t kNone = DZCRASH_ASYNC_CFE_NO_REGISTER;

// The unwind-info bytes as a section mapping, the way the reader sees them.
class UnwindSection {
  public:
    explicit UnwindSection(const std::vector<uint8_t>& bytes) : bytes_(bytes) {
        error_ = dzcrash_async_mobject_init(&mobj_, mach_task_self(),
                                            reinterpret_cast<uint64_t>(bytes_.data()), bytes_.size(), true);
    }
    explicit UnwindSection(const MachOFixture::UnwindInfo& info)
        : UnwindSection(MachOFixture::unwindInfo(info)) {}
    ~UnwindSection() {
        if (error_ == DZCRASH_ESUCCESS) dzcrash_async_mobject_free(&mobj_);
    }

    dzcrash_error_t init(cpu_type_t cpu = CPU_TYPE_X86_64) {
        EXPECT_EQ(error_, DZCRASH_ESUCCESS);
        return dzcrash_async_cfe_reader_init(&reader_, &mobj_, cpu);
    }
    struct Found {
        dzcrash_error_t error;
        uint32_t offset = 0;
        uint32_t encoding = 0;
    };
    Found find(uint64_t pc) {
        Found found{};
        found.error = dzcrash_async_cfe_reader_find_pc(&reader_, pc, &found.offset, &found.encoding);
        return found;
    }

  private:
    std::vector<uint8_t> bytes_;
    dzcrash_async_mobject_t mobj_{};
    dzcrash_error_t error_;
    dzcrash_async_cfe_reader_t reader_{};
};

MachOFixture::UnwindPage page(uint32_t functionOffset, bool compressed = false) {
    MachOFixture::UnwindPage page;
    page.functionOffset = functionOffset;
    page.compressed = compressed;
    return page;
}

MachOFixture::UnwindInfo twoPages() {
    MachOFixture::UnwindInfo info;
    info.commonEncodings = {0x01000000, 0x02010000};
    MachOFixture::UnwindPage regular = page(0x1000);
    regular.entries = {{0x1000, 0xA}, {0x1100, 0xB}, {0x1200, 0xC}};
    MachOFixture::UnwindPage compressed = page(0x2000, true);
    // Index 1 is the second common encoding; 2 is page encoding 0, 3 page encoding 1.
    compressed.entries = {{0x0, 1}, {0x80, 2}, {0x100, 3}};
    compressed.pageEncodings = {0x0D, 0x0E};
    info.pages = {regular, compressed};
    info.endOffset = 0x3000;
    return info;
}

}  // namespace

TEST(CompactUnwindReader, InitChecksProcessorHeaderAndVersion) {
    MachOFixture::UnwindInfo version2;
    version2.version = 2;
    EXPECT_EQ(UnwindSection(version2).init(), DZCRASH_ENOTSUP);
    EXPECT_EQ(UnwindSection(MachOFixture::UnwindInfo{}).init(CPU_TYPE_ARM), DZCRASH_ENOTSUP);
    std::vector<uint8_t> shortHeader = MachOFixture::unwindInfo({});
    shortHeader.resize(27);
    EXPECT_EQ(UnwindSection(shortHeader).init(), DZCRASH_EINVAL);
    for (cpu_type_t cpu : {CPU_TYPE_X86, CPU_TYPE_X86_64, CPU_TYPE_ARM64}) {
        EXPECT_EQ(UnwindSection(MachOFixture::UnwindInfo{}).init(cpu), DZCRASH_ESUCCESS) << cpu;
    }
}

TEST(CompactUnwindReader, FindsEntriesInRegularAndCompressedPages) {
    UnwindSection section(twoPages());
    ASSERT_EQ(section.init(), DZCRASH_ESUCCESS);
    struct Case {
        uint64_t pc;
        dzcrash_error_t error;
        uint32_t offset, encoding;
    } cases[] = {
        {0x0fff, DZCRASH_ENOTFOUND, 0, 0},        // below the first function
        {0x1000, DZCRASH_ESUCCESS, 0x1000, 0xA},  // equal to the first-level and first entry's offset
        {0x10ff, DZCRASH_ESUCCESS, 0x1000, 0xA},
        {0x1100, DZCRASH_ESUCCESS, 0x1100, 0xB},  // equal to a second-level offset
        {0x1fff, DZCRASH_ESUCCESS, 0x1200, 0xC},  // the last entry of a page covers up to the next page
        {0x2000, DZCRASH_ESUCCESS, 0x2000, 0x02010000},  // second-level page, common encoding
        {0x2080, DZCRASH_ESUCCESS, 0x2080, 0x0D},        // index == common count: page encoding 0
        {0x2150, DZCRASH_ESUCCESS, 0x2100, 0x0E},
        {0x5000, DZCRASH_ESUCCESS, 0x2100, 0x0E},  // the sentinel is never a candidate
    };
    for (const Case& c : cases) {
        const UnwindSection::Found found = section.find(c.pc);
        EXPECT_EQ(found.error, c.error) << std::hex << c.pc;
        if (c.error != DZCRASH_ESUCCESS) continue;
        EXPECT_EQ(found.offset, c.offset) << std::hex << c.pc;
        EXPECT_EQ(found.encoding, c.encoding) << std::hex << c.pc;
    }
}

TEST(CompactUnwindReader, MalformedTablesAreRefusedWithoutReadingPastTheSection) {
    using Info = MachOFixture::UnwindInfo;
    using Bytes = std::vector<uint8_t>;
    struct Case {
        const char* what;
        void (*spoilInfo)(Info&);
        void (*spoilBytes)(Bytes&);
        dzcrash_error_t error;
    } cases[] = {
        {"only the sentinel", [](Info& info) { info.pages.clear(); }, nullptr, DZCRASH_ENOTFOUND},
        {"index count 0", nullptr, [](Bytes& bytes) { std::fill_n(&bytes[24], 4, 0); }, DZCRASH_ENOTFOUND},
        {"common encodings past the end", nullptr, [](Bytes& bytes) { bytes[8] = 0xff; }, DZCRASH_EINVAL},
        {"first level past the end", nullptr, [](Bytes& bytes) { bytes[26] = 0x10; }, DZCRASH_EINVAL},
        {"unknown page kind", [](Info& info) { info.pages[1].kind = 7; }, nullptr, DZCRASH_EINVAL},
        {"encoding index beyond the page's", [](Info& info) { info.pages[1].pageEncodings.pop_back(); },
         nullptr, DZCRASH_EINVAL},
        {"empty page", [](Info& info) { info.pages[1].entries.clear(); }, nullptr, DZCRASH_ENOTFOUND},
        {"page encodings past the end", nullptr, [](Bytes& bytes) { bytes.resize(bytes.size() - 2); },
         DZCRASH_EINVAL},
        {"page entries past the end", nullptr, [](Bytes& bytes) { bytes.resize(bytes.size() - 10); },
         DZCRASH_EINVAL},
    };
    for (const Case& c : cases) {
        Info info = twoPages();
        if (c.spoilInfo) c.spoilInfo(info);
        Bytes bytes = MachOFixture::unwindInfo(info);
        if (c.spoilBytes) c.spoilBytes(bytes);
        UnwindSection section(bytes);
        ASSERT_EQ(section.init(), DZCRASH_ESUCCESS) << c.what;
        EXPECT_EQ(section.find(0x2100).error, c.error) << c.what;
    }
}

TEST(CompactUnwindEntry, DecodesEveryModeOfEveryProcessor) {
    struct Case {
        cpu_type_t cpu;
        uint32_t encoding;
        dzcrash_error_t error;
        dzcrash_async_cfe_type_t type;
        int64_t stackOffset;
        uint32_t stackAdjust, returnRegister;
        std::vector<uint32_t> registers;
    } cases[] = {
        {CPU_TYPE_X86_64, 0x00000000, DZCRASH_ESUCCESS, DZCRASH_ASYNC_CFE_TYPE_NONE, 0, 0, kNone, {}},
        // Slots 1, 0, 2: an empty slot between two used ones still counts.
        {CPU_TYPE_X86_64,
         0x01020081,
         DZCRASH_ESUCCESS,
         DZCRASH_ASYNC_CFE_TYPE_FRAME_PTR,
         -16,
         0,
         kNone,
         {DZCRASH_X86_64_RBX, kNone, DZCRASH_X86_64_R12}},
        {CPU_TYPE_X86,
         0x01020081,
         DZCRASH_ESUCCESS,
         DZCRASH_ASYNC_CFE_TYPE_FRAME_PTR,
         -8,
         0,
         kNone,
         {DZCRASH_X86_EBX, kNone, DZCRASH_X86_ECX}},
        {CPU_TYPE_X86_64, 0x01000007, DZCRASH_EINVAL, DZCRASH_ASYNC_CFE_TYPE_FRAME_PTR, 0, 0, kNone, {}},
        // Two registers, permutation 5*5+0: r14 (4th unused), then rbx (1st).
        {CPU_TYPE_X86_64,
         0x02030800 | 15,
         DZCRASH_ESUCCESS,
         DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
         24,
         0,
         kNone,
         {DZCRASH_X86_64_R14, DZCRASH_X86_64_RBX}},
        {CPU_TYPE_X86,
         0x0305a400,
         DZCRASH_ESUCCESS,
         DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_INDIRECT,
         5,
         20,
         kNone,
         {DZCRASH_X86_EBX}},
        {CPU_TYPE_X86_64, 0x04123456, DZCRASH_ESUCCESS, DZCRASH_ASYNC_CFE_TYPE_DWARF, 0x123456, 0, kNone, {}},
        {CPU_TYPE_X86_64, 0x05000000, DZCRASH_ENOTSUP, DZCRASH_ASYNC_CFE_TYPE_NONE, 0, 0, kNone, {}},
        {CPU_TYPE_ARM, 0x01000000, DZCRASH_ENOTSUP, DZCRASH_ASYNC_CFE_TYPE_NONE, 0, 0, kNone, {}},
        {CPU_TYPE_ARM64, 0x00000000, DZCRASH_ESUCCESS, DZCRASH_ASYNC_CFE_TYPE_NONE, 0, 0, kNone, {}},
        {CPU_TYPE_ARM64, 0x01000000, DZCRASH_ENOTSUP, DZCRASH_ASYNC_CFE_TYPE_NONE, 0, 0, kNone, {}},
        {CPU_TYPE_ARM64, 0x03000abc, DZCRASH_ESUCCESS, DZCRASH_ASYNC_CFE_TYPE_DWARF, 0xabc, 0, kNone, {}},
        // Flags 0x10 and 0x1: the first and the last pair.
        {CPU_TYPE_ARM64,
         0x04000011,
         DZCRASH_ESUCCESS,
         DZCRASH_ASYNC_CFE_TYPE_FRAME_PTR,
         -32,
         0,
         32,
         {31, 30, 23, 22}},
        {CPU_TYPE_ARM64,
         0x02003008,
         DZCRASH_ESUCCESS,
         DZCRASH_ASYNC_CFE_TYPE_FRAMELESS_IMMD,
         48,
         0,
         32,
         {29, 28}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.cpu << " " << c.encoding);
        dzcrash_async_cfe_entry_t entry;
        ASSERT_EQ(dzcrash_async_cfe_entry_init(&entry, c.cpu, c.encoding), c.error);
        if (c.error != DZCRASH_ESUCCESS) continue;
        EXPECT_EQ(dzcrash_async_cfe_entry_type(&entry), c.type);
        EXPECT_EQ(dzcrash_async_cfe_entry_stack_offset(&entry), c.stackOffset);
        EXPECT_EQ(dzcrash_async_cfe_entry_stack_adjust(&entry), c.stackAdjust);
        EXPECT_EQ(dzcrash_async_cfe_entry_return_address_register(&entry), c.returnRegister);
        std::vector<uint32_t> registers(dzcrash_async_cfe_entry_register_count(&entry));
        dzcrash_async_cfe_entry_register_list(&entry, registers.data());
        EXPECT_EQ(registers, c.registers);
        dzcrash_async_cfe_entry_free(&entry);
    }
}

TEST(CompactUnwindEntry, RegisterPermutationsRoundTripForEveryCount) {
    uint32_t out[6];
    EXPECT_EQ(dzcrash_async_cfe_register_decode(0, 7, out), DZCRASH_EINVAL);
    EXPECT_EQ(dzcrash_async_cfe_register_decode(0, 0, out), DZCRASH_ESUCCESS);
    // A first digit of 6 would name a seventh register.
    EXPECT_EQ(dzcrash_async_cfe_register_decode(6, 1, out), DZCRASH_EINVAL);
    EXPECT_EQ(dzcrash_async_cfe_register_encode(out, 7), 0u);
    for (uint32_t count = 0; count <= 6; ++count) {
        // Every ordered choice of `count` distinct registers: the first `count` of each permutation,
        // taken once per distinct prefix.
        std::vector<uint32_t> all = {1, 2, 3, 4, 5, 6};
        std::vector<std::vector<uint32_t>> seen;
        do {
            std::vector<uint32_t> chosen(all.begin(), all.begin() + count);
            if (std::find(seen.begin(), seen.end(), chosen) != seen.end()) continue;
            seen.push_back(chosen);
            const uint32_t permutation = dzcrash_async_cfe_register_encode(chosen.data(), count);
            ASSERT_LT(permutation, 1024u);
            ASSERT_EQ(dzcrash_async_cfe_register_decode(permutation, count, out), DZCRASH_ESUCCESS);
            EXPECT_EQ(std::vector<uint32_t>(out, out + count), chosen) << "count " << count;
        } while (std::next_permutation(all.begin(), all.end()));
        const size_t expected[] = {1, 6, 30, 120, 360, 720, 720};
        EXPECT_EQ(seen.size(), expected[count]);
    }
}

namespace {

// A fake stack of words of the layout's width, and registers to start from. It lies in the low 4 GiB
// so that 32-bit registers can point into it; its second half holds a function's bytes.
class FakeStack {
  public:
    explicit FakeStack(cpu_type_t cpu) : cpu_(cpu), width_(cpu == CPU_TYPE_X86_64 ? 8 : 4) {
        void* page =
            mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
        EXPECT_NE(page, MAP_FAILED);
        bytes_ = static_cast<uint8_t*>(page);
        EXPECT_EQ(dzcrash_async_thread_state_init(&state_, cpu), DZCRASH_ESUCCESS);
    }
    ~FakeStack() { munmap(bytes_, kSize); }
    FakeStack(const FakeStack&) = delete;
    FakeStack& operator=(const FakeStack&) = delete;

    uint64_t at(size_t slot) const { return reinterpret_cast<uint64_t>(bytes_) + slot * width_; }
    void put(size_t slot, uint64_t value) { memcpy(bytes_ + slot * width_, &value, width_); }
    uint8_t* function() { return bytes_ + kSize / 2; }
    void set(dzcrash_regnum_t reg, uint64_t value) {
        dzcrash_async_thread_state_set_reg(&state_, reg, value);
    }

    dzcrash_error_t apply(uint32_t encoding, dzcrash_async_thread_state* next, uint64_t function = 0) {
        dzcrash_async_cfe_entry_t entry;
        EXPECT_EQ(dzcrash_async_cfe_entry_init(&entry, cpu_, encoding), DZCRASH_ESUCCESS);
        return dzcrash_async_cfe_entry_apply(mach_task_self(), function, &state_, &entry, next);
    }
    size_t width() const { return width_; }

  private:
    static constexpr size_t kSize = 4096;
    cpu_type_t cpu_;
    size_t width_;
    uint8_t* bytes_ = nullptr;
    dzcrash_async_thread_state state_;
};

uint64_t reg(const dzcrash_async_thread_state* state, dzcrash_regnum_t r) {
    EXPECT_TRUE(dzcrash_async_thread_state_has_reg(state, r)) << r;
    return dzcrash_async_thread_state_get_reg(state, r);
}

}  // namespace

TEST(CompactUnwindApply, EachKindRestoresTheCallersRegistersFromAFakeStack) {
    for (cpu_type_t cpu : {CPU_TYPE_X86_64, CPU_TYPE_X86}) {
        SCOPED_TRACE(cpu);
        const bool is64 = cpu == CPU_TYPE_X86_64;
        const dzcrash_regnum_t rbx =
            is64 ? dzcrash_regnum_t{DZCRASH_X86_64_RBX} : dzcrash_regnum_t{DZCRASH_X86_EBX};
        const dzcrash_regnum_t scratch =
            is64 ? dzcrash_regnum_t{DZCRASH_X86_64_RAX} : dzcrash_regnum_t{DZCRASH_X86_EAX};

        {  // Frame: fp at slot 10, the saved registers from three words below it: slots 1, 0, 2.
            FakeStack stack(cpu);
            stack.put(10, 0xF00D);  // caller's frame pointer
            stack.put(11, 0x4321);  // return address
            stack.put(7, 0xBB);     // slot 0: rbx
            stack.put(8, 0xEE);     // the empty slot's word
            stack.put(9, 0x12);     // slot 2: r12 (ecx in i386)
            stack.set(DZCRASH_REG_FP, stack.at(10));
            stack.set(DZCRASH_REG_SP, stack.at(2));
            stack.set(scratch, 1);
            dzcrash_async_thread_state next;
            ASSERT_EQ(stack.apply(0x01030081, &next), DZCRASH_ESUCCESS);
            EXPECT_EQ(
                reg(&next, is64 ? dzcrash_regnum_t{DZCRASH_X86_64_R12} : dzcrash_regnum_t{DZCRASH_X86_ECX}),
                0x12u);
            EXPECT_EQ(reg(&next, DZCRASH_REG_IP), 0x4321u);
            EXPECT_EQ(reg(&next, DZCRASH_REG_FP), 0xF00Du);
            EXPECT_EQ(reg(&next, DZCRASH_REG_SP), stack.at(12));
            EXPECT_EQ(reg(&next, rbx), 0xBBu);
            EXPECT_FALSE(dzcrash_async_thread_state_has_reg(&next, scratch))
                << "a volatile register survived";
        }
        {  // Frameless immediate: 4 words of stack, rbx then rbp saved below the return address.
            FakeStack stack(cpu);
            stack.put(3, 0x5555);  // return address at new sp - w
            stack.put(1, 0xBB);    // rbx
            stack.put(2, 0xBE);    // rbp
            stack.set(DZCRASH_REG_SP, stack.at(0));
            stack.set(DZCRASH_REG_FP, 0x1234);
            // Registers 1 (rbx) then 6 (rbp): permutation 0*5 + 4.
            const uint32_t size = 4;
            dzcrash_async_thread_state next;
            ASSERT_EQ(stack.apply(0x02000000 | (size << 16) | (2 << 10) | 4, &next), DZCRASH_ESUCCESS);
            EXPECT_EQ(reg(&next, DZCRASH_REG_IP), 0x5555u);
            EXPECT_EQ(reg(&next, DZCRASH_REG_SP), stack.at(4));
            EXPECT_EQ(reg(&next, rbx), 0xBBu);
            EXPECT_EQ(reg(&next, DZCRASH_REG_FP), 0xBEu);
        }
        {  // Frameless indirect: the size is the function's immediate at byte 3, plus the adjust.
            FakeStack stack(cpu);
            uint8_t* function = stack.function();
            const uint32_t immediate = static_cast<uint32_t>(2 * stack.width());
            memcpy(function + 3, &immediate, 4);
            stack.put(4, 0x7777);  // return address: (2 words + adjust 3 words) - 1
            stack.put(3, 0xBB);
            stack.set(DZCRASH_REG_SP, stack.at(0));
            stack.set(DZCRASH_REG_FP, 0xFEFE);  // kept: the function saved no frame pointer
            dzcrash_async_thread_state next;
            const uint32_t encoding = 0x03000000 | (3 << 16) | (3 << 13) | (1 << 10) | 0;
            ASSERT_EQ(stack.apply(encoding, &next, reinterpret_cast<uint64_t>(function)), DZCRASH_ESUCCESS);
            EXPECT_EQ(reg(&next, DZCRASH_REG_IP), 0x7777u);
            EXPECT_EQ(reg(&next, DZCRASH_REG_SP), stack.at(5));
            EXPECT_EQ(reg(&next, rbx), 0xBBu);
            EXPECT_EQ(reg(&next, DZCRASH_REG_FP), 0xFEFEu);
        }
    }
}

TEST(CompactUnwindApply, RefusesWhatItCannotApply) {
    FakeStack stack(CPU_TYPE_X86_64);
    dzcrash_async_thread_state next;
    EXPECT_EQ(stack.apply(0x04000010, &next), DZCRASH_ENOTSUP) << "DWARF";
    EXPECT_EQ(stack.apply(0x00000000, &next), DZCRASH_ENOTSUP) << "no information";
    EXPECT_EQ(stack.apply(0x01000000, &next), DZCRASH_ENOTFOUND) << "no frame pointer";
    EXPECT_EQ(stack.apply(0x02010000, &next), DZCRASH_ENOTFOUND) << "no stack pointer";
    stack.set(DZCRASH_REG_FP, 8);
    EXPECT_NE(stack.apply(0x01000000, &next), DZCRASH_ESUCCESS) << "unreadable frame";
    dzcrash_async_cfe_entry_t arm64;
    ASSERT_EQ(dzcrash_async_cfe_entry_init(&arm64, CPU_TYPE_ARM64, 0x04000011), DZCRASH_ESUCCESS);
    dzcrash_async_thread_state state;
    dzcrash_async_thread_state_init(&state, CPU_TYPE_X86_64);
    EXPECT_EQ(dzcrash_async_cfe_entry_apply(mach_task_self(), 0, &state, &arm64, &next), DZCRASH_ENOTSUP);
}

namespace {

// A Mach-O image in the list whose __text holds functions at known offsets, with the unwind info
// `encodingAt` gives them.
class UnwindImage {
  public:
    static constexpr uint32_t kFunction = 0x400;  // inside __text, which starts right after the commands

    explicit UnwindImage(uint32_t encoding, uint32_t version = 1) {
        fixture_.textSections = {{"__text", std::vector<uint8_t>(0x800, 0x90)}, {"__unwind_info", {}}};
        MachOFixture::UnwindInfo info;
        info.version = version;
        MachOFixture::UnwindPage page = ::page(0);
        page.entries = {{0, 0}, {kFunction, encoding}, {kFunction + 0x100, 0}};
        info.pages = {page};
        fixture_.textSections[1].bytes = MachOFixture::unwindInfo(info);
        fixture_.place();
        dzcrash_image_list_init(&list_, mach_task_self());
        dzcrash_image_list_add(&list_, fixture_.headerAddress(), "/fixture/unwind");
    }
    uint64_t function() const { return fixture_.headerAddress() + kFunction; }
    dzcrash_image_list* list() { return &list_; }

  private:
    MachOFixture fixture_;
    dzcrash_image_list list_;
};

int laterReaderCalls = 0;
dzcrash_async_frame_error_t countingReader(task_t, dzcrash_image_list*, const dzcrash_async_thread_state*,
                                           const dzcrash_async_thread_state*, dzcrash_async_thread_state*) {
    ++laterReaderCalls;
    return DZCRASH_FRAME_ENOTSUP;
}

}  // namespace

TEST(CompactUnwindFrameReader, WalksAFrameThroughTheImagesUnwindInfo) {
    UnwindImage image(0x01010001);  // frame, rbx saved one word below the frame pointer
    uint64_t stack[4] = {0xBB, 0xF00D, 0x4321, 0};
    dzcrash_async_thread_state state;
    dzcrash_async_thread_state_init(&state, CPU_TYPE_X86_64);
    dzcrash_async_thread_state_set_reg(&state, DZCRASH_REG_IP, image.function() + 0x10);
    dzcrash_async_thread_state_set_reg(&state, DZCRASH_REG_FP, reinterpret_cast<uint64_t>(&stack[1]));
    dzcrash_async_thread_state next;
    ASSERT_EQ(
        dzcrash_async_frame_compact_unwind_reader(mach_task_self(), image.list(), &state, nullptr, &next),
        DZCRASH_FRAME_ESUCCESS);
    EXPECT_EQ(reg(&next, DZCRASH_REG_IP), 0x4321u);
    EXPECT_EQ(reg(&next, DZCRASH_REG_FP), 0xF00Du);
    EXPECT_EQ(reg(&next, DZCRASH_X86_64_RBX), 0xBBu);
}

TEST(CompactUnwindFrameReader, AnswersSoTheCursorMovesOnOrStops) {
    struct Case {
        const char* what;
        uint32_t encoding, version;
        bool inImage;
        dzcrash_async_frame_error_t result;
    } cases[] = {
        {"no unwind information", 0x00000000, 1, true, DZCRASH_FRAME_ENOFRAME},
        {"version 2", 0x01000000, 2, true, DZCRASH_FRAME_EINVAL},
        {"a DWARF entry", 0x04000010, 1, true, DZCRASH_FRAME_ENOFRAME},
        {"a pc outside every image", 0x01000000, 1, false, DZCRASH_FRAME_ENOTSUP},
    };
    for (const Case& c : cases) {
        UnwindImage image(c.encoding, c.version);
        dzcrash_async_thread_state state;
        dzcrash_async_thread_state_init(&state, CPU_TYPE_X86_64);
        dzcrash_async_thread_state_set_reg(&state, DZCRASH_REG_IP, c.inImage ? image.function() : 0x1000);
        dzcrash_async_thread_state next;
        EXPECT_EQ(
            dzcrash_async_frame_compact_unwind_reader(mach_task_self(), image.list(), &state, nullptr, &next),
            c.result)
            << c.what;

        // The cursor then asks the next reader.
        dzcrash_async_frame_cursor cursor;
        dzcrash_async_frame_cursor_init(&cursor, mach_task_self(), &state, image.list());
        const dzcrash_async_frame_reader_t readers[] = {dzcrash_async_frame_compact_unwind_reader,
                                                        countingReader};
        laterReaderCalls = 0;
        ASSERT_EQ(dzcrash_async_frame_cursor_next_with_readers(&cursor, readers, 2), DZCRASH_FRAME_ESUCCESS);
        EXPECT_EQ(dzcrash_async_frame_cursor_next_with_readers(&cursor, readers, 2), DZCRASH_FRAME_ENOTSUP);
        EXPECT_EQ(laterReaderCalls, 1) << c.what;
        dzcrash_async_frame_cursor_free(&cursor);
    }
}

namespace {

struct LiveWalk {
    dzcrash_async_frame_error_t compactOnFirstFrame = DZCRASH_FRAME_EUNKNOWN;
    std::vector<uint64_t> allReaders;
    std::vector<uint64_t> withoutCompact;
};

std::vector<uint64_t> walk(dzcrash_async_thread_state* state, const dzcrash_async_frame_reader_t* readers,
                           size_t count) {
    std::vector<uint64_t> frames;
    dzcrash_async_frame_cursor cursor;
    dzcrash_async_frame_cursor_init(&cursor, mach_task_self(), state, dzcrash_shared_image_list());
    while (frames.size() < 64) {
        const dzcrash_async_frame_error_t result =
            readers ? dzcrash_async_frame_cursor_next_with_readers(&cursor, readers, count)
                    : dzcrash_async_frame_cursor_next(&cursor);
        if (result != DZCRASH_FRAME_ESUCCESS) break;
        uint64_t ip = 0;
        dzcrash_async_frame_cursor_get_reg(&cursor, DZCRASH_REG_IP, &ip);
        frames.push_back(ip);
    }
    dzcrash_async_frame_cursor_free(&cursor);
    return frames;
}

dzcrash_error_t walkLive(dzcrash_async_thread_state* state, void* context) {
    LiveWalk* live = static_cast<LiveWalk*>(context);
    dzcrash_async_thread_state next;
    live->compactOnFirstFrame = dzcrash_async_frame_compact_unwind_reader(
        mach_task_self(), dzcrash_shared_image_list(), state, nullptr, &next);
    live->allReaders = walk(state, nullptr, 0);
    const dzcrash_async_frame_reader_t later[] = {dzcrash_async_frame_dwarf_reader,
                                                  dzcrash_async_frame_fp_reader};
    live->withoutCompact = walk(state, later, 2);
    return DZCRASH_ESUCCESS;
}

}  // namespace

// The images of a Linux process carry no compact unwind information, so reading it changes no walk.
TEST(CompactUnwindFrameReader, ALiveThreadsWalkIsTheSameWithAndWithoutIt) {
    LiveWalk live;
    ASSERT_EQ(dzcrash_async_thread_state_capture_current(walkLive, &live), DZCRASH_ESUCCESS);
    EXPECT_EQ(live.compactOnFirstFrame, DZCRASH_FRAME_ENOTSUP);
    EXPECT_GE(live.allReaders.size(), 2u);
    EXPECT_EQ(live.allReaders, live.withoutCompact);
}
