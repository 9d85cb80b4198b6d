#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "crash_reporter/async/dzcrash_async_dwarf_encoding.h"
#include "crash_reporter/async/dzcrash_async_dwarf_section.h"
#include "crash_reporter/async/dzcrash_image_list.h"
#include "crash_reporter/async/testing/MachOFixture.h"
#include "platform/dyld/dyld.h"
#include "platform/dyld/testing/DyldTesting.h"
#include "platform/mach/mach_port.h"

namespace {

using BuildId = std::array<uint8_t, 16>;

// The first 16 bytes of the build id in a file's PT_NOTE segments, read from the file itself.
std::optional<BuildId> buildIdOfFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < sizeof(Elf64_Ehdr)) return std::nullopt;
    Elf64_Ehdr header;
    memcpy(&header, bytes.data(), sizeof header);
    for (uint16_t index = 0; index < header.e_phnum; ++index) {
        Elf64_Phdr program;
        const size_t at = header.e_phoff + index * sizeof program;
        if (at + sizeof program > bytes.size()) return std::nullopt;
        memcpy(&program, bytes.data() + at, sizeof program);
        if (program.p_type != PT_NOTE) continue;
        for (size_t note = program.p_offset;
             note + sizeof(Elf64_Nhdr) <= program.p_offset + program.p_filesz;) {
            Elf64_Nhdr head;
            memcpy(&head, bytes.data() + note, sizeof head);
            const size_t name = note + sizeof head;
            const size_t descriptor = name + ((head.n_namesz + 3) & ~3u);
            if (head.n_type == NT_GNU_BUILD_ID && head.n_namesz == 4 &&
                memcmp(bytes.data() + name, "GNU", 4) == 0) {
                BuildId id{};
                memcpy(id.data(), bytes.data() + descriptor, head.n_descsz < 16 ? head.n_descsz : 16);
                return id;
            }
            note = descriptor + ((head.n_descsz + 3) & ~3u);
        }
    }
    return std::nullopt;
}

std::string programPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

bool isLibc(const char* name) {
    const std::string path = name;
    const size_t slash = path.rfind('/');
    return path.compare(slash == std::string::npos ? 0 : slash + 1, 8, "libc.so.") == 0;
}

// The images of the list whose name satisfies `matches`, read while the list is marked as read.
template <class Predicate>
std::vector<dzcrash_macho_image*> imagesNamed(dzcrash_image_list* list, Predicate matches) {
    std::vector<dzcrash_macho_image*> found;
    dzcrash_image_list_set_reading(list, true);
    for (auto* image = dzcrash_image_list_next(list, nullptr); image;
         image = dzcrash_image_list_next(list, image)) {
        if (matches(image->name)) found.push_back(image);
    }
    dzcrash_image_list_set_reading(list, false);
    return found;
}

struct Found {
    uint64_t address = 0;
    std::string name;
};

void recordFound(dzcrash_vm_address_t address, const char* name, void* context) {
    auto* found = static_cast<Found*>(context);
    found->address = address;
    found->name = name;
}

mach_port_urefs_t taskReferences() {
    mach_port_urefs_t refs = 0;
    mach_port_get_refs(mach_task_self(), mach_task_self(), MACH_PORT_RIGHT_SEND, &refs);
    return refs;
}

}  // namespace

TEST(SharedImageList, HoldsTheProgramAndLibcOnceWithTheirBuildIds) {
    dzcrash_image_list* list = dzcrash_shared_image_list();
    ASSERT_EQ(dzcrash_shared_image_list(), list);
    const std::string program = programPath();
    const auto programs = imagesNamed(list, [&](const char* name) { return program == name; });
    const auto libcs = imagesNamed(list, isLibc);
    ASSERT_EQ(programs.size(), 1u) << "registered once, and the main program named by its path";
    ASSERT_EQ(libcs.size(), 1u);
    EXPECT_EQ(imagesNamed(list, [](const char*) { return true; }).size(), _dyld_image_count())
        << "every object the loader mapped, the kernel's vDSO among them, reads as an image";

    for (dzcrash_macho_image* image : {programs[0], libcs[0]}) {
        SCOPED_TRACE(image->name);
        const std::optional<BuildId> onDisk = buildIdOfFile(image->name);
        ASSERT_TRUE(onDisk.has_value());
        BuildId inMemory{};
        ASSERT_EQ(dzcrash_macho_image_uuid(image, inMemory.data()), DZCRASH_ESUCCESS);
        EXPECT_EQ(inMemory, *onDisk);
        EXPECT_EQ(image->format, DZCRASH_IMAGE_ELF);
        EXPECT_EQ(dzcrash_macho_image_cpu_type(image), 0x1000007);
        EXPECT_EQ(dzcrash_macho_image_cpu_subtype(image), 3);
        EXPECT_EQ(memcmp(reinterpret_cast<const void*>(image->header_addr),
                         "\x7f"
                         "ELF",
                         4),
                  0);
    }
    dzcrash_image_list_set_reading(list, true);
    EXPECT_EQ(dzcrash_image_list_find(list, reinterpret_cast<uintptr_t>(&programPath)), programs[0]);
    dzcrash_image_list_set_reading(list, false);
}

TEST(SharedImageList, FindsLibcByAddressAndNamesItsExportedFunctions) {
    dzcrash_image_list* list = dzcrash_shared_image_list();
    void* libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(libc, nullptr);
    const auto function = reinterpret_cast<uintptr_t>(dlsym(libc, "getpid"));
    ASSERT_NE(function, 0u);

    dzcrash_image_list_set_reading(list, true);
    dzcrash_macho_image* image = dzcrash_image_list_find(list, function);
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(isLibc(image->name)) << image->name;

    Found found;
    ASSERT_EQ(dzcrash_macho_find_symbol(image, DZCRASH_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr, function + 1,
                                        recordFound, &found),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(found.address, function);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(dlsym(libc, found.name.c_str())), function) << found.name;
    dzcrash_vm_address_t byName = 0;
    ASSERT_EQ(dzcrash_macho_find_symbol_by_name(image, "getpid", &byName), DZCRASH_ESUCCESS);
    EXPECT_EQ(byName, function);

    // The frame data the loader's unwinder uses: records that start with a CIE (id 0).
    dzcrash_async_mobject_t frames;
    ASSERT_EQ(dzcrash_macho_map_section(image, "__TEXT", "__eh_frame", &frames), DZCRASH_ESUCCESS);
    uint32_t firstLength = 0;
    uint32_t firstId = 1;
    const dzcrash_vm_address_t start = dzcrash_async_mobject_base_address(&frames);
    EXPECT_EQ(dzcrash_async_mobject_read_uint32(&frames, dzcrash_byteorder_direct(), start, 0, &firstLength),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(dzcrash_async_mobject_read_uint32(&frames, dzcrash_byteorder_direct(), start, 4, &firstId),
              DZCRASH_ESUCCESS);
    EXPECT_GT(firstLength, 0u);
    EXPECT_EQ(firstId, 0u);
    uint32_t terminator = 1;
    EXPECT_EQ(dzcrash_async_mobject_read_uint32(
                  &frames, dzcrash_byteorder_direct(), start,
                  static_cast<int64_t>(dzcrash_async_mobject_length(&frames)) - 4, &terminator),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(terminator, 0u);
    dzcrash_async_mobject_free(&frames);
    for (const char* absent : {"__unwind_info", "__debug_frame", "__objc_methname"}) {
        EXPECT_EQ(dzcrash_macho_map_section(image, "__TEXT", absent, &frames), DZCRASH_ENOTFOUND) << absent;
    }
    dzcrash_image_list_set_reading(list, false);
    dlclose(libc);
}

// The kernel maps the vDSO without the loader rewriting its dynamic entries to addresses.
TEST(SharedImageList, NamesTheFunctionsOfTheKernelsVdso) {
    const uintptr_t vdso = getauxval(AT_SYSINFO_EHDR);
    if (vdso == 0) GTEST_SKIP() << "no vDSO in this process";
    dzcrash_image_list* list = dzcrash_shared_image_list();
    dzcrash_image_list_set_reading(list, true);
    dzcrash_macho_image* image = dzcrash_image_list_find(list, vdso);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->header_addr, vdso);
    dzcrash_vm_address_t function = 0;
    ASSERT_EQ(dzcrash_macho_find_symbol_by_name(image, "__vdso_clock_gettime", &function), DZCRASH_ESUCCESS);
    EXPECT_TRUE(dzcrash_macho_image_contains_address(image, function));
    Found found;
    ASSERT_EQ(dzcrash_macho_find_symbol_by_pc(image, function + 2, recordFound, &found), DZCRASH_ESUCCESS);
    EXPECT_EQ(found.address, function);
    dzcrash_image_list_set_reading(list, false);
}

TEST(SharedImageList, ALibraryLoadedThroughTheLoaderComesAndGoesWhileReadersKeepTheirRecord) {
    dzcrash_image_list* list = dzcrash_shared_image_list();
    const auto named = [](const char* name) { return std::string(name) == DZCRASH_TEST_IMAGE; };
    ASSERT_TRUE(imagesNamed(list, named).empty());

    void* handle = dyld_dlopen(DZCRASH_TEST_IMAGE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    const auto function = reinterpret_cast<uintptr_t>(dlsym(handle, "dzcrash_test_image_function"));
    ASSERT_EQ(imagesNamed(list, named).size(), 1u);

    dzcrash_image_list_set_reading(list, true);
    dzcrash_macho_image* image = dzcrash_image_list_find(list, function);
    ASSERT_NE(image, nullptr);
    EXPECT_STREQ(image->name, DZCRASH_TEST_IMAGE);
    const dzcrash_vm_address_t header = image->header_addr;
    dzcrash_vm_address_t byName = 0;
    ASSERT_EQ(dzcrash_macho_find_symbol_by_name(image, "dzcrash_test_image_function", &byName),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(byName, function);
    Found byPc;
    ASSERT_EQ(dzcrash_macho_find_symbol(image, 1, nullptr, function + 1, recordFound, &byPc),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(byPc.name, "dzcrash_test_image_function");
    EXPECT_EQ(byPc.address, function);

    // Unloaded while this reader holds the list: gone from it, yet the record stays whole (the
    // sanitizer build fails here should it have been freed).
    ASSERT_EQ(dyld_dlclose(handle), 0);
    EXPECT_EQ(dzcrash_image_list_find(list, function), nullptr);
    EXPECT_STREQ(image->name, DZCRASH_TEST_IMAGE);
    EXPECT_EQ(image->header_addr, header);
    dzcrash_image_list_set_reading(list, false);
    EXPECT_TRUE(imagesNamed(list, named).empty());

    // Once nobody reads, the next change frees the record; the library comes back as a new one.
    handle = dyld_dlopen(DZCRASH_TEST_IMAGE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(imagesNamed(list, named).size(), 1u);
    ASSERT_EQ(dyld_dlclose(handle), 0);
    EXPECT_TRUE(imagesNamed(list, named).empty());
}

TEST(SharedImageList, AFrameSectionIsCopiedOnceWithItsSearchTableAndOutlivesTheUnloadWhileHeld) {
    using namespace dzcrash::async;
    dzcrash_image_list* list = dzcrash_shared_image_list();
    void* handle = dyld_dlopen(DZCRASH_TEST_IMAGE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    const auto function = reinterpret_cast<uintptr_t>(dlsym(handle, "dzcrash_test_image_function"));
    dzcrash_image_list_set_reading(list, true);
    const dzcrash_macho_image* image = dzcrash_image_list_find(list, function);
    ASSERT_NE(image, nullptr);
    const uint64_t tableCount = image->elf.search_table_count;
    dzcrash_image_list_set_reading(list, false);
    EXPECT_GT(tableCount, 0u) << "the linker writes a search table into the frame header";

    dwarf_frame_section first;
    dwarf_frame_section second;
    ASSERT_EQ(dwarf_frame_section_map(list, function, &first), DZCRASH_ESUCCESS);
    const mach_port_urefs_t refsHeld = taskReferences();
    ASSERT_EQ(dwarf_frame_section_map(list, function, &second), DZCRASH_ESUCCESS);
    EXPECT_EQ(taskReferences(), refsHeld + 2) << "the section and its table each hold a reference";
    EXPECT_FALSE(first.debug_frame);
    EXPECT_EQ(first.table_count, tableCount);
    const dzcrash_vm_address_t base = dzcrash_async_mobject_base_address(&first.mobj);
    ASSERT_NE(dzcrash_async_mobject_remap_address(&first.mobj, base, 0, 4), nullptr);
    EXPECT_EQ(dzcrash_async_mobject_remap_address(&first.mobj, base, 0, 4),
              dzcrash_async_mobject_remap_address(&second.mobj, base, 0, 4))
        << "both read the one copy the image keeps";
    dwarf_frame_section_free(&second);
    EXPECT_EQ(taskReferences(), refsHeld);

    // The table and the walk over every entry agree on the function's FDE.
    dwarf_frame_reader walked;
    dwarf_frame_reader_init(&walked, &first.mobj, first.byteorder, true, false);
    dwarf_frame_reader searched = walked;
    dwarf_frame_reader_use_search_table(&searched, &first.table, first.table_count, first.table_base);
    dzcrash_async_dwarf_fde_info_t byWalk;
    dzcrash_async_dwarf_fde_info_t byTable;
    ASSERT_EQ(dwarf_frame_reader_find_fde(&walked, 0, function + 1, &byWalk), DZCRASH_ESUCCESS);
    ASSERT_EQ(dwarf_frame_reader_find_fde(&searched, 0, function + 1, &byTable), DZCRASH_ESUCCESS);
    EXPECT_EQ(byTable.fde_offset, byWalk.fde_offset);
    EXPECT_LE(byTable.pc_start, function);
    EXPECT_GT(byTable.pc_end, function);

    // Unloaded while the section is held: the record, and with it the copy, stays.
    ASSERT_EQ(dyld_dlclose(handle), 0);
    EXPECT_EQ(dwarf_frame_reader_find_fde(&searched, 0, function + 1, &byTable), DZCRASH_ESUCCESS);
    EXPECT_EQ(byTable.fde_offset, byWalk.fde_offset);
    dwarf_frame_section_free(&first);
}

TEST(SharedImageList, MachOImagesAddedForTestsAreListedAndRemoved) {
    dzcrash_image_list* list = dzcrash_shared_image_list();
    MachOFixture fixture;
    fixture.symbols = {{"_fixture_entry", 0x1100}};
    fixture.place();
    DyldTesting::addImage(reinterpret_cast<const void*>(fixture.headerAddress()), "/fixture/Added.dylib",
                          fixture.slide());

    dzcrash_image_list_set_reading(list, true);
    dzcrash_macho_image* image = dzcrash_image_list_find(list, fixture.loaded(0x1104));
    ASSERT_NE(image, nullptr);
    EXPECT_STREQ(image->name, "/fixture/Added.dylib");
    EXPECT_EQ(image->format, DZCRASH_IMAGE_MACHO);
    Found found;
    EXPECT_EQ(dzcrash_macho_find_symbol(image, 1, nullptr, fixture.loaded(0x1104), recordFound, &found),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(found.name, "_fixture_entry");
    dzcrash_image_list_set_reading(list, false);

    DyldTesting::removeImage(reinterpret_cast<const void*>(fixture.headerAddress()));
    dzcrash_image_list_set_reading(list, true);
    EXPECT_EQ(dzcrash_image_list_find(list, fixture.loaded(0x1104)), nullptr);
    dzcrash_image_list_set_reading(list, false);
}

TEST(ImageList, KeepsOrderSkipsUnreadableImagesAndReleasesEverything) {
    const mach_port_urefs_t refsBefore = taskReferences();
    MachOFixture first, second, third, unreadable;
    unreadable.magic = FAT_MAGIC;
    for (MachOFixture* fixture : {&first, &second, &third, &unreadable}) fixture->place();
    {
        dzcrash_image_list list;
        dzcrash_image_list_init(&list, mach_task_self());
        dzcrash_image_list_add(&list, first.headerAddress(), "first");
        dzcrash_image_list_add(&list, unreadable.headerAddress(), "unreadable");
        dzcrash_image_list_add(&list, second.headerAddress(), "second");
        dzcrash_image_list_add(&list, third.headerAddress(), "third");
        const auto names = [&] {
            std::vector<std::string> listed;
            for (auto* image : imagesNamed(&list, [](const char*) { return true; }))
                listed.push_back(image->name);
            return listed;
        };
        EXPECT_EQ(names(), (std::vector<std::string>{"first", "second", "third"}));

        dzcrash_image_list_set_reading(&list, true);
        dzcrash_macho_image* held = dzcrash_image_list_find(&list, second.headerAddress() + 8);
        ASSERT_NE(held, nullptr);
        EXPECT_STREQ(held->name, "second");
        dzcrash_image_list_remove(&list, second.headerAddress());
        dzcrash_macho_image* following = dzcrash_image_list_next(&list, held);
        ASSERT_NE(following, nullptr) << "a walk standing on a removed record goes on";
        EXPECT_STREQ(following->name, "third");
        EXPECT_EQ(dzcrash_image_list_find(&list, second.headerAddress() + 8), nullptr);
        dzcrash_image_list_set_reading(&list, false);
        EXPECT_EQ(names(), (std::vector<std::string>{"first", "third"}));
        dzcrash_image_list_remove(&list, first.headerAddress() + 1);  // no image starts there
        EXPECT_EQ(names(), (std::vector<std::string>{"first", "third"}));

        // With no reader about, a removal releases the record at once, not at the next change.
        const mach_port_urefs_t refsWithThird = taskReferences();
        dzcrash_image_list_remove(&list, third.headerAddress());
        EXPECT_EQ(names(), (std::vector<std::string>{"first"}));
        EXPECT_LT(taskReferences(), refsWithThird);
    }
    EXPECT_EQ(taskReferences(), refsBefore);
}
