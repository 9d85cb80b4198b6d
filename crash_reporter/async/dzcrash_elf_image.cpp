#include "crash_reporter/async/dzcrash_elf_image.h"

#include <elf.h>

namespace {

constexpr uint32_t kElfMagicWord = 0x464c457f;  // "\x7fELF" read as a little-endian word
// Bounds for walks over data of the image, so a corrupt image cannot keep the reader going.
constexpr uint32_t kMostDynamicEntries = 4096;
constexpr uint32_t kMostNotes = 256;
constexpr uint32_t kMostChainSteps = 1u << 24;

template <class Record>
bool readRecord(const dzcrash_macho_image* image, dzcrash_vm_address_t address, Record* record) {
    return dzcrash_safe_read(image->task, address, 0, record, sizeof(Record)) == DZCRASH_ESUCCESS;
}

void setCpu(dzcrash_macho_image* image, uint16_t machine) {
    if (machine == EM_X86_64) {
        image->header.cputype = CPU_TYPE_X86_64;
        image->header.cpusubtype = CPU_SUBTYPE_X86_64_ALL;
    } else if (machine == EM_AARCH64) {
        image->header.cputype = CPU_TYPE_ARM64;
        image->header.cpusubtype = CPU_SUBTYPE_ARM64_ALL;
    }
}

uint32_t alignedNote(uint32_t size) {
    return (size + 3u) & ~3u;
}

// The first 16 bytes of the NT_GNU_BUILD_ID note in a PT_NOTE segment (shorter ids are padded
// with zeros).
bool readBuildId(dzcrash_macho_image* image, dzcrash_vm_address_t notes, uint64_t size) {
    uint64_t offset = 0;
    for (uint32_t count = 0; count < kMostNotes && offset + sizeof(Elf64_Nhdr) <= size; ++count) {
        Elf64_Nhdr note;
        if (!readRecord(image, notes + offset, &note)) return false;
        const uint64_t name = notes + offset + sizeof note;
        const uint64_t descriptor = name + alignedNote(note.n_namesz);
        char owner[4] = {};
        if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
            dzcrash_safe_read(image->task, name, 0, owner, 4) == DZCRASH_ESUCCESS &&
            dzcrash_string_compare_n(owner, "GNU", 4) == 0) {
            const uint32_t length = note.n_descsz < 16 ? note.n_descsz : 16;
            dzcrash_fill_bytes(image->elf.build_id, 0, 16);
            if (dzcrash_safe_read(image->task, descriptor, 0, image->elf.build_id, length) !=
                DZCRASH_ESUCCESS) {
                return false;
            }
            image->elf.has_build_id = true;
            return true;
        }
        offset += sizeof note + alignedNote(note.n_namesz) + alignedNote(note.n_descsz);
    }
    return false;
}

template <class Visit>
bool forEachProgramHeader(const dzcrash_macho_image* image, Visit visit) {
    for (uint16_t index = 0; index < image->elf.program_header_count; ++index) {
        Elf64_Phdr header;
        if (!readRecord(image, image->elf.program_headers + uint64_t{index} * sizeof header, &header))
            return false;
        visit(header);
    }
    return true;
}

// Finds .eh_frame and its length once, when the image is listed: walking its records takes a
// bounded read per record, far too many to repeat for every frame of every thread at crash time.
void locateFrameSection(dzcrash_macho_image* image);

}  // namespace

dzcrash_error_t dzcrash_elf_image_init(dzcrash_macho_image* image) noexcept {
    Elf64_Ehdr elf;
    if (!readRecord(image, image->header_addr, &elf)) return DZCRASH_EINTERNAL;
    const bool littleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    if (elf.e_ident[EI_CLASS] != ELFCLASS64 ||
        elf.e_ident[EI_DATA] != (littleEndian ? ELFDATA2LSB : ELFDATA2MSB) ||
        elf.e_phentsize != sizeof(Elf64_Phdr)) {
        return DZCRASH_EINVAL;
    }
    image->header.magic = kElfMagicWord;
    setCpu(image, elf.e_machine);
    image->header_size = elf.e_ehsize;
    image->m64 = true;
    image->byteorder = dzcrash_byteorder_direct();
    image->elf.program_headers = image->header_addr + elf.e_phoff;
    image->elf.program_header_count = elf.e_phnum;

    // The segment that maps the file's start holds the header: its address gives the load bias.
    bool headerFound = false;
    bool textFound = false;
    uint64_t textEnd = 0;
    dzcrash_vm_address_t notes[8];
    uint64_t noteSizes[8];
    uint32_t noteCount = 0;
    const bool read = forEachProgramHeader(image, [&](const Elf64_Phdr& header) {
        if (header.p_type == PT_LOAD && header.p_offset == 0 && !headerFound) {
            headerFound = true;
            image->text_vmaddr = header.p_vaddr;
        } else if (header.p_type == PT_NOTE && noteCount < 8) {
            notes[noteCount] = header.p_vaddr;
            noteSizes[noteCount++] = header.p_memsz;
        }
        if (header.p_type == PT_LOAD && (header.p_flags & PF_X)) {
            textFound = true;
            textEnd = header.p_vaddr + header.p_memsz;
        } else if (header.p_type == PT_DYNAMIC) {
            image->elf.dynamic = header.p_vaddr;
            image->elf.dynamic_size = header.p_memsz;
        } else if (header.p_type == PT_GNU_EH_FRAME) {
            image->elf.eh_frame_header = header.p_vaddr;
        }
    });
    if (!read) return DZCRASH_EINTERNAL;
    if (!headerFound || !textFound || textEnd <= image->text_vmaddr) return DZCRASH_EINVAL;
    image->vmaddr_slide = static_cast<int64_t>(image->header_addr - image->text_vmaddr);
    image->text_size = textEnd - image->text_vmaddr;
    const uint64_t slide = static_cast<uint64_t>(image->vmaddr_slide);
    if (image->elf.dynamic) image->elf.dynamic += slide;
    if (image->elf.eh_frame_header) image->elf.eh_frame_header += slide;
    for (uint32_t index = 0; index < noteCount && !image->elf.has_build_id; ++index) {
        readBuildId(image, notes[index] + slide, noteSizes[index]);
    }
    locateFrameSection(image);
    return DZCRASH_ESUCCESS;
}

namespace {

// The width of a pointer of the frame header in its encoding; 0 for an encoding it does not know.
uint64_t encodedWidth(uint8_t encoding) {
    switch (encoding & 0x0f) {
        case 0x00:
        case 0x04:
        case 0x0c:
            return 8;
        case 0x03:
        case 0x0b:
            return 4;
        default:
            return 0;
    }
}

// Reads a pointer of the frame header in its encoding; false for an encoding it does not know.
bool readEncodedPointer(const dzcrash_macho_image* image, uint8_t encoding, dzcrash_vm_address_t field,
                        dzcrash_vm_address_t* value) {
    uint64_t raw = 0;
    bool ok;
    switch (encoding & 0x0f) {
        case 0x00:
        case 0x04:
        case 0x0c:
            ok = dzcrash_safe_read(image->task, field, 0, &raw, 8) == DZCRASH_ESUCCESS;
            break;
        case 0x03: {
            uint32_t word;
            ok = readRecord(image, field, &word);
            raw = word;
            break;
        }
        case 0x0b: {
            int32_t word;
            ok = readRecord(image, field, &word);
            raw = static_cast<uint64_t>(int64_t{word});
            break;
        }
        default:
            return false;
    }
    if (!ok) return false;
    switch (encoding & 0x70) {
        case 0x00:
            *value = raw;
            return true;
        case 0x10:  // relative to the field itself
            *value = field + raw;
            return true;
        case 0x30:  // relative to the frame header
            *value = image->elf.eh_frame_header + raw;
            return true;
        default:
            return false;
    }
}

// The end of the loaded segment that holds `address`, 0 when none does.
dzcrash_vm_address_t segmentEnd(const dzcrash_macho_image* image, dzcrash_vm_address_t address) {
    const uint64_t slide = static_cast<uint64_t>(image->vmaddr_slide);
    dzcrash_vm_address_t end = 0;
    forEachProgramHeader(image, [&](const Elf64_Phdr& header) {
        if (header.p_type != PT_LOAD) return;
        const uint64_t start = header.p_vaddr + slide;
        if (address >= start && address - start < header.p_memsz) end = start + header.p_memsz;
    });
    return end;
}

// The length of .eh_frame: its records up to and including the zero terminator, within its segment.
dzcrash_vm_size_t frameSectionLength(const dzcrash_macho_image* image, dzcrash_vm_address_t start,
                                     dzcrash_vm_address_t limit) {
    dzcrash_vm_address_t cursor = start;
    while (cursor + 4 <= limit) {
        uint32_t length;
        if (!readRecord(image, cursor, &length)) break;
        if (length == 0) return cursor + 4 - start;
        uint64_t recordSize = 4 + uint64_t{length};
        if (length == 0xffffffff) {
            uint64_t extended;
            if (!readRecord(image, cursor + 4, &extended) || extended > limit) break;
            recordSize = 12 + extended;
        }
        if (recordSize > limit - cursor) break;
        cursor += recordSize;
    }
    return cursor - start;
}

// The table follows the section's address and the entry count. Only the form linkers write is
// used: offsets from the frame header, 4 bytes each, signed. It must lie within the segment.
void locateSearchTable(dzcrash_macho_image* image, const uint8_t head[4]) {
    constexpr uint8_t kHeaderRelativeSigned4 = 0x3b;
    const uint64_t pointerWidth = encodedWidth(head[1]);
    const uint64_t countWidth = encodedWidth(head[2]);
    if (head[2] == 0xff || head[3] != kHeaderRelativeSigned4 || countWidth == 0) return;
    const dzcrash_vm_address_t countField = image->elf.eh_frame_header + 4 + pointerWidth;
    dzcrash_vm_address_t count;
    if (!readEncodedPointer(image, head[2], countField, &count)) return;
    const dzcrash_vm_address_t table = countField + countWidth;
    const dzcrash_vm_address_t limit = segmentEnd(image, table);
    if (count == 0 || table >= limit || count > (limit - table) / 8) return;
    image->elf.search_table = table;
    image->elf.search_table_count = count;
}

void locateFrameSection(dzcrash_macho_image* image) {
    image->elf.eh_frame = 0;
    image->elf.eh_frame_length = 0;
    image->elf.eh_frame_error = DZCRASH_ENOTFOUND;
    if (!image->elf.eh_frame_header) return;
    uint8_t head[4];  // version, pointer encoding, count encoding, table encoding
    if (dzcrash_safe_read(image->task, image->elf.eh_frame_header, 0, head, sizeof head) !=
        DZCRASH_ESUCCESS) {
        image->elf.eh_frame_error = DZCRASH_EINTERNAL;
        return;
    }
    if (head[0] != 1) {
        image->elf.eh_frame_error = DZCRASH_EINVALID_DATA;
        return;
    }
    if (head[1] == 0xff) return;
    dzcrash_vm_address_t start;
    image->elf.eh_frame_error = DZCRASH_EINVALID_DATA;
    if (!readEncodedPointer(image, head[1], image->elf.eh_frame_header + 4, &start)) return;
    const dzcrash_vm_address_t limit = segmentEnd(image, start);
    if (limit == 0) return;
    const dzcrash_vm_size_t length = frameSectionLength(image, start, limit);
    if (length == 0) return;
    image->elf.eh_frame = start;
    image->elf.eh_frame_length = length;
    image->elf.eh_frame_error = DZCRASH_ESUCCESS;
    locateSearchTable(image, head);
}

}  // namespace

dzcrash_error_t dzcrash_elf_map_section(const dzcrash_macho_image* image, const char* segname,
                                        const char* sectname, dzcrash_async_mobject_t* mobj) noexcept {
    if (dzcrash_string_compare_n(segname, "__TEXT", 16) != 0 ||
        dzcrash_string_compare_n(sectname, "__eh_frame", 16) != 0) {
        return DZCRASH_ENOTFOUND;
    }
    if (image->elf.eh_frame_error != DZCRASH_ESUCCESS) return image->elf.eh_frame_error;
    return dzcrash_async_mobject_init(mobj, image->task, image->elf.eh_frame, image->elf.eh_frame_length,
                                      true);
}

namespace {

enum : uint32_t { kNoCopies = 0, kCopying = 1, kCopied = 2 };

}  // namespace

void dzcrash_elf_image_free(dzcrash_macho_image* image) noexcept {
    if (__atomic_load_n(&image->elf.frame_copies_state, __ATOMIC_ACQUIRE) != kCopied) return;
    dzcrash_async_mobject_free(&image->elf.eh_frame_copy);
    if (image->elf.search_table_copied) dzcrash_async_mobject_free(&image->elf.search_table_copy);
    image->elf.frame_copies_state = kNoCopies;
}

dzcrash_error_t dzcrash_elf_share_frame_section(dzcrash_macho_image* image, dzcrash_async_mobject_t* frames,
                                                dzcrash_async_mobject_t* table,
                                                uint64_t* table_count) noexcept {
    auto& elf = image->elf;
    *table_count = 0;
    if (elf.eh_frame_error != DZCRASH_ESUCCESS) return elf.eh_frame_error;
    uint32_t state = kNoCopies;
    if (__atomic_compare_exchange_n(&elf.frame_copies_state, &state, kCopying, false, __ATOMIC_ACQUIRE,
                                    __ATOMIC_ACQUIRE)) {
        const dzcrash_error_t error = dzcrash_async_mobject_init(&elf.eh_frame_copy, image->task,
                                                                 elf.eh_frame, elf.eh_frame_length, true);
        if (error != DZCRASH_ESUCCESS) {
            __atomic_store_n(&elf.frame_copies_state, kNoCopies, __ATOMIC_RELEASE);
            return error;
        }
        // Without its table the section is still searched, from its start.
        elf.search_table_copied =
            elf.search_table_count != 0 &&
            dzcrash_async_mobject_init(&elf.search_table_copy, image->task, elf.search_table,
                                       elf.search_table_count * 8, true) == DZCRASH_ESUCCESS;
        state = kCopied;
        __atomic_store_n(&elf.frame_copies_state, kCopied, __ATOMIC_RELEASE);
    }
    if (state != kCopied) {
        // The caller making the copies may never go on (a crash stopped it there): no waiting.
        return dzcrash_async_mobject_init(frames, image->task, elf.eh_frame, elf.eh_frame_length, true);
    }
    dzcrash_async_mobject_share(&elf.eh_frame_copy, frames);
    if (elf.search_table_copied) {
        dzcrash_async_mobject_share(&elf.search_table_copy, table);
        *table_count = elf.search_table_count;
    }
    return DZCRASH_ESUCCESS;
}

namespace {

// The dynamic symbol table, its strings and its length, copied for one lookup.
struct DynamicSymbols {
    dzcrash_async_mobject_t symbols;
    dzcrash_async_mobject_t strings;
    uint32_t count;
};

// The loader rewrites most dynamic entries to addresses; where it did not (the kernel's vDSO), the
// value is still relative to the image.
dzcrash_vm_address_t dynamicAddress(const dzcrash_macho_image* image, uint64_t value) {
    return value < image->header_addr ? value + static_cast<uint64_t>(image->vmaddr_slide) : value;
}

// The number of symbols, read from the GNU hash table: past the highest bucket's chain end.
bool countFromGnuHash(const dzcrash_macho_image* image, dzcrash_vm_address_t table, uint32_t* count) {
    uint32_t header[4];  // buckets, first hashed symbol, bloom words, bloom shift
    if (!readRecord(image, table, &header)) return false;
    const dzcrash_vm_address_t buckets = table + sizeof header + uint64_t{header[2]} * 8;
    dzcrash_async_mobject_t bucketCopy;
    if (header[0] == 0 || dzcrash_async_mobject_init(&bucketCopy, image->task, buckets,
                                                     uint64_t{header[0]} * 4, true) != DZCRASH_ESUCCESS) {
        return false;
    }
    uint32_t highest = 0;
    for (uint32_t index = 0; index < header[0]; ++index) {
        uint32_t bucket = 0;
        dzcrash_async_mobject_read_uint32(&bucketCopy, dzcrash_byteorder_direct(), buckets,
                                          int64_t{index} * 4, &bucket);
        if (bucket > highest) highest = bucket;
    }
    dzcrash_async_mobject_free(&bucketCopy);
    if (highest < header[1]) {
        *count = header[1];
        return true;
    }
    const dzcrash_vm_address_t chains = buckets + uint64_t{header[0]} * 4;
    for (uint32_t symbol = highest; symbol - highest < kMostChainSteps; ++symbol) {
        uint32_t hash;
        if (!readRecord(image, chains + uint64_t{symbol - header[1]} * 4, &hash)) return false;
        if (hash & 1) {
            *count = symbol + 1;
            return true;
        }
    }
    return false;
}

dzcrash_error_t mapDynamicSymbols(const dzcrash_macho_image* image, DynamicSymbols* table) {
    if (!image->elf.dynamic) return DZCRASH_ENOTFOUND;
    dzcrash_vm_address_t symbols = 0, strings = 0, gnuHash = 0, sysvHash = 0;
    uint64_t stringsSize = 0;
    const uint64_t entries = image->elf.dynamic_size / sizeof(Elf64_Dyn);
    for (uint64_t index = 0; index < entries && index < kMostDynamicEntries; ++index) {
        Elf64_Dyn entry;
        if (!readRecord(image, image->elf.dynamic + index * sizeof entry, &entry)) return DZCRASH_EINTERNAL;
        if (entry.d_tag == DT_NULL) break;
        if (entry.d_tag == DT_SYMTAB) symbols = dynamicAddress(image, entry.d_un.d_ptr);
        if (entry.d_tag == DT_STRTAB) strings = dynamicAddress(image, entry.d_un.d_ptr);
        if (entry.d_tag == DT_STRSZ) stringsSize = entry.d_un.d_val;
        if (entry.d_tag == DT_GNU_HASH) gnuHash = dynamicAddress(image, entry.d_un.d_ptr);
        if (entry.d_tag == DT_HASH) sysvHash = dynamicAddress(image, entry.d_un.d_ptr);
    }
    if (!symbols || !strings || stringsSize == 0 || (!gnuHash && !sysvHash)) return DZCRASH_ENOTFOUND;
    uint32_t count = 0;
    if (sysvHash) {
        uint32_t header[2];  // buckets, chain length = symbol count
        if (!readRecord(image, sysvHash, &header)) return DZCRASH_EINTERNAL;
        count = header[1];
    } else if (!countFromGnuHash(image, gnuHash, &count)) {
        return DZCRASH_EINTERNAL;
    }
    if (count == 0) return DZCRASH_ENOTFOUND;
    if (dzcrash_async_mobject_init(&table->symbols, image->task, symbols, uint64_t{count} * sizeof(Elf64_Sym),
                                   true) != DZCRASH_ESUCCESS) {
        return DZCRASH_EINTERNAL;
    }
    if (dzcrash_async_mobject_init(&table->strings, image->task, strings, stringsSize, true) !=
        DZCRASH_ESUCCESS) {
        dzcrash_async_mobject_free(&table->symbols);
        return DZCRASH_EINTERNAL;
    }
    table->count = count;
    return DZCRASH_ESUCCESS;
}

void freeDynamicSymbols(DynamicSymbols* table) {
    dzcrash_async_mobject_free(&table->symbols);
    dzcrash_async_mobject_free(&table->strings);
}

Elf64_Sym symbolAt(const DynamicSymbols& table, uint32_t index) {
    Elf64_Sym symbol;
    dzcrash_copy_bytes(&symbol,
                       reinterpret_cast<const void*>(table.symbols.address + uint64_t{index} * sizeof symbol),
                       sizeof symbol);
    return symbol;
}

// Symbols that stand for an address in the image: absolute values and thread-local offsets do not.
bool isDefinedAddress(const Elf64_Sym& symbol) {
    return symbol.st_shndx != SHN_UNDEF && symbol.st_shndx != SHN_ABS &&
           ELF64_ST_TYPE(symbol.st_info) != STT_TLS;
}

const char* nameOf(const DynamicSymbols& table, uint32_t offset) {
    for (uint64_t index = offset;; ++index) {
        const void* byte = dzcrash_async_mobject_remap_address(&table.strings, table.strings.task_address,
                                                               static_cast<int64_t>(index), 1);
        if (!byte) return nullptr;
        if (*static_cast<const char*>(byte) == '\0') break;
    }
    return reinterpret_cast<const char*>(table.strings.address + offset);
}

}  // namespace

dzcrash_error_t dzcrash_elf_find_symbol_by_pc(const dzcrash_macho_image* image, dzcrash_vm_address_t pc,
                                              dzcrash_macho_found_symbol_cb callback,
                                              void* context) noexcept {
    DynamicSymbols table;
    const dzcrash_error_t error = mapDynamicSymbols(image, &table);
    if (error != DZCRASH_ESUCCESS) return error;
    const uint64_t relativePc = pc - static_cast<uint64_t>(image->vmaddr_slide);
    bool found = false;
    Elf64_Sym best{};
    for (uint32_t index = 1; index < table.count; ++index) {
        const Elf64_Sym symbol = symbolAt(table, index);
        if (!isDefinedAddress(symbol) || symbol.st_value > relativePc) continue;
        if (found && symbol.st_value <= best.st_value) continue;
        found = true;
        best = symbol;
    }
    dzcrash_error_t result = DZCRASH_ENOTFOUND;
    if (found) {
        const char* name = nameOf(table, best.st_name);
        result = name ? DZCRASH_ESUCCESS : DZCRASH_EINVAL;
        if (name) callback(best.st_value + static_cast<uint64_t>(image->vmaddr_slide), name, context);
    }
    freeDynamicSymbols(&table);
    return result;
}

dzcrash_error_t dzcrash_elf_find_symbol_by_name(const dzcrash_macho_image* image, const char* name,
                                                dzcrash_vm_address_t* pc) noexcept {
    DynamicSymbols table;
    const dzcrash_error_t error = mapDynamicSymbols(image, &table);
    if (error != DZCRASH_ESUCCESS) return error;
    dzcrash_error_t result = DZCRASH_ENOTFOUND;
    for (uint32_t index = 1; index < table.count; ++index) {
        const Elf64_Sym symbol = symbolAt(table, index);
        if (!isDefinedAddress(symbol)) continue;
        const char* candidate = nameOf(table, symbol.st_name);
        if (!candidate) {
            result = DZCRASH_EINVAL;
            break;
        }
        if (dzcrash_string_compare(candidate, name) != 0) continue;
        *pc = symbol.st_value + static_cast<uint64_t>(image->vmaddr_slide);
        result = DZCRASH_ESUCCESS;
        break;
    }
    freeDynamicSymbols(&table);
    return result;
}
