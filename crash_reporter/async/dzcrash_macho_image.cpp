#include "crash_reporter/async/dzcrash_macho_image.h"

#include <cstdlib>
#include <cstring>

#include "crash_reporter/async/dzcrash_async_objc.h"
#include "crash_reporter/async/dzcrash_elf_image.h"
#include "platform/mach/mach_port.h"

namespace {

constexpr size_t kNameLimit = 256;

bool isElf(const uint8_t* bytes) {
    return bytes[0] == 0x7f && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F';
}

void releaseTaskAndName(dzcrash_macho_image* image) {
    free(image->name);
    image->name = nullptr;
    mach_port_deallocate(mach_task_self(), image->task);
}

uint32_t swap32(const dzcrash_macho_image* image, uint32_t value) {
    return image->byteorder->swap32(value);
}

uint64_t swap64(const dzcrash_macho_image* image, uint64_t value) {
    return image->byteorder->swap64(value);
}

bool verified(const dzcrash_macho_image* image, const void* local, size_t length) {
    return dzcrash_async_mobject_verify_local_pointer(&image->load_cmds, reinterpret_cast<uintptr_t>(local),
                                                      0, length);
}

template <class Record>
Record copyOf(const void* local) {
    Record record;
    memcpy(&record, local, sizeof record);
    return record;
}

// The fields of a segment command that callers need, from either width.
struct Segment {
    uint64_t vmaddr;
    uint64_t vmsize;
    uint64_t fileoff;
    uint64_t filesize;
    uint32_t nsects;
};

Segment segmentOf(const dzcrash_macho_image* image, const void* command) {
    if (image->m64) {
        const auto segment = copyOf<segment_command_64>(command);
        return {swap64(image, segment.vmaddr), swap64(image, segment.vmsize), swap64(image, segment.fileoff),
                swap64(image, segment.filesize), swap32(image, segment.nsects)};
    }
    const auto segment = copyOf<segment_command>(command);
    return {swap32(image, segment.vmaddr), swap32(image, segment.vmsize), swap32(image, segment.fileoff),
            swap32(image, segment.filesize), swap32(image, segment.nsects)};
}

uint32_t segmentCommandType(const dzcrash_macho_image* image) {
    return image->m64 ? LC_SEGMENT_64 : LC_SEGMENT;
}

size_t segmentCommandSize(const dzcrash_macho_image* image) {
    return image->m64 ? sizeof(segment_command_64) : sizeof(segment_command);
}

dzcrash_error_t readHeader(dzcrash_macho_image* image) {
    if (dzcrash_safe_read(image->task, image->header_addr, 0, &image->header, sizeof(mach_header)) !=
        DZCRASH_ESUCCESS) {
        return DZCRASH_EINTERNAL;
    }
    switch (image->header.magic) {
        case MH_MAGIC:
        case MH_CIGAM:
            image->m64 = false;
            image->header_size = sizeof(mach_header);
            break;
        case MH_MAGIC_64:
        case MH_CIGAM_64:
            image->m64 = true;
            image->header_size = sizeof(mach_header_64);
            break;
        default:
            return DZCRASH_EINVAL;
    }
    const bool direct = image->header.magic == MH_MAGIC || image->header.magic == MH_MAGIC_64;
    image->byteorder = direct ? dzcrash_byteorder_direct() : dzcrash_byteorder_swapped();
    image->ncmds = swap32(image, image->header.ncmds);
    return DZCRASH_ESUCCESS;
}

// The first "__TEXT" segment gives the image's extent and slide.
dzcrash_error_t findText(dzcrash_macho_image* image) {
    for (const void* command = dzcrash_macho_find_command(image, segmentCommandType(image)); command;
         command = dzcrash_macho_next_command_of_type(image, command, segmentCommandType(image))) {
        if (!verified(image, command, segmentCommandSize(image))) return DZCRASH_EINVAL;
        const char* segname = static_cast<const char*>(command) + sizeof(load_command);
        if (dzcrash_string_compare_n(segname, "__TEXT", 16) != 0) continue;
        const Segment text = segmentOf(image, command);
        image->text_vmaddr = text.vmaddr;
        image->text_size = text.vmsize;
        image->vmaddr_slide = static_cast<int64_t>(image->header_addr - text.vmaddr);
        return DZCRASH_ESUCCESS;
    }
    return DZCRASH_EINVAL;
}

dzcrash_error_t initMachO(dzcrash_macho_image* image) {
    dzcrash_error_t error = readHeader(image);
    if (error != DZCRASH_ESUCCESS) return error;
    error =
        dzcrash_async_mobject_init(&image->load_cmds, image->task, image->header_addr + image->header_size,
                                   swap32(image, image->header.sizeofcmds), true);
    if (error != DZCRASH_ESUCCESS) return error;
    error = findText(image);
    if (error != DZCRASH_ESUCCESS) dzcrash_async_mobject_free(&image->load_cmds);
    return error;
}

}  // namespace

dzcrash_error_t dzcrash_macho_image_init(dzcrash_macho_image* image, task_t task, const char* name,
                                         dzcrash_vm_address_t header_addr) {
    image->task = task;
    image->header_addr = header_addr;
    image->name = strdup(name ? name : "");
    if (!image->name) return DZCRASH_ENOMEM;
    mach_port_mod_refs(mach_task_self(), task, MACH_PORT_RIGHT_SEND, 1);

    uint8_t magic[4];
    dzcrash_error_t error = dzcrash_safe_read(task, header_addr, 0, magic, sizeof magic) == DZCRASH_ESUCCESS
                                ? DZCRASH_ESUCCESS
                                : DZCRASH_EINTERNAL;
    if (error == DZCRASH_ESUCCESS) {
        image->format = isElf(magic) ? DZCRASH_IMAGE_ELF : DZCRASH_IMAGE_MACHO;
        error = image->format == DZCRASH_IMAGE_ELF ? dzcrash_elf_image_init(image) : initMachO(image);
    }
    if (error != DZCRASH_ESUCCESS) releaseTaskAndName(image);
    return error;
}

void dzcrash_macho_image_free(dzcrash_macho_image* image) noexcept {
    if (image->format == DZCRASH_IMAGE_MACHO) dzcrash_async_mobject_free(&image->load_cmds);
    if (image->format == DZCRASH_IMAGE_ELF) dzcrash_elf_image_free(image);
    releaseTaskAndName(image);
}

bool dzcrash_macho_image_contains_address(const dzcrash_macho_image* image,
                                          dzcrash_vm_address_t address) noexcept {
    return address >= image->header_addr && address - image->header_addr < image->text_size;
}

int32_t dzcrash_macho_image_cpu_type(const dzcrash_macho_image* image) noexcept {
    return static_cast<int32_t>(swap32(image, static_cast<uint32_t>(image->header.cputype)));
}

int32_t dzcrash_macho_image_cpu_subtype(const dzcrash_macho_image* image) noexcept {
    return static_cast<int32_t>(swap32(image, static_cast<uint32_t>(image->header.cpusubtype)));
}

const mach_header_64* dzcrash_macho_image_header(const dzcrash_macho_image* image) noexcept {
    return &image->header;
}

uint32_t dzcrash_macho_image_header_size(const dzcrash_macho_image* image) noexcept {
    return image->header_size;
}

const dzcrash_async_byteorder_t* dzcrash_macho_image_byteorder(const dzcrash_macho_image* image) noexcept {
    return image->byteorder;
}

dzcrash_error_t dzcrash_macho_image_uuid(const dzcrash_macho_image* image, uint8_t uuid[16]) noexcept {
    if (image->format == DZCRASH_IMAGE_ELF) {
        if (!image->elf.has_build_id) return DZCRASH_ENOTFOUND;
        dzcrash_copy_bytes(uuid, image->elf.build_id, 16);
        return DZCRASH_ESUCCESS;
    }
    const void* command = dzcrash_macho_find_command(image, LC_UUID);
    if (!command) return DZCRASH_ENOTFOUND;
    if (!verified(image, command, sizeof(uuid_command))) return DZCRASH_EINVAL;
    dzcrash_copy_bytes(uuid, static_cast<const uint8_t*>(command) + sizeof(load_command), 16);
    return DZCRASH_ESUCCESS;
}

const void* dzcrash_macho_next_command(const dzcrash_macho_image* image, const void* previous) noexcept {
    if (image->format != DZCRASH_IMAGE_MACHO) return nullptr;
    if (!previous) {
        if (swap32(image, image->header.sizeofcmds) < sizeof(load_command)) return nullptr;
        const void* first = dzcrash_async_mobject_remap_address(
            &image->load_cmds, image->header_addr + image->header_size, 0, sizeof(load_command));
        return first;
    }
    if (!verified(image, previous, sizeof(load_command))) return nullptr;
    const uint32_t size = swap32(image, copyOf<load_command>(previous).cmdsize);
    if (size < sizeof(load_command)) return nullptr;
    const uintptr_t next = reinterpret_cast<uintptr_t>(previous) + size;
    if (next < reinterpret_cast<uintptr_t>(previous)) return nullptr;
    if (next >= image->load_cmds.address + image->load_cmds.length) return nullptr;
    const void* command = reinterpret_cast<const void*>(next);
    if (!verified(image, command, sizeof(load_command))) return nullptr;
    if (!verified(image, command, swap32(image, copyOf<load_command>(command).cmdsize))) return nullptr;
    return command;
}

const void* dzcrash_macho_next_command_of_type(const dzcrash_macho_image* image, const void* previous,
                                               uint32_t type) noexcept {
    for (const void* command = dzcrash_macho_next_command(image, previous); command;
         command = dzcrash_macho_next_command(image, command)) {
        if (swap32(image, copyOf<load_command>(command).cmd) == type) return command;
    }
    return nullptr;
}

const void* dzcrash_macho_find_command(const dzcrash_macho_image* image, uint32_t type) noexcept {
    return dzcrash_macho_next_command_of_type(image, nullptr, type);
}

const void* dzcrash_macho_find_segment_cmd(const dzcrash_macho_image* image, const char* segname) noexcept {
    for (const void* command = dzcrash_macho_find_command(image, segmentCommandType(image)); command;
         command = dzcrash_macho_next_command_of_type(image, command, segmentCommandType(image))) {
        if (!verified(image, command, segmentCommandSize(image))) return nullptr;
        const char* name = static_cast<const char*>(command) + sizeof(load_command);
        if (dzcrash_string_compare_n(name, segname, 16) == 0) return command;
    }
    return nullptr;
}

dzcrash_error_t dzcrash_macho_map_segment(const dzcrash_macho_image* image, const char* segname,
                                          dzcrash_macho_segment_t* segment) noexcept {
    const void* command = dzcrash_macho_find_segment_cmd(image, segname);
    if (!command) return DZCRASH_ENOTFOUND;
    const Segment found = segmentOf(image, command);
    const dzcrash_error_t error = dzcrash_async_mobject_init(
        &segment->mobj, image->task, found.vmaddr + static_cast<uint64_t>(image->vmaddr_slide), found.vmsize,
        false);
    if (error != DZCRASH_ESUCCESS) return error;
    segment->fileoff = found.fileoff;
    segment->filesize = found.filesize;
    return DZCRASH_ESUCCESS;
}

void dzcrash_macho_segment_free(dzcrash_macho_segment_t* segment) noexcept {
    dzcrash_async_mobject_free(&segment->mobj);
}

dzcrash_error_t dzcrash_macho_map_section(const dzcrash_macho_image* image, const char* segname,
                                          const char* sectname, dzcrash_async_mobject_t* mobj) noexcept {
    if (image->format == DZCRASH_IMAGE_ELF) return dzcrash_elf_map_section(image, segname, sectname, mobj);
    const void* command = dzcrash_macho_find_segment_cmd(image, segname);
    if (!command) return DZCRASH_ENOTFOUND;
    const uint32_t count = segmentOf(image, command).nsects;
    const size_t recordSize = image->m64 ? sizeof(section_64) : sizeof(section);
    const auto* record = static_cast<const uint8_t*>(command) + segmentCommandSize(image);
    for (uint32_t index = 0; index < count; ++index, record += recordSize) {
        if (!verified(image, record, recordSize)) return DZCRASH_EINVAL;
        if (dzcrash_string_compare_n(reinterpret_cast<const char*>(record), sectname, 16) != 0) continue;
        uint64_t address;
        uint64_t size;
        if (image->m64) {
            const auto found = copyOf<section_64>(record);
            address = swap64(image, found.addr);
            size = swap64(image, found.size);
        } else {
            const auto found = copyOf<section>(record);
            address = swap32(image, found.addr);
            size = swap32(image, found.size);
        }
        return dzcrash_async_mobject_init(mobj, image->task,
                                          address + static_cast<uint64_t>(image->vmaddr_slide), size, true);
    }
    return DZCRASH_ENOTFOUND;
}

dzcrash_error_t dzcrash_macho_symtab_reader_init(dzcrash_macho_symtab_reader* reader,
                                                 const dzcrash_macho_image* image) noexcept {
    *reader = dzcrash_macho_symtab_reader{};
    reader->image = image;
    const void* symtabCommand = dzcrash_macho_find_command(image, LC_SYMTAB);
    if (!symtabCommand) return DZCRASH_ENOTFOUND;
    if (!verified(image, symtabCommand, sizeof(symtab_command))) return DZCRASH_EINVAL;
    const void* dysymtabCommand = dzcrash_macho_find_command(image, LC_DYSYMTAB);
    if (dysymtabCommand && !verified(image, dysymtabCommand, sizeof(dysymtab_command))) return DZCRASH_EINVAL;
    if (dzcrash_macho_map_segment(image, "__LINKEDIT", &reader->linkedit) != DZCRASH_ESUCCESS) {
        return DZCRASH_EINTERNAL;
    }

    const auto symtab = copyOf<symtab_command>(symtabCommand);
    const dzcrash_async_mobject_t* linkedit = &reader->linkedit.mobj;
    const int64_t fileoff = static_cast<int64_t>(reader->linkedit.fileoff);
    const uint64_t entrySize = image->m64 ? sizeof(nlist_64) : sizeof(nlist);
    reader->nsyms = swap32(image, symtab.nsyms);
    reader->string_table_size = swap32(image, symtab.strsize);
    reader->symtab = dzcrash_async_mobject_remap_address(linkedit, linkedit->task_address,
                                                         int64_t{swap32(image, symtab.symoff)} - fileoff,
                                                         uint64_t{reader->nsyms} * entrySize);
    reader->string_table = static_cast<const char*>(dzcrash_async_mobject_remap_address(
        linkedit, linkedit->task_address, int64_t{swap32(image, symtab.stroff)} - fileoff,
        reader->string_table_size));
    if (!reader->symtab || !reader->string_table) {
        dzcrash_macho_segment_free(&reader->linkedit);
        return DZCRASH_EINTERNAL;
    }

    if (dysymtabCommand) {
        const auto dysymtab = copyOf<dysymtab_command>(dysymtabCommand);
        const uint32_t globalStart = swap32(image, dysymtab.iextdefsym);
        const uint32_t globalCount = swap32(image, dysymtab.nextdefsym);
        const uint32_t localStart = swap32(image, dysymtab.ilocalsym);
        const uint32_t localCount = swap32(image, dysymtab.nlocalsym);
        // Summed wide: a 32-bit sum that wraps would pass the check and point far past the table.
        if (uint64_t{globalStart} + globalCount > reader->nsyms ||
            uint64_t{localStart} + localCount > reader->nsyms) {
            dzcrash_macho_segment_free(&reader->linkedit);
            return DZCRASH_EINVAL;
        }
        const auto* table = static_cast<const uint8_t*>(reader->symtab);
        reader->symtab_global = table + globalStart * entrySize;
        reader->nsyms_global = globalCount;
        reader->symtab_local = table + localStart * entrySize;
        reader->nsyms_local = localCount;
    }
    return DZCRASH_ESUCCESS;
}

dzcrash_macho_symtab_entry dzcrash_macho_symtab_reader_read(const dzcrash_macho_symtab_reader* reader,
                                                            const void* table, uint32_t index) noexcept {
    const dzcrash_macho_image* image = reader->image;
    dzcrash_macho_symtab_entry entry{};
    if (image->m64) {
        const auto symbol = copyOf<nlist_64>(static_cast<const uint8_t*>(table) + index * sizeof(nlist_64));
        entry = {swap32(image, symbol.n_strx),
                 symbol.n_type,
                 symbol.n_sect,
                 image->byteorder->swap16(symbol.n_desc),
                 swap64(image, symbol.n_value),
                 0};
    } else {
        const auto symbol = copyOf<nlist>(static_cast<const uint8_t*>(table) + index * sizeof(nlist));
        entry = {swap32(image, symbol.n_strx),
                 symbol.n_type,
                 symbol.n_sect,
                 image->byteorder->swap16(static_cast<uint16_t>(symbol.n_desc)),
                 swap32(image, symbol.n_value),
                 0};
    }
    entry.normalized_value = entry.n_value | ((entry.n_desc & N_ARM_THUMB_DEF) ? 1 : 0);
    return entry;
}

const char* dzcrash_macho_symtab_reader_symbol_name(const dzcrash_macho_symtab_reader* reader,
                                                    uint32_t n_strx) noexcept {
    const dzcrash_async_mobject_t* linkedit = &reader->linkedit.mobj;
    const uintptr_t name = reinterpret_cast<uintptr_t>(reader->string_table);
    for (uint64_t offset = n_strx;; ++offset) {
        if (!dzcrash_async_mobject_verify_local_pointer(linkedit, name, static_cast<int64_t>(offset), 1))
            return nullptr;
        if (*reinterpret_cast<const char*>(name + offset) == '\0') break;
    }
    return reinterpret_cast<const char*>(name + n_strx);
}

void dzcrash_macho_symtab_reader_free(dzcrash_macho_symtab_reader* reader) noexcept {
    dzcrash_macho_segment_free(&reader->linkedit);
}

namespace {

// Symbols defined in a section of the image, whatever their visibility; debugger entries excluded.
bool isDefinedInSection(const dzcrash_macho_symtab_entry& entry) {
    return (entry.n_type & (N_STAB | N_TYPE)) == N_SECT;
}

struct Best {
    bool found = false;
    dzcrash_macho_symtab_entry entry{};
};

void scanForPc(const dzcrash_macho_symtab_reader* reader, const void* table, uint32_t count, uint64_t pc,
               Best& best) {
    for (uint32_t index = 0; index < count; ++index) {
        const dzcrash_macho_symtab_entry entry = dzcrash_macho_symtab_reader_read(reader, table, index);
        if (!isDefinedInSection(entry) || entry.n_value > pc) continue;
        if (best.found && entry.n_value <= best.entry.n_value) continue;
        best.found = true;
        best.entry = entry;
    }
}

}  // namespace

dzcrash_error_t dzcrash_macho_find_symbol_by_pc(const dzcrash_macho_image* image, dzcrash_vm_address_t pc,
                                                dzcrash_macho_found_symbol_cb callback,
                                                void* context) noexcept {
    if (image->format == DZCRASH_IMAGE_ELF)
        return dzcrash_elf_find_symbol_by_pc(image, pc, callback, context);
    dzcrash_macho_symtab_reader reader;
    const dzcrash_error_t error = dzcrash_macho_symtab_reader_init(&reader, image);
    if (error != DZCRASH_ESUCCESS) return error;
    const uint64_t relativePc = pc - static_cast<uint64_t>(image->vmaddr_slide);
    Best best;
    if (reader.symtab_global && reader.symtab_local) {
        scanForPc(&reader, reader.symtab_global, reader.nsyms_global, relativePc, best);
        scanForPc(&reader, reader.symtab_local, reader.nsyms_local, relativePc, best);
    } else {
        scanForPc(&reader, reader.symtab, reader.nsyms, relativePc, best);
    }
    if (!best.found) {
        dzcrash_macho_symtab_reader_free(&reader);
        return DZCRASH_ENOTFOUND;
    }
    const char* name = dzcrash_macho_symtab_reader_symbol_name(&reader, best.entry.n_strx);
    if (!name) {
        dzcrash_macho_symtab_reader_free(&reader);
        return DZCRASH_EINVAL;
    }
    callback(best.entry.normalized_value + static_cast<uint64_t>(image->vmaddr_slide), name, context);
    dzcrash_macho_symtab_reader_free(&reader);
    return DZCRASH_ESUCCESS;
}

dzcrash_error_t dzcrash_macho_find_symbol_by_name(const dzcrash_macho_image* image, const char* name,
                                                  dzcrash_vm_address_t* pc) noexcept {
    if (image->format == DZCRASH_IMAGE_ELF) return dzcrash_elf_find_symbol_by_name(image, name, pc);
    dzcrash_macho_symtab_reader reader;
    const dzcrash_error_t error = dzcrash_macho_symtab_reader_init(&reader, image);
    if (error != DZCRASH_ESUCCESS) return error;
    for (uint32_t index = 0; index < reader.nsyms; ++index) {
        const dzcrash_macho_symtab_entry entry =
            dzcrash_macho_symtab_reader_read(&reader, reader.symtab, index);
        if (!isDefinedInSection(entry)) continue;
        const char* candidate = dzcrash_macho_symtab_reader_symbol_name(&reader, entry.n_strx);
        if (!candidate) {
            dzcrash_macho_symtab_reader_free(&reader);
            return DZCRASH_EINVAL;
        }
        if (dzcrash_string_compare(candidate, name) != 0) continue;
        *pc = entry.normalized_value + static_cast<uint64_t>(image->vmaddr_slide);
        dzcrash_macho_symtab_reader_free(&reader);
        return DZCRASH_ESUCCESS;
    }
    dzcrash_macho_symtab_reader_free(&reader);
    return DZCRASH_ENOTFOUND;
}

namespace {

// What the lookup keeps between its sources: a fixed buffer, since it runs at crash time.
struct FoundName {
    bool stored = false;
    dzcrash_vm_address_t address = 0;
    char name[kNameLimit];
};

void storeSymbol(dzcrash_vm_address_t address, const char* name, void* context) {
    auto* found = static_cast<FoundName*>(context);
    if (found->stored && found->address > address) return;
    size_t length = 0;
    while (length < kNameLimit - 1 && name[length] != '\0') ++length;
    dzcrash_copy_bytes(found->name, name, length);
    found->name[length] = '\0';
    found->address = address;
    found->stored = true;
}

// "-[Class method]" or "+[Class method]", cut to the name limit; a cut inside the method name leaves
// the closing bracket out.
void storeMethod(bool is_class_method, dzcrash_async_remote_string_t* class_name,
                 dzcrash_async_remote_string_t* method_name, dzcrash_vm_address_t imp, void* context) {
    auto* found = static_cast<FoundName*>(context);
    if (found->stored && found->address > imp) return;
    const char* cls = nullptr;
    const char* sel = nullptr;
    if (dzcrash_async_remote_string_pointer(class_name, &cls) != DZCRASH_ESUCCESS ||
        dzcrash_async_remote_string_pointer(method_name, &sel) != DZCRASH_ESUCCESS) {
        return;
    }
    size_t length = 0;
    const auto append = [&](const char* text) {
        while (*text != '\0' && length < kNameLimit - 1) found->name[length++] = *text++;
    };
    append(is_class_method ? "+[" : "-[");
    append(cls);
    append(" ");
    append(sel);
    append("]");
    found->name[length] = '\0';
    found->address = imp;
    found->stored = true;
}

dzcrash_error_t findObjcMethod(const dzcrash_macho_image* image, void* cache, dzcrash_vm_address_t pc,
                               FoundName* found) {
    return dzcrash_async_objc_find_method(image, static_cast<dzcrash_async_objc_cache_t*>(cache), pc,
                                          storeMethod, found);
}

}  // namespace

dzcrash_error_t dzcrash_macho_find_symbol(const dzcrash_macho_image* image, uint32_t strategy,
                                          void* objc_cache, dzcrash_vm_address_t pc,
                                          dzcrash_macho_found_symbol_cb callback, void* context) noexcept {
    FoundName found;
    dzcrash_error_t symbolTable = DZCRASH_ENOTFOUND;
    dzcrash_error_t objc = DZCRASH_ENOTFOUND;
    if (strategy & DZCRASH_SYMBOL_STRATEGY_SYMBOL_TABLE) {
        symbolTable = dzcrash_macho_find_symbol_by_pc(image, pc, storeSymbol, &found);
    }
    if (strategy & DZCRASH_SYMBOL_STRATEGY_OBJC) objc = findObjcMethod(image, objc_cache, pc, &found);
    if (symbolTable != DZCRASH_ESUCCESS && objc != DZCRASH_ESUCCESS) return DZCRASH_ENOTFOUND;
    if (!found.stored) return DZCRASH_EINTERNAL;
    callback(found.address, found.name, context);
    return DZCRASH_ESUCCESS;
}
