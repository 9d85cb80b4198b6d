#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "crash_reporter/async/dzcrash_macho_image.h"
#include "crash_reporter/async/testing/MachOFixture.h"
#include "platform/mach/mach_port.h"

namespace {

mach_port_urefs_t taskReferences() {
    mach_port_urefs_t refs = 0;
    mach_port_get_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, &refs);
    return refs;
}

struct Found {
    int calls = 0;
    uint64_t address = 0;
    std::string name;
};

void recordFound(dzcrash_vm_address_t address, const char* name, void* context) {
    auto* found = static_cast<Found*>(context);
    ++found->calls;
    found->address = address;
    found->name = name;
}

// An image record that is released when the test ends, if it was read.
struct Image {
    dzcrash_macho_image image{};
    dzcrash_error_t error = DZCRASH_EUNKNOWN;
    Image(const MachOFixture& fixture, const char* name = "/fixture/image")
        : error(dzcrash_macho_image_init(&image, mach_task_self(), name, fixture.headerAddress())) {}
    ~Image() {
        if (error == DZCRASH_ESUCCESS) dzcrash_macho_image_free(&image);
    }
};

struct Layout {
    const char* label;
    bool is64;
    bool swapped;
    int32_t cpuType;
    int32_t cpuSubtype;
};
constexpr Layout kLayouts[] = {
    {"64-bit direct", true, false, CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL},
    {"64-bit swapped", true, true, CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64_ALL},
    {"32-bit direct", false, false, CPU_TYPE_X86, 3},
    {"32-bit swapped", false, true, CPU_TYPE_ARM, 9},
};

}  // namespace

TEST(MachOImage, ReadsHeaderTextSectionsUuidAndSymbolsInEveryLayout) {
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(layout.label);
        MachOFixture fixture;
        fixture.is64 = layout.is64;
        fixture.swapped = layout.swapped;
        fixture.cpuType = layout.cpuType;
        fixture.cpuSubtype = layout.cpuSubtype;
        fixture.textVmaddr = 0x4000;
        fixture.textSections.push_back({"__unwind_info", {1, 2, 3, 4, 5}});
        fixture.uuid = std::array<uint8_t, 16>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        fixture.symbols = {{"_main", 0x4100}, {"_helper", 0x4180, N_SECT, 1, N_ARM_THUMB_DEF}};
        fixture.place();

        Image read(fixture);
        ASSERT_EQ(read.error, DZCRASH_ESUCCESS);
        const dzcrash_macho_image& image = read.image;
        EXPECT_EQ(image.text_vmaddr, 0x4000u);
        EXPECT_EQ(image.text_size, fixture.textSize());
        EXPECT_EQ(image.vmaddr_slide, fixture.slide());
        EXPECT_EQ(dzcrash_macho_image_cpu_type(&image), layout.cpuType);
        EXPECT_EQ(dzcrash_macho_image_cpu_subtype(&image), layout.cpuSubtype);
        EXPECT_EQ(dzcrash_macho_image_header_size(&image), layout.is64 ? 32u : 28u);
        EXPECT_EQ(image.m64, layout.is64);
        EXPECT_EQ(image.ncmds, 4u);
        EXPECT_STREQ(image.name, "/fixture/image");
        EXPECT_TRUE(dzcrash_macho_image_contains_address(&image, fixture.headerAddress()));
        EXPECT_TRUE(
            dzcrash_macho_image_contains_address(&image, fixture.headerAddress() + fixture.textSize() - 1));
        EXPECT_FALSE(
            dzcrash_macho_image_contains_address(&image, fixture.headerAddress() + fixture.textSize()));
        EXPECT_FALSE(dzcrash_macho_image_contains_address(&image, fixture.headerAddress() - 1));

        uint8_t uuid[16];
        ASSERT_EQ(dzcrash_macho_image_uuid(&image, uuid), DZCRASH_ESUCCESS);
        EXPECT_EQ(memcmp(uuid, fixture.uuid->data(), 16), 0);

        dzcrash_async_mobject_t section;
        ASSERT_EQ(dzcrash_macho_map_section(&image, "__TEXT", "__unwind_info", &section), DZCRASH_ESUCCESS);
        EXPECT_EQ(dzcrash_async_mobject_base_address(&section), fixture.loaded(fixture.sectionAddress(1)));
        ASSERT_EQ(dzcrash_async_mobject_length(&section), 5u);
        EXPECT_EQ(memcmp(reinterpret_cast<const void*>(section.address), "\1\2\3\4\5", 5), 0);
        dzcrash_async_mobject_free(&section);
        EXPECT_EQ(dzcrash_macho_map_section(&image, "__TEXT", "__eh_frame", &section), DZCRASH_ENOTFOUND);
        EXPECT_EQ(dzcrash_macho_map_section(&image, "__DATA", "__data", &section), DZCRASH_ENOTFOUND);
        dzcrash_macho_segment_t segment;
        EXPECT_EQ(dzcrash_macho_map_segment(&image, "__DATA", &segment), DZCRASH_ENOTFOUND);

        Found found;
        ASSERT_EQ(dzcrash_macho_find_symbol_by_pc(&image, fixture.loaded(0x4108), recordFound, &found),
                  DZCRASH_ESUCCESS);
        EXPECT_EQ(found.name, "_main");
        EXPECT_EQ(found.address, fixture.loaded(0x4100));
        ASSERT_EQ(dzcrash_macho_find_symbol_by_pc(&image, fixture.loaded(0x4180), recordFound, &found),
                  DZCRASH_ESUCCESS);
        EXPECT_EQ(found.name, "_helper");
        EXPECT_EQ(found.address, fixture.loaded(0x4181)) << "a Thumb definition's address has bit 0 set";
        dzcrash_vm_address_t pc = 0;
        ASSERT_EQ(dzcrash_macho_find_symbol_by_name(&image, "_helper", &pc), DZCRASH_ESUCCESS);
        EXPECT_EQ(pc, fixture.loaded(0x4181));
        EXPECT_EQ(dzcrash_macho_find_symbol_by_name(&image, "_absent", &pc), DZCRASH_ENOTFOUND);
    }
}

TEST(MachOImage, RefusedImagesLeaveNoNameCopyAndNoTaskReference) {
    MachOFixture universal;
    universal.magic = FAT_MAGIC;
    universal.place();
    MachOFixture withoutText;
    withoutText.withText = false;
    withoutText.place();
    MachOFixture stubbedBeforeText;
    stubbedBeforeText.rawCommands = {{0x80000022, 4, true}};
    stubbedBeforeText.place();
    const uint64_t page = static_cast<uint64_t>(getpagesize());
    void* hole = mmap(nullptr, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_EQ(munmap(hole, page), 0);

    struct {
        const char* label;
        uint64_t header;
        dzcrash_error_t error;
    } const cases[] = {
        {"universal magic", universal.headerAddress(), DZCRASH_EINVAL},
        {"no __TEXT segment", withoutText.headerAddress(), DZCRASH_EINVAL},
        {"a command of size 4 ends the walk before __TEXT", stubbedBeforeText.headerAddress(),
         DZCRASH_EINVAL},
        {"unreadable header", reinterpret_cast<uint64_t>(hole), DZCRASH_EINTERNAL},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.label);
        const mach_port_urefs_t refsBefore = taskReferences();
        dzcrash_macho_image image{};
        EXPECT_EQ(dzcrash_macho_image_init(&image, mach_task_self(), "/fixture/refused", refused.header),
                  refused.error);
        EXPECT_EQ(image.name, nullptr);
        EXPECT_EQ(taskReferences(), refsBefore);
    }
}

TEST(MachOImage, ACommandOfSizeFourEndsTheWalk) {
    MachOFixture fixture;
    fixture.rawCommands = {{0x80000022, 4, false}};  // right after __TEXT, before __LINKEDIT and LC_SYMTAB
    fixture.symbols = {{"_main", 0x1100}};
    fixture.place();
    Image read(fixture);
    ASSERT_EQ(read.error, DZCRASH_ESUCCESS);

    const void* text = dzcrash_macho_next_command(&read.image, nullptr);
    ASSERT_NE(text, nullptr);
    const void* stub = dzcrash_macho_next_command(&read.image, text);
    ASSERT_NE(stub, nullptr);
    EXPECT_EQ(dzcrash_macho_next_command(&read.image, stub), nullptr);
    EXPECT_EQ(dzcrash_macho_find_command(&read.image, LC_SYMTAB), nullptr);
    EXPECT_EQ(dzcrash_macho_find_segment_cmd(&read.image, "__LINKEDIT"), nullptr);
    Found found;
    EXPECT_EQ(dzcrash_macho_find_symbol_by_pc(&read.image, fixture.loaded(0x1100), recordFound, &found),
              DZCRASH_ENOTFOUND);
}

TEST(MachOSymbols, PicksTheGreatestStartNotAbovePcAndTheFirstOfEquals) {
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(layout.label);
        MachOFixture fixture;
        fixture.is64 = layout.is64;
        fixture.swapped = layout.swapped;
        fixture.symbols = {
            {"_first", 0x1100},
            {"_second", 0x1100},
            {"_debugger_entry", 0x1104, 0x24},         // a stab, never a candidate
            {"_imported", 0x1106, N_UNDF | N_EXT, 0},  // undefined
            {"_private", 0x1200, N_SECT | N_PEXT},
        };
        fixture.place();
        Image read(fixture);
        ASSERT_EQ(read.error, DZCRASH_ESUCCESS);

        struct {
            uint64_t pc;
            dzcrash_error_t error;
            const char* name;
            uint64_t start;
        } const lookups[] = {
            {0x1108, DZCRASH_ESUCCESS, "_first", 0x1100},
            {0x1100, DZCRASH_ESUCCESS, "_first", 0x1100},
            {0x1300, DZCRASH_ESUCCESS, "_private", 0x1200},
            {0x10ff, DZCRASH_ENOTFOUND, "", 0},
        };
        for (const auto& lookup : lookups) {
            Found found;
            EXPECT_EQ(
                dzcrash_macho_find_symbol_by_pc(&read.image, fixture.loaded(lookup.pc), recordFound, &found),
                lookup.error)
                << std::hex << lookup.pc;
            EXPECT_EQ(found.name, lookup.name);
            if (lookup.error == DZCRASH_ESUCCESS) {
                EXPECT_EQ(found.address, fixture.loaded(lookup.start));
            }
        }
    }
}

TEST(MachOSymbols, ScansTheGlobalThenTheLocalRangeWhenBothAreGiven) {
    MachOFixture fixture;
    // Locals first in the table, as linkers write it; the same value in both ranges goes to the
    // global one, which is scanned first.
    fixture.symbols = {{"_local_same", 0x1100}, {"_local_near", 0x1140}, {"_global_same", 0x1100}};
    fixture.dysymtab = MachOFixture::Dysymtab{0, 2, 2, 1};
    fixture.place();
    Image read(fixture);
    ASSERT_EQ(read.error, DZCRASH_ESUCCESS);
    Found found;
    ASSERT_EQ(dzcrash_macho_find_symbol_by_pc(&read.image, fixture.loaded(0x1120), recordFound, &found),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(found.name, "_global_same");
    ASSERT_EQ(dzcrash_macho_find_symbol_by_pc(&read.image, fixture.loaded(0x1150), recordFound, &found),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(found.name, "_local_near");
}

TEST(MachOSymbols, RefusesSubrangesPastTheTableEvenWhenTheir32BitSumWraps) {
    const MachOFixture::Dysymtab ranges[] = {
        {0, 1, 1, 2},
        {0, 1, 0xffffffff, 2},
        {0xfffffffe, 3, 0, 1},
    };
    for (const auto& dysymtab : ranges) {
        MachOFixture fixture;
        fixture.symbols = {{"_a", 0x1100}, {"_b", 0x1200}};
        fixture.dysymtab = dysymtab;
        fixture.place();
        Image read(fixture);
        ASSERT_EQ(read.error, DZCRASH_ESUCCESS);
        dzcrash_macho_symtab_reader reader;
        EXPECT_EQ(dzcrash_macho_symtab_reader_init(&reader, &read.image), DZCRASH_EINVAL)
            << dysymtab.iextdefsym << "+" << dysymtab.nextdefsym << ", " << dysymtab.ilocalsym << "+"
            << dysymtab.nlocalsym;
        Found found;
        EXPECT_EQ(dzcrash_macho_find_symbol_by_pc(&read.image, fixture.loaded(0x1150), recordFound, &found),
                  DZCRASH_EINVAL);
    }
}

TEST(MachOSymbols, ANameRunningToTheEndOfLinkeditIsRefused) {
    MachOFixture fixture;
    fixture.symbols = {{"_whole", 0x1100}, {"_cut_off", 0x1200}};
    fixture.lastNameUnterminated = true;
    fixture.place();
    Image read(fixture);
    ASSERT_EQ(read.error, DZCRASH_ESUCCESS);
    Found found;
    EXPECT_EQ(dzcrash_macho_find_symbol_by_pc(&read.image, fixture.loaded(0x1208), recordFound, &found),
              DZCRASH_EINVAL);
    EXPECT_EQ(found.calls, 0);
    EXPECT_EQ(dzcrash_macho_find_symbol_by_pc(&read.image, fixture.loaded(0x1108), recordFound, &found),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(found.name, "_whole");
    dzcrash_vm_address_t pc = 0;
    EXPECT_EQ(dzcrash_macho_find_symbol_by_name(&read.image, "_absent", &pc), DZCRASH_EINVAL);
}

TEST(MachOSymbols, FindSymbolCutsLongNamesAndAnswersByStrategy) {
    const std::string longName = "_" + std::string(299, 'n');
    MachOFixture fixture;
    fixture.symbols = {{longName, 0x1100}};
    fixture.place();
    Image read(fixture);
    ASSERT_EQ(read.error, DZCRASH_ESUCCESS);

    Found found;
    ASSERT_EQ(dzcrash_macho_find_symbol(&read.image, DZCRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr,
                                        fixture.loaded(0x1110), recordFound, &found),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(found.name, longName.substr(0, 255));
    EXPECT_EQ(found.address, fixture.loaded(0x1100));
    ASSERT_EQ(dzcrash_macho_find_symbol(&read.image, 3, nullptr, fixture.loaded(0x1110), recordFound, &found),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(found.name.size(), 255u);

    struct {
        uint32_t strategy;
        uint64_t pc;
    } const unanswered[] = {
        {0, 0x1110},
        {DZCRASH_SYMBOL_STRATEGY_OBJC, 0x1110},
        {DZCRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, 0x10f0},
        {3, 0x10f0},
    };
    for (const auto& lookup : unanswered) {
        found.calls = 0;
        EXPECT_EQ(dzcrash_macho_find_symbol(&read.image, lookup.strategy, nullptr, fixture.loaded(lookup.pc),
                                            recordFound, &found),
                  DZCRASH_ENOTFOUND)
            << lookup.strategy;
        EXPECT_EQ(found.calls, 0);
    }
}
