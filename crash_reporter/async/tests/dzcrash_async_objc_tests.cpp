#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "crash_reporter/async/dzcrash_async_objc.h"
#include "crash_reporter/async/dzcrash_image_list.h"
#include "crash_reporter/async/testing/MachOFixture.h"
#include "platform/mach/mach_port.h"

namespace {

// A 64-bit image with Objective-C metadata, written into the placed fixture: strings in
// __TEXT,__cstring, relative method lists in __TEXT,__objc_methlist, the rest in __DATA.
class ObjCImage {
  public:
    enum Text { kCode, kStrings, kMethlist };
    enum Data { kObjcData, kConst, kSelRefs, kClassList, kCatList };
    struct Method {
        std::string name;
        uint64_t imp;
    };

    // The class and category lists are whole sections, so their lengths are fixed up front.
    explicit ObjCImage(size_t classes, size_t categories = 0, bool withClassList = true) {
        fixture_.textSections = {{"__text", std::vector<uint8_t>(0x400, 0x90)},
                                 {"__cstring", std::vector<uint8_t>(0x4000, 0)},
                                 {"__objc_methlist", std::vector<uint8_t>(0x400, 0)}};
        fixture_.dataSections = {{"__objc_data", std::vector<uint8_t>(0x400, 0)},
                                 {"__objc_const", std::vector<uint8_t>(0x1000, 0)},
                                 {"__objc_selrefs", std::vector<uint8_t>(0x100, 0)},
                                 {"__objc_classlist", std::vector<uint8_t>(8 * classes, 0)},
                                 {"__objc_catlist", std::vector<uint8_t>(8 * categories, 0)}};
        if (!withClassList) fixture_.dataSections[kClassList].name = "__other";
    }

    MachOFixture& fixture() { return fixture_; }
    void place() {
        fixture_.place();
        for (int i = 0; i < 3; ++i) textNext_[i] = fixture_.textSectionLoaded(static_cast<size_t>(i));
        for (int i = 0; i < 5; ++i) dataNext_[i] = fixture_.dataSectionLoaded(static_cast<size_t>(i));
        dzcrash_image_list_init(&list_, mach_task_self());
        dzcrash_image_list_add(&list_, fixture_.headerAddress(), "/fixture/objc");
    }
    const dzcrash_macho_image* image() { return dzcrash_image_list_find(&list_, fixture_.headerAddress()); }
    uint64_t code(uint64_t offset) const { return fixture_.textSectionLoaded(kCode) + offset; }

    uint64_t string(const std::string& text) {
        const uint64_t at = take(textNext_[kStrings], text.size() + 1);
        memcpy(fixture_.bytesAt(at), text.c_str(), text.size() + 1);
        return at;
    }
    // A method list with pointer entries of `entrySize` bytes and `flags` in the low bits of its first word.
    uint64_t methodList(const std::vector<Method>& methods, uint32_t entrySize = 24, uint32_t flags = 0x3,
                        bool nameThroughSelRef = false) {
        // Room for whole entries even when the stated size is too short for them.
        const uint64_t list = take(dataNext_[kConst], 8 + methods.size() * std::max<uint64_t>(entrySize, 24));
        put32(list, entrySize | flags);
        put32(list + 4, static_cast<uint32_t>(methods.size()));
        for (size_t i = 0; i < methods.size(); ++i) {
            const uint64_t entry = list + 8 + i * entrySize;
            uint64_t name = string(methods[i].name);
            if (nameThroughSelRef) name = selref(name);
            put64(entry, name);
            put64(entry + 16, methods[i].imp);
        }
        return list;
    }
    // Relative entries of 12 bytes: offsets from the entry to a selector reference and from its third
    // field to the implementation.
    uint64_t relativeMethodList(const std::vector<Method>& methods) {
        const uint64_t list = take(textNext_[kMethlist], 8 + methods.size() * 12);
        put32(list, 12 | 0x80000000u);
        put32(list + 4, static_cast<uint32_t>(methods.size()));
        for (size_t i = 0; i < methods.size(); ++i) {
            const uint64_t entry = list + 8 + i * 12;
            put32(entry, static_cast<uint32_t>(selref(string(methods[i].name)) - entry));
            put32(entry + 8, static_cast<uint32_t>(methods[i].imp - (entry + 8)));
        }
        return list;
    }
    uint64_t cls(const std::string& name, uint64_t methods, uint64_t classMethods = 0) {
        const uint64_t nameAt = string(name);
        const uint64_t meta = record(nameAt, classMethods, 0);
        const uint64_t c = record(nameAt, methods, meta);
        put64(nextListSlot(kClassList), c);
        return c;
    }
    void category(uint64_t ofClass, uint64_t methods, uint64_t classMethods) {
        const uint64_t cat = take(dataNext_[kConst], 48);
        put64(cat, string("Extras"));
        put64(cat + 8, ofClass);
        put64(cat + 16, methods);
        put64(cat + 24, classMethods);
        put64(nextListSlot(kCatList), cat);
    }

  private:
    static uint64_t take(uint64_t& next, uint64_t size) {
        const uint64_t at = next;
        next += (size + 7) / 8 * 8;
        return at;
    }
    void put32(uint64_t at, uint32_t value) { memcpy(fixture_.bytesAt(at), &value, 4); }
    void put64(uint64_t at, uint64_t value) { memcpy(fixture_.bytesAt(at), &value, 8); }
    uint64_t selref(uint64_t name) {
        const uint64_t at = take(dataNext_[kSelRefs], 8);
        put64(at, name);
        return at;
    }
    uint64_t nextListSlot(Data list) { return take(dataNext_[list], 8); }
    // A class record in __objc_data whose data word leads to a read-only record in __objc_const.
    uint64_t record(uint64_t name, uint64_t methods, uint64_t isa) {
        const uint64_t ro = take(dataNext_[kConst], 72);
        put64(ro + 24, name);
        put64(ro + 32, methods);
        const uint64_t c = take(dataNext_[kObjcData], 40);
        put64(c, isa);
        put64(c + 32, ro);
        return c;
    }

    MachOFixture fixture_;
    dzcrash_image_list list_;
    uint64_t textNext_[3] = {};
    uint64_t dataNext_[5] = {};
};

struct Seen {
    bool isClassMethod;
    std::string cls, method;
    uint64_t imp;
    bool operator==(const Seen&) const = default;
};
std::string text(dzcrash_async_remote_string_t* string) {
    const char* pointer = nullptr;
    EXPECT_EQ(dzcrash_async_remote_string_pointer(string, &pointer), DZCRASH_ESUCCESS);
    return pointer ? pointer : "";
}
void record(bool isClassMethod, dzcrash_async_remote_string_t* cls, dzcrash_async_remote_string_t* method,
            dzcrash_vm_address_t imp, void* context) {
    static_cast<std::vector<Seen>*>(context)->push_back({isClassMethod, text(cls), text(method), imp});
}

class ObjCCache {
  public:
    ObjCCache() { objc_cache_init(&cache); }
    ~ObjCCache() { objc_cache_free(&cache); }
    dzcrash_async_objc_cache_t cache;
};

}  // namespace

TEST(ObjCMethodReader, WalksClassesMetaclassesCategoriesAndRelativeLists) {
    ObjCImage objc(2, 1);
    objc.place();
    // The first word 24 | 0x3 would read as 27-byte entries if the flags were kept.
    const uint64_t widget =
        objc.cls("Widget", objc.methodList({{"draw", objc.code(0x10)}, {"resize:", objc.code(0x20)}}),
                 objc.methodList({{"new", objc.code(0x30)}}, 24, 0x3, true));
    objc.cls("Gadget", objc.relativeMethodList({{"spin", objc.code(0x40)}, {"stop", objc.code(0x48)}}));
    objc.category(widget, objc.methodList({{"extra", objc.code(0x50)}}),
                  objc.methodList({{"shared", objc.code(0x58)}}));

    ObjCCache cache;
    std::vector<Seen> seen;
    ASSERT_EQ(dzcrash_async_objc_parse(objc.image(), &cache.cache, record, &seen), DZCRASH_ESUCCESS);
    const std::vector<Seen> expected = {
        {false, "Widget", "draw", objc.code(0x10)},  {false, "Widget", "resize:", objc.code(0x20)},
        {true, "Widget", "new", objc.code(0x30)},    {false, "Gadget", "spin", objc.code(0x40)},
        {false, "Gadget", "stop", objc.code(0x48)},  {false, "Widget", "extra", objc.code(0x50)},
        {true, "Widget", "shared", objc.code(0x58)},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(cache.cache.got_objc2_info);
    EXPECT_NE(cache.cache.class_cache, nullptr);

    // A second walk comes from the cached sections and class records, with the same answer.
    seen.clear();
    ASSERT_EQ(dzcrash_async_objc_parse(objc.image(), &cache.cache, record, &seen), DZCRASH_ESUCCESS);
    EXPECT_EQ(seen, expected);
}

TEST(ObjCMethodReader, MissingMetadataOrCacheIsNotFound) {
    ObjCImage objc(0, 0, false);
    objc.place();
    ObjCCache cache;
    std::vector<Seen> seen;
    EXPECT_EQ(dzcrash_async_objc_parse(objc.image(), &cache.cache, record, &seen), DZCRASH_ENOTFOUND);
    EXPECT_EQ(dzcrash_async_objc_parse(objc.image(), nullptr, record, &seen), DZCRASH_EACCESS);
    EXPECT_TRUE(seen.empty());
}

TEST(ObjCMethodReader, MetadataOutsideItsSectionsIsInvalid) {
    ObjCImage objc(1);
    objc.place();
    // A class pointer into __text, where no class record may lie.
    const uint64_t bogus = objc.code(0);
    memcpy(objc.fixture().bytesAt(objc.fixture().dataSectionLoaded(ObjCImage::kClassList)), &bogus, 8);
    ObjCCache cache;
    std::vector<Seen> seen;
    EXPECT_EQ(dzcrash_async_objc_parse(objc.image(), &cache.cache, record, &seen), DZCRASH_EINVALID_DATA);
}

// The legacy metadata of a 32-bit image: modules, their symbol tables and class records, read
// from the task; a class with one method list and a metaclass with an array of them.
TEST(ObjCMethodReader, WalksTheLegacyMetadataOfA32BitImage) {
    MachOFixture fixture;
    fixture.is64 = false;
    fixture.cpuType = CPU_TYPE_X86;
    fixture.lowMemory = true;
    fixture.textSections = {{"__text", std::vector<uint8_t>(0x100, 0x90)},
                            {"__heap", std::vector<uint8_t>(0x400, 0)}};
    fixture.dataSegment = "__OBJC";
    fixture.dataSections = {{"__module_info", std::vector<uint8_t>(32, 0)}};
    fixture.place();
    const auto address = [](uint64_t at) { return static_cast<uint32_t>(at); };
    uint64_t next = fixture.textSectionLoaded(1);
    const auto take = [&next](uint64_t size) {
        const uint64_t at = next;
        next += (size + 7) / 8 * 8;
        return at;
    };
    const auto put = [&fixture](uint64_t at, uint32_t value) { memcpy(fixture.bytesAt(at), &value, 4); };
    const auto string = [&](const char* text) {
        const uint64_t at = take(strlen(text) + 1);
        memcpy(fixture.bytesAt(at), text, strlen(text) + 1);
        return address(at);
    };
    const auto methodList = [&](const char* name, uint32_t imp) {
        const uint64_t list = take(8 + 12);
        put(list + 4, 1);
        put(list + 8, string(name));
        put(list + 16, imp);
        return address(list);
    };
    const uint32_t code = address(fixture.textSectionLoaded(0));
    const uint32_t className = string("Old");
    const uint64_t meta = take(40);
    put(meta + 8, className);
    const uint64_t lists = take(12);
    put(lists, methodList("create", code + 0x20));
    put(meta + 28, address(lists));  // info 0: an array of lists, ended by 0
    const uint64_t cls = take(40);
    put(cls, address(meta) | 1);
    put(cls + 8, className);
    put(cls + 16, 0x4000);  // one list, no array
    put(cls + 28, methodList("run", code + 0x10));
    const uint64_t symtab = take(16);
    put(symtab + 8, 1);  // one class definition
    put(symtab + 12, address(cls));
    put(fixture.dataSectionLoaded(0) + 16 + 12, address(symtab));  // the second module; the first has none

    dzcrash_image_list list;
    dzcrash_image_list_init(&list, mach_task_self());
    dzcrash_image_list_add(&list, fixture.headerAddress(), "/fixture/legacy");
    ObjCCache cache;
    std::vector<Seen> seen;
    ASSERT_EQ(dzcrash_async_objc_parse(dzcrash_image_list_find(&list, fixture.headerAddress()), &cache.cache,
                                       record, &seen),
              DZCRASH_ESUCCESS);
    const std::vector<Seen> expected = {{false, "Old", "run", code + 0x10u},
                                        {true, "Old", "create", code + 0x20u}};
    EXPECT_EQ(seen, expected);
}

// Entries too short for their three pointers would be read past the list's end.
TEST(ObjCMethodReader, AMethodListWithEntriesTooShortIsInvalid) {
    ObjCImage objc(1);
    objc.place();
    objc.cls("Short", objc.methodList({{"a", objc.code(0x10)}}, 16, 0));
    ObjCCache cache;
    std::vector<Seen> seen;
    EXPECT_EQ(dzcrash_async_objc_parse(objc.image(), &cache.cache, record, &seen), DZCRASH_EINVALID_DATA);
    EXPECT_TRUE(seen.empty());
}

TEST(ObjCMethodReader, FindsTheGreatestImplementationAtOrBelowPcAndTheFirstOfEquals) {
    ObjCImage objc(1);
    objc.place();
    objc.cls("Twin",
             objc.methodList(
                 {{"first", objc.code(0x100)}, {"second", objc.code(0x100)}, {"later", objc.code(0x200)}}));
    ObjCCache cache;
    struct Case {
        uint64_t pc;
        dzcrash_error_t error;
        const char* method;
    } cases[] = {{0x0ff, DZCRASH_ENOTFOUND, ""},
                 {0x100, DZCRASH_ESUCCESS, "first"},
                 {0x1ff, DZCRASH_ESUCCESS, "first"},
                 {0x300, DZCRASH_ESUCCESS, "later"}};
    for (const Case& c : cases) {
        std::vector<Seen> seen;
        EXPECT_EQ(dzcrash_async_objc_find_method(objc.image(), &cache.cache, objc.code(c.pc), record, &seen),
                  c.error)
            << c.pc;
        if (c.error != DZCRASH_ESUCCESS) {
            EXPECT_TRUE(seen.empty());
            continue;
        }
        ASSERT_EQ(seen.size(), 1u) << c.pc;
        EXPECT_EQ(seen[0].method, c.method);
    }
}

TEST(ObjCMethodReader, ALongNameIsReadThroughAMappingThatGrowsAPageAtATime) {
    ObjCImage objc(1);
    objc.place();
    const std::string longName(5000, 'L');
    objc.cls(longName, objc.methodList({{"m", objc.code(0x10)}}));
    ObjCCache cache;
    std::vector<Seen> seen;
    ASSERT_EQ(dzcrash_async_objc_parse(objc.image(), &cache.cache, record, &seen), DZCRASH_ESUCCESS);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].cls, longName);

    dzcrash_async_remote_string_t string;
    dzcrash_async_remote_string_init(&string, objc.image(), objc.string(longName));
    dzcrash_vm_size_t length = 0;
    ASSERT_EQ(dzcrash_async_remote_string_length(&string, &length), DZCRASH_ESUCCESS);
    EXPECT_EQ(length, 5000u);
    EXPECT_EQ(dzcrash_async_mobject_length(&string.mobj), 8192u) << "one page more than the first try";
    dzcrash_async_remote_string_free(&string);
}

namespace {

struct Named {
    std::string name;
    uint64_t address = 0;
};
void keepName(dzcrash_vm_address_t address, const char* name, void* context) {
    *static_cast<Named*>(context) = {name, address};
}

}  // namespace

TEST(ObjCMethodReader, FindSymbolNamesMethodsOnATieAndCutsTheirNames) {
    ObjCImage objc(1);
    objc.fixture().symbols = {{"_drawSymbol", 0x1100}, {"_cutSymbol", 0x1200}};
    objc.place();
    const MachOFixture& image = objc.fixture();
    const std::string longSelector(300, 's');
    objc.cls("Cls", objc.methodList({{"sel", image.loaded(0x1100)}, {longSelector, image.loaded(0x1200)}}),
             objc.methodList({{"make", image.loaded(0x1300)}}));
    ObjCCache cache;
    const std::string cut = ("-[Cls " + longSelector).substr(0, 255);
    struct Case {
        uint32_t strategy;
        uint64_t pc;
        std::string name;
        uint64_t start;
    } cases[] = {
        {3, 0x1110, "-[Cls sel]", 0x1100},
        {1, 0x1110, "_drawSymbol", 0x1100},
        {2, 0x1110, "-[Cls sel]", 0x1100},
        {3, 0x1210, cut, 0x1200},  // no closing bracket after a cut method name
        {3, 0x1310, "+[Cls make]", 0x1300},
    };
    for (const Case& c : cases) {
        Named named;
        ASSERT_EQ(dzcrash_macho_find_symbol(objc.image(), c.strategy, &cache.cache, image.loaded(c.pc),
                                            keepName, &named),
                  DZCRASH_ESUCCESS)
            << c.strategy << " " << c.name;
        EXPECT_EQ(named.name, c.name);
        EXPECT_EQ(named.address, image.loaded(c.start));
    }
}

extern "C" [[gnu::noinline]] int dzcrash_objc_tests_exported(int value) {
    asm volatile("" ::: "memory");
    return value + 1;
}

// The images of a Linux process carry no Objective-C metadata: asking for it changes no name.
TEST(ObjCMethodReader, ElfImagesAreNamedFromTheirDynamicSymbolsOnly) {
    dzcrash_image_list* list = dzcrash_shared_image_list();
    const uint64_t pc = reinterpret_cast<uint64_t>(&dzcrash_objc_tests_exported) + 1;
    dzcrash_image_list_set_reading(list, true);
    const dzcrash_macho_image* image = dzcrash_image_list_find(list, pc);
    ASSERT_NE(image, nullptr);
    ObjCCache cache;
    Named symbolsOnly;
    Named both;
    EXPECT_EQ(dzcrash_macho_find_symbol(image, 1, &cache.cache, pc, keepName, &symbolsOnly),
              DZCRASH_ESUCCESS);
    EXPECT_EQ(dzcrash_macho_find_symbol(image, 3, &cache.cache, pc, keepName, &both), DZCRASH_ESUCCESS);
    Named methodsOnly;
    EXPECT_EQ(dzcrash_macho_find_symbol(image, 2, &cache.cache, pc, keepName, &methodsOnly),
              DZCRASH_ENOTFOUND);
    dzcrash_image_list_set_reading(list, false);
    EXPECT_EQ(symbolsOnly.name, "dzcrash_objc_tests_exported");
    EXPECT_EQ(both.name, symbolsOnly.name);
    EXPECT_EQ(both.address, symbolsOnly.address);
}
