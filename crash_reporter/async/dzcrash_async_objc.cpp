#include "crash_reporter/async/dzcrash_async_objc.h"

#include "platform/mach/mach_port.h"
#include "platform/mach/vm_map.h"

namespace {

constexpr uint64_t kIsaMask64 = 0x7ffffffffff8ULL;
constexpr uint32_t kRealizedFlag = 0x80000000u;
constexpr uint32_t kFutureFlag = 0x8000000u;  // the read-only record was copied out of the image
constexpr uint32_t kRelativeMethodsFlag = 0x80000000u;
constexpr uint32_t kLegacyNoMethodArray = 0x4000;
constexpr size_t kClassCacheBytes =
    DZCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS * sizeof(dzcrash_async_objc_class_cache_entry_t);
constexpr dzcrash_vm_size_t kStringPage = 4096;

struct Walk {
    const dzcrash_macho_image* image;
    dzcrash_async_objc_cache_t* cache;
    dzcrash_async_objc_found_method_cb callback;
    void* context;
    uint64_t width;  // of a pointer in the image
};

uint64_t decode(const Walk& walk, const uint8_t* bytes, uint64_t offset) {
    if (walk.width == 8) {
        uint64_t value;
        dzcrash_copy_bytes(&value, bytes + offset, 8);
        return walk.image->byteorder->swap64(value);
    }
    uint32_t value;
    dzcrash_copy_bytes(&value, bytes + offset, 4);
    return walk.image->byteorder->swap32(value);
}
uint32_t decode32(const Walk& walk, const uint8_t* bytes, uint64_t offset) {
    uint32_t value;
    dzcrash_copy_bytes(&value, bytes + offset, 4);
    return walk.image->byteorder->swap32(value);
}

// The local copy of `length` bytes at `address` when they lie in the section.
const uint8_t* in_section(const dzcrash_async_objc_section_t& section, dzcrash_vm_address_t address,
                          uint64_t length) {
    if (!section.mapped) return nullptr;
    return static_cast<const uint8_t*>(
        dzcrash_async_mobject_remap_address(&section.mobj, address, 0, length));
}

dzcrash_error_t read_pointer(const Walk& walk, dzcrash_vm_address_t address, uint64_t* value) {
    uint8_t bytes[8];
    const dzcrash_error_t error = dzcrash_safe_read(walk.image->task, address, 0, bytes, walk.width);
    if (error == DZCRASH_ESUCCESS) *value = decode(walk, bytes, 0);
    return error;
}

void unmap_sections(dzcrash_async_objc_cache_t* cache) {
    dzcrash_async_objc_section_t* sections[] = {
        &cache->objc_const, &cache->objc_const_ax, &cache->objc_methlist, &cache->selrefs,
        &cache->classlist,  &cache->catlist,       &cache->objc_data,     &cache->data};
    for (dzcrash_async_objc_section_t* section : sections) {
        if (section->mapped) dzcrash_async_mobject_free(&section->mobj);
        section->mapped = false;
    }
    cache->image = nullptr;
}

// The section from the first of `segments` that has it.
dzcrash_error_t map_section(const dzcrash_macho_image* image, const char* const* segments, size_t count,
                            const char* name, dzcrash_async_objc_section_t* section) {
    dzcrash_error_t error = DZCRASH_ENOTFOUND;
    for (size_t i = 0; i < count && error != DZCRASH_ESUCCESS; ++i) {
        error = dzcrash_macho_map_section(image, segments[i], name, &section->mobj);
    }
    section->mapped = error == DZCRASH_ESUCCESS;
    return error;
}

dzcrash_error_t map_sections(const dzcrash_macho_image* image, dzcrash_async_objc_cache_t* cache) {
    if (cache->image == image) return DZCRASH_ESUCCESS;
    unmap_sections(cache);
    static const char* const kData[] = {"__DATA"};
    static const char* const kText[] = {"__TEXT"};
    static const char* const kAnyData[] = {"__DATA", "__DATA_CONST", "__DATA_DIRTY"};
    const struct {
        const char* const* segments;
        size_t count;
        const char* name;
        dzcrash_async_objc_section_t* section;
        bool required;
    } wanted[] = {
        {kAnyData, 3, "__objc_const", &cache->objc_const, true},
        {kData, 1, "__objc_const_ax", &cache->objc_const_ax, false},
        {kText, 1, "__objc_methlist", &cache->objc_methlist, false},
        {kData, 1, "__objc_selrefs", &cache->selrefs, false},
        {kAnyData, 3, "__objc_classlist", &cache->classlist, true},
        {kAnyData, 3, "__objc_catlist", &cache->catlist, true},
        {kData, 1, "__objc_data", &cache->objc_data, true},
        {kData, 1, "__data", &cache->data, false},
    };
    for (const auto& section : wanted) {
        const dzcrash_error_t error =
            map_section(image, section.segments, section.count, section.name, section.section);
        if (error != DZCRASH_ESUCCESS && section.required) {
            unmap_sections(cache);
            return error;
        }
    }
    cache->image = image;
    return DZCRASH_ESUCCESS;
}

bool cached_ro(const dzcrash_async_objc_cache_t* cache, dzcrash_vm_address_t data, dzcrash_vm_address_t* ro) {
    if (cache->class_cache == nullptr) return false;
    const dzcrash_async_objc_class_cache_entry_t& slot =
        cache->class_cache[(data / 4) % DZCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS];
    if (slot.class_data != data || data == 0) return false;
    *ro = slot.class_ro;
    return true;
}

void cache_ro(dzcrash_async_objc_cache_t* cache, dzcrash_vm_address_t data, dzcrash_vm_address_t ro) {
    if (cache->class_cache == nullptr) {
        vm_address_t pages = 0;
        if (vm_allocate(mach_task_self(), &pages, kClassCacheBytes, VM_FLAGS_ANYWHERE) != KERN_SUCCESS)
            return;
        cache->class_cache = reinterpret_cast<dzcrash_async_objc_class_cache_entry_t*>(pages);
    }
    dzcrash_async_objc_class_cache_entry_t& slot =
        cache->class_cache[(data / 4) % DZCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS];
    if (slot.class_data != 0) return;
    slot.class_data = data;
    slot.class_ro = ro;
}

// The class's read-only record (72 bytes, 40 in a 32-bit image) into `ro`, from its data word.
dzcrash_error_t read_class_ro(const Walk& walk, uint64_t data_word, uint8_t* ro) {
    const uint64_t ro_size = walk.width == 8 ? 72 : 40;
    const dzcrash_vm_address_t data = walk.width == 8 ? data_word & kIsaMask64 : data_word & ~uint64_t{7};
    dzcrash_vm_address_t ro_address = 0;
    bool from_task = false;
    if (cached_ro(walk.cache, data, &ro_address)) {
        from_task = in_section(walk.cache->objc_const, ro_address, ro_size) == nullptr;
    } else {
        uint8_t rw[16];
        const uint64_t rw_size = walk.width == 8 ? 16 : 12;
        if (dzcrash_safe_read(walk.image->task, data, 0, rw, rw_size) != DZCRASH_ESUCCESS)
            return DZCRASH_EINVALID_DATA;
        const uint32_t flags = decode32(walk, rw, 0);
        ro_address = (flags & kRealizedFlag) ? decode(walk, rw, 8) : data;
        if (ro_address & 1) {
            if (read_pointer(walk, ro_address & ~uint64_t{1}, &ro_address) != DZCRASH_ESUCCESS) {
                return DZCRASH_EINVALID_DATA;
            }
        }
        from_task = (flags & kFutureFlag) || !dzcrash_macho_image_contains_address(walk.image, ro_address);
        if (!from_task && in_section(walk.cache->objc_const, ro_address, ro_size) == nullptr) {
            return DZCRASH_EINVALID_DATA;
        }
        cache_ro(walk.cache, data, ro_address);
    }
    if (from_task) {
        if (dzcrash_safe_read(walk.image->task, ro_address, 0, ro, ro_size) != DZCRASH_ESUCCESS) {
            return DZCRASH_EINVALID_DATA;
        }
    } else {
        dzcrash_copy_bytes(ro, in_section(walk.cache->objc_const, ro_address, ro_size), ro_size);
    }
    return DZCRASH_ESUCCESS;
}

// The name and method-list pointers of a read-only record.
uint64_t ro_name(const Walk& walk, const uint8_t* ro) {
    return decode(walk, ro, walk.width == 8 ? 24 : 16);
}
uint64_t ro_methods(const Walk& walk, const uint8_t* ro) {
    return decode(walk, ro, walk.width == 8 ? 32 : 20);
}

dzcrash_error_t walk_method_list(const Walk& walk, dzcrash_vm_address_t list,
                                 dzcrash_async_remote_string_t* class_name, bool is_class_method) {
    const dzcrash_async_objc_section_t* holders[] = {&walk.cache->objc_const, &walk.cache->objc_const_ax,
                                                     &walk.cache->objc_methlist};
    const dzcrash_async_objc_section_t* holder = nullptr;
    const uint8_t* header = nullptr;
    for (const dzcrash_async_objc_section_t* candidate : holders) {
        if ((header = in_section(*candidate, list, 8)) != nullptr) {
            holder = candidate;
            break;
        }
    }
    if (header == nullptr) return DZCRASH_EINVALID_DATA;
    const uint32_t first = decode32(walk, header, 0);
    const uint64_t entry_size = first & 0xfffc;
    const uint64_t count = decode32(walk, header, 4);
    const uint8_t* entries = in_section(*holder, list + 8, count * entry_size);
    if (entries == nullptr) return DZCRASH_EINVALID_DATA;
    const bool relative = (first & kRelativeMethodsFlag) != 0;
    if (entry_size < (relative ? 12 : 3 * walk.width)) return DZCRASH_EINVALID_DATA;

    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* entry = entries + i * entry_size;
        const dzcrash_vm_address_t entry_address = list + 8 + i * entry_size;
        dzcrash_vm_address_t name = 0;
        dzcrash_vm_address_t imp = 0;
        if (relative) {
            name = entry_address + static_cast<int64_t>(static_cast<int32_t>(decode32(walk, entry, 0)));
            imp = entry_address + 8 + static_cast<int64_t>(static_cast<int32_t>(decode32(walk, entry, 8)));
        } else {
            name = decode(walk, entry, 0);
            imp = decode(walk, entry, 2 * walk.width);
        }
        // A relative entry names its selector through the image's selector references.
        if (const uint8_t* selref = in_section(walk.cache->selrefs, name, walk.width))
            name = decode(walk, selref, 0);
        dzcrash_async_remote_string_t method_name;
        dzcrash_async_remote_string_init(&method_name, walk.image, name);
        walk.callback(is_class_method, class_name, &method_name, imp, walk.context);
        dzcrash_async_remote_string_free(&method_name);
    }
    return DZCRASH_ESUCCESS;
}

// Walks the methods of the class whose data word is `data_word`.
dzcrash_error_t walk_class_data(const Walk& walk, uint64_t data_word, bool is_class_method) {
    uint8_t ro[72];
    const dzcrash_error_t error = read_class_ro(walk, data_word, ro);
    if (error != DZCRASH_ESUCCESS) return error;
    const uint64_t methods = ro_methods(walk, ro);
    if (methods == 0) return DZCRASH_ESUCCESS;
    dzcrash_async_remote_string_t class_name;
    dzcrash_async_remote_string_init(&class_name, walk.image, ro_name(walk, ro));
    const dzcrash_error_t result = walk_method_list(walk, methods, &class_name, is_class_method);
    dzcrash_async_remote_string_free(&class_name);
    return result;
}

const uint8_t* class_record(const Walk& walk, dzcrash_vm_address_t address) {
    const uint64_t size = 5 * walk.width;
    const uint8_t* record = in_section(walk.cache->objc_data, address, size);
    return record ? record : in_section(walk.cache->data, address, size);
}

dzcrash_error_t walk_classes(const Walk& walk) {
    const dzcrash_async_objc_section_t& list = walk.cache->classlist;
    const uint64_t count = dzcrash_async_mobject_length(&list.mobj) / walk.width;
    const uint8_t* pointers =
        in_section(list, dzcrash_async_mobject_base_address(&list.mobj), count * walk.width);
    if (pointers == nullptr && count != 0) return DZCRASH_EINVALID_DATA;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* cls = class_record(walk, decode(walk, pointers, i * walk.width));
        if (cls == nullptr) return DZCRASH_EINVALID_DATA;
        dzcrash_error_t error = walk_class_data(walk, decode(walk, cls, 4 * walk.width), false);
        if (error == DZCRASH_ENOTFOUND) continue;
        if (error != DZCRASH_ESUCCESS) return error;
        uint64_t isa = decode(walk, cls, 0);
        if (walk.width == 8) {
            if (isa & 1) isa &= kIsaMask64;
        } else {
            isa &= ~uint64_t{7};
        }
        const uint8_t* meta = class_record(walk, isa);
        if (meta == nullptr) return DZCRASH_EINVALID_DATA;
        error = walk_class_data(walk, decode(walk, meta, 4 * walk.width), true);
        if (error != DZCRASH_ESUCCESS && error != DZCRASH_ENOTFOUND) return error;
    }
    return DZCRASH_ESUCCESS;
}

dzcrash_error_t walk_categories(const Walk& walk) {
    const dzcrash_async_objc_section_t& list = walk.cache->catlist;
    const uint64_t count = dzcrash_async_mobject_length(&list.mobj) / walk.width;
    const uint8_t* pointers =
        in_section(list, dzcrash_async_mobject_base_address(&list.mobj), count * walk.width);
    if (pointers == nullptr && count != 0) return DZCRASH_EINVALID_DATA;
    dzcrash_error_t result = DZCRASH_ESUCCESS;
    for (uint64_t i = 0; i < count && (result == DZCRASH_ESUCCESS || result == DZCRASH_ENOTFOUND); ++i) {
        const uint8_t* category =
            in_section(walk.cache->objc_const, decode(walk, pointers, i * walk.width), 6 * walk.width);
        if (category == nullptr) return DZCRASH_EINVALID_DATA;
        const dzcrash_vm_address_t cls_address = decode(walk, category, walk.width);
        uint8_t cls_bytes[40];
        const uint8_t* cls = in_section(walk.cache->objc_data, cls_address, 5 * walk.width);
        if (cls == nullptr) {
            if (dzcrash_safe_read(walk.image->task, cls_address, 0, cls_bytes, 5 * walk.width) !=
                DZCRASH_ESUCCESS) {
                return DZCRASH_EINVALID_DATA;
            }
            cls = cls_bytes;
        }
        uint8_t ro[72];
        if ((result = read_class_ro(walk, decode(walk, cls, 4 * walk.width), ro)) != DZCRASH_ESUCCESS)
            return result;
        dzcrash_async_remote_string_t class_name;
        dzcrash_async_remote_string_init(&class_name, walk.image, ro_name(walk, ro));
        const uint64_t instance_methods = decode(walk, category, 2 * walk.width);
        const uint64_t class_methods = decode(walk, category, 3 * walk.width);
        result = instance_methods ? walk_method_list(walk, instance_methods, &class_name, false)
                                  : DZCRASH_ENOTFOUND;
        if ((result == DZCRASH_ESUCCESS || result == DZCRASH_ENOTFOUND) && class_methods != 0) {
            result = walk_method_list(walk, class_methods, &class_name, true);
        }
        dzcrash_async_remote_string_free(&class_name);
    }
    // A category without methods is no failure.
    return result == DZCRASH_ENOTFOUND ? DZCRASH_ESUCCESS : result;
}

// The legacy class record's methods: one list, or an array of lists ended by 0 or -1.
dzcrash_error_t walk_legacy_class(const Walk& walk, const uint8_t* cls, bool is_class_method) {
    dzcrash_async_remote_string_t class_name;
    dzcrash_async_remote_string_init(&class_name, walk.image, decode32(walk, cls, 8));
    const uint32_t info = decode32(walk, cls, 16);
    const uint32_t method_lists = decode32(walk, cls, 28);
    dzcrash_error_t error = DZCRASH_ESUCCESS;
    for (uint32_t index = 0; error == DZCRASH_ESUCCESS && method_lists != 0; ++index) {
        uint32_t list = method_lists;
        if (!(info & kLegacyNoMethodArray)) {
            uint8_t word[4];
            if ((error = dzcrash_safe_read(walk.image->task, method_lists, index * 4, word, 4)) !=
                DZCRASH_ESUCCESS)
                break;
            list = decode32(walk, word, 0);
            if (list == 0 || list == 0xffffffffu) break;
        }
        uint8_t header[8];
        if ((error = dzcrash_safe_read(walk.image->task, list, 0, header, 8)) != DZCRASH_ESUCCESS) break;
        const uint32_t count = decode32(walk, header, 4);
        for (uint32_t i = 0; i < count && error == DZCRASH_ESUCCESS; ++i) {
            uint8_t entry[12];
            if ((error = dzcrash_safe_read(walk.image->task, list, 8 + int64_t{i} * 12, entry, 12)) !=
                DZCRASH_ESUCCESS)
                break;
            dzcrash_async_remote_string_t method_name;
            dzcrash_async_remote_string_init(&method_name, walk.image, decode32(walk, entry, 0));
            walk.callback(is_class_method, &class_name, &method_name, decode32(walk, entry, 8), walk.context);
            dzcrash_async_remote_string_free(&method_name);
        }
        if (info & kLegacyNoMethodArray) break;
    }
    dzcrash_async_remote_string_free(&class_name);
    return error;
}

dzcrash_error_t walk_legacy(const Walk& walk) {
    dzcrash_async_mobject_t modules;
    dzcrash_error_t error = dzcrash_macho_map_section(walk.image, "__OBJC", "__module_info", &modules);
    if (error != DZCRASH_ESUCCESS) return error;
    const dzcrash_vm_address_t base = dzcrash_async_mobject_base_address(&modules);
    const uint64_t count = dzcrash_async_mobject_length(&modules) / 16;
    for (uint64_t m = 0; m < count && error == DZCRASH_ESUCCESS; ++m) {
        const uint8_t* module =
            static_cast<const uint8_t*>(dzcrash_async_mobject_remap_address(&modules, base, m * 16, 16));
        const uint32_t symtab = decode32(walk, module, 12);
        if (symtab == 0) continue;
        uint8_t header[12];
        if ((error = dzcrash_safe_read(walk.image->task, symtab, 0, header, 12)) != DZCRASH_ESUCCESS) break;
        uint16_t classes;
        dzcrash_copy_bytes(&classes, header + 8, 2);
        classes = walk.image->byteorder->swap16(classes);
        for (uint32_t c = 0; c < classes && error == DZCRASH_ESUCCESS; ++c) {
            uint8_t pointer[4];
            uint8_t cls[40];
            uint8_t meta[40];
            if ((error = dzcrash_safe_read(walk.image->task, symtab, 12 + int64_t{c} * 4, pointer, 4)) !=
                    DZCRASH_ESUCCESS ||
                (error = dzcrash_safe_read(walk.image->task, decode32(walk, pointer, 0), 0, cls, 40)) !=
                    DZCRASH_ESUCCESS ||
                (error = walk_legacy_class(walk, cls, false)) != DZCRASH_ESUCCESS) {
                break;
            }
            uint32_t isa = decode32(walk, cls, 0);
            if (isa & 1) isa &= ~7u;
            if ((error = dzcrash_safe_read(walk.image->task, isa, 0, meta, 40)) != DZCRASH_ESUCCESS) break;
            error = walk_legacy_class(walk, meta, true);
        }
    }
    dzcrash_async_mobject_free(&modules);
    return error;
}

struct Nearest {
    dzcrash_vm_address_t pc;
    dzcrash_vm_address_t best;
    bool reported;
    dzcrash_async_objc_found_method_cb callback;
    void* context;
};

void keep_nearest(bool, dzcrash_async_remote_string_t*, dzcrash_async_remote_string_t*,
                  dzcrash_vm_address_t imp, void* context) {
    Nearest* nearest = static_cast<Nearest*>(context);
    if (imp <= nearest->pc && imp > nearest->best) nearest->best = imp;
}

void report_first_at_best(bool is_class_method, dzcrash_async_remote_string_t* class_name,
                          dzcrash_async_remote_string_t* method_name, dzcrash_vm_address_t imp,
                          void* context) {
    Nearest* nearest = static_cast<Nearest*>(context);
    if (nearest->reported || imp != nearest->best) return;
    nearest->reported = true;
    nearest->callback(is_class_method, class_name, method_name, imp, nearest->context);
}

// Maps a page at the string's address, then one more each time the NUL lies beyond the mapping.
dzcrash_error_t load_string(dzcrash_async_remote_string_t* string) {
    for (dzcrash_vm_size_t size = kStringPage;; size += kStringPage) {
        dzcrash_error_t error =
            dzcrash_async_mobject_init(&string->mobj, string->image->task, string->address, size, false);
        if (error != DZCRASH_ESUCCESS) return error;
        const dzcrash_vm_size_t held = dzcrash_async_mobject_length(&string->mobj);
        const char* bytes = static_cast<const char*>(
            dzcrash_async_mobject_remap_address(&string->mobj, string->address, 0, held));
        for (dzcrash_vm_size_t i = 0; bytes && i < held; ++i) {
            if (bytes[i] == '\0') {
                string->length = i;
                string->loaded = true;
                return DZCRASH_ESUCCESS;
            }
        }
        dzcrash_async_mobject_free(&string->mobj);
        // Only what could be mapped was scanned: the rest of the string cannot be reached.
        if (held < size) return DZCRASH_EINVAL;
    }
}

}  // namespace

dzcrash_error_t objc_cache_init(dzcrash_async_objc_cache_t* cache) noexcept {
    dzcrash_fill_bytes(cache, 0, sizeof *cache);
    return DZCRASH_ESUCCESS;
}

void objc_cache_free(dzcrash_async_objc_cache_t* cache) noexcept {
    unmap_sections(cache);
    if (cache->class_cache != nullptr) {
        vm_deallocate(mach_task_self(), reinterpret_cast<vm_address_t>(cache->class_cache), kClassCacheBytes);
        cache->class_cache = nullptr;
    }
}

void dzcrash_async_remote_string_init(dzcrash_async_remote_string_t* string, const dzcrash_macho_image* image,
                                      dzcrash_vm_address_t address) noexcept {
    dzcrash_fill_bytes(string, 0, sizeof *string);
    string->image = image;
    string->address = address;
}

dzcrash_error_t dzcrash_async_remote_string_length(dzcrash_async_remote_string_t* string,
                                                   dzcrash_vm_size_t* length) noexcept {
    if (!string->loaded) {
        const dzcrash_error_t error = load_string(string);
        if (error != DZCRASH_ESUCCESS) return error;
    }
    *length = string->length;
    return DZCRASH_ESUCCESS;
}

dzcrash_error_t dzcrash_async_remote_string_pointer(dzcrash_async_remote_string_t* string,
                                                    const char** pointer) noexcept {
    dzcrash_vm_size_t length = 0;
    if (dzcrash_async_remote_string_length(string, &length) != DZCRASH_ESUCCESS) return DZCRASH_EACCESS;
    *pointer = static_cast<const char*>(
        dzcrash_async_mobject_remap_address(&string->mobj, string->address, 0, length + 1));
    return *pointer ? DZCRASH_ESUCCESS : DZCRASH_EACCESS;
}

void dzcrash_async_remote_string_free(dzcrash_async_remote_string_t* string) noexcept {
    if (string->loaded) dzcrash_async_mobject_free(&string->mobj);
    string->loaded = false;
}

dzcrash_error_t dzcrash_async_objc_parse(const dzcrash_macho_image* image, dzcrash_async_objc_cache_t* cache,
                                         dzcrash_async_objc_found_method_cb callback,
                                         void* context) noexcept {
    if (cache == nullptr) return DZCRASH_EACCESS;
    const Walk walk{image, cache, callback, context, image->m64 ? 8u : 4u};
    if (!cache->got_objc2_info) {
        const dzcrash_error_t legacy = walk_legacy(walk);
        if (legacy != DZCRASH_ENOTFOUND) return legacy;
    }
    dzcrash_error_t error = map_sections(image, cache);
    if (error != DZCRASH_ESUCCESS) return error;
    error = walk_classes(walk);
    if (error == DZCRASH_ESUCCESS) error = walk_categories(walk);
    if (error == DZCRASH_ESUCCESS) cache->got_objc2_info = true;
    return error;
}

dzcrash_error_t dzcrash_async_objc_find_method(const dzcrash_macho_image* image,
                                               dzcrash_async_objc_cache_t* cache, dzcrash_vm_address_t pc,
                                               dzcrash_async_objc_found_method_cb callback,
                                               void* context) noexcept {
    Nearest nearest{pc, 0, false, callback, context};
    dzcrash_error_t error = dzcrash_async_objc_parse(image, cache, keep_nearest, &nearest);
    if (error != DZCRASH_ESUCCESS) return error;
    if (nearest.best == 0) return DZCRASH_ENOTFOUND;
    error = dzcrash_async_objc_parse(image, cache, report_first_at_best, &nearest);
    return error != DZCRASH_ESUCCESS ? error : nearest.reported ? DZCRASH_ESUCCESS : DZCRASH_ENOTFOUND;
}
