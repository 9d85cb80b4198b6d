#pragma once
// A loaded image of a task, read without trusting a byte of it: its header and load commands, its
// segments and sections as memory objects, its symbol table, and which symbol covers an address.
// Mach-O images are parsed from their load commands; ELF images (what a Linux process holds) answer
// the same questions from their program headers: the executable segments stand for __TEXT, the
// .eh_frame that PT_GNU_EH_FRAME points to is "__TEXT,__eh_frame", and the dynamic symbol table is
// the symbol table. Everything but init (which copies the name) is async-signal-safe.
#include <cstdint>

#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/async/dzcrash_async_mobject.h"
#include "platform/dyld/loader.h"

enum dzcrash_image_format : uint8_t { DZCRASH_IMAGE_MACHO = 0, DZCRASH_IMAGE_ELF = 1 };

// What an ELF image's program headers tell; task addresses, 0 when absent.
struct dzcrash_elf_image_info {
    dzcrash_vm_address_t program_headers;
    uint16_t program_header_count;
    dzcrash_vm_address_t dynamic;
    dzcrash_vm_size_t dynamic_size;
    dzcrash_vm_address_t eh_frame_header;
    // .eh_frame as found when the image was read: where, how long, or why it cannot be mapped.
    dzcrash_vm_address_t eh_frame;
    dzcrash_vm_size_t eh_frame_length;
    dzcrash_error_t eh_frame_error;
    // The frame header's table of functions sorted by start, pairs of 4-byte offsets from the frame
    // header (a function's start, its FDE); 0 entries when the header has none in that form.
    dzcrash_vm_address_t search_table;
    uint64_t search_table_count;
    // Copies of .eh_frame and of the search table, made by the first unwind through the image and
    // kept with the record: a walk copies neither again for each of its frames. The state is read
    // and written with atomic builtins: 0 none, 1 being made, 2 made.
    uint32_t frame_copies_state;
    dzcrash_async_mobject_t eh_frame_copy;
    dzcrash_async_mobject_t search_table_copy;  // only with search_table_copied
    bool search_table_copied;
    bool has_build_id;
    uint8_t build_id[16];
};

struct dzcrash_macho_image {
    task_t task;  // one send-right reference held
    dzcrash_vm_address_t header_addr;
    int64_t vmaddr_slide;   // header address minus the text vmaddr, wrapping
    char* name;             // private copy
    mach_header_64 header;  // as read; for ELF, the ELF magic and the CPU type it stands for
    uint32_t header_size;
    uint32_t ncmds;
    dzcrash_async_mobject_t load_cmds;  // Mach-O only
    dzcrash_vm_address_t text_vmaddr;
    dzcrash_vm_size_t text_size;
    bool m64;
    const dzcrash_async_byteorder_t* byteorder;
    dzcrash_image_format format;
    dzcrash_elf_image_info elf;
    // The image list's node holding this record, so that a walk goes on from a record removed
    // under it; null until listed. Written and read with atomic builtins: the record is plain memory.
    void* list_node;
};

// Reads the image whose header is at `header_addr` of `task` into a zeroed record. DZCRASH_EINTERNAL
// when the header cannot be read, DZCRASH_EINVAL for an unknown magic or an image without text;
// on failure nothing is left to release but the record itself.
dzcrash_error_t dzcrash_macho_image_init(dzcrash_macho_image* image, task_t task, const char* name,
                                         dzcrash_vm_address_t header_addr);
void dzcrash_macho_image_free(dzcrash_macho_image* image) noexcept;

bool dzcrash_macho_image_contains_address(const dzcrash_macho_image* image,
                                          dzcrash_vm_address_t address) noexcept;
int32_t dzcrash_macho_image_cpu_type(const dzcrash_macho_image* image) noexcept;
int32_t dzcrash_macho_image_cpu_subtype(const dzcrash_macho_image* image) noexcept;
const mach_header_64* dzcrash_macho_image_header(const dzcrash_macho_image* image) noexcept;
uint32_t dzcrash_macho_image_header_size(const dzcrash_macho_image* image) noexcept;
const dzcrash_async_byteorder_t* dzcrash_macho_image_byteorder(const dzcrash_macho_image* image) noexcept;
// LC_UUID of a Mach-O image, the first 16 bytes of an ELF image's build id; DZCRASH_ENOTFOUND.
dzcrash_error_t dzcrash_macho_image_uuid(const dzcrash_macho_image* image, uint8_t uuid[16]) noexcept;

// Load commands as local pointers into the image's copy of them; null at the end. The walk ends at
// a command that is shorter than its head or does not lie wholly in the copy.
const void* dzcrash_macho_next_command(const dzcrash_macho_image* image, const void* previous) noexcept;
const void* dzcrash_macho_find_command(const dzcrash_macho_image* image, uint32_t type) noexcept;
const void* dzcrash_macho_next_command_of_type(const dzcrash_macho_image* image, const void* previous,
                                               uint32_t type) noexcept;
const void* dzcrash_macho_find_segment_cmd(const dzcrash_macho_image* image, const char* segname) noexcept;

struct dzcrash_macho_segment_t {
    dzcrash_async_mobject_t mobj;
    uint64_t fileoff;
    uint64_t filesize;
};
// DZCRASH_ENOTFOUND without such a segment; the mapping may hold only its readable start.
dzcrash_error_t dzcrash_macho_map_segment(const dzcrash_macho_image* image, const char* segname,
                                          dzcrash_macho_segment_t* segment) noexcept;
void dzcrash_macho_segment_free(dzcrash_macho_segment_t* segment) noexcept;
// The whole section or an error: DZCRASH_ENOTFOUND, DZCRASH_EINVAL for section records that leave
// the load commands, the mapping's error otherwise.
dzcrash_error_t dzcrash_macho_map_section(const dzcrash_macho_image* image, const char* segname,
                                          const char* sectname, dzcrash_async_mobject_t* mobj) noexcept;

struct dzcrash_macho_symtab_entry {
    uint32_t n_strx;
    uint8_t n_type;
    uint8_t n_sect;
    uint16_t n_desc;
    uint64_t n_value;
    uint64_t normalized_value;  // n_value with bit 0 set for a Thumb definition
};

struct dzcrash_macho_symtab_reader {
    const dzcrash_macho_image* image;
    dzcrash_macho_segment_t linkedit;
    const void* symtab;
    uint32_t nsyms;
    const void* symtab_global;  // with LC_DYSYMTAB only
    uint32_t nsyms_global;
    const void* symtab_local;
    uint32_t nsyms_local;
    const char* string_table;
    uint32_t string_table_size;
};
// DZCRASH_ENOTFOUND without LC_SYMTAB, DZCRASH_EINTERNAL when __LINKEDIT or the tables in it
// cannot be mapped, DZCRASH_EINVAL for subranges past the table.
dzcrash_error_t dzcrash_macho_symtab_reader_init(dzcrash_macho_symtab_reader* reader,
                                                 const dzcrash_macho_image* image) noexcept;
// Entry `index` of `table` (one of the reader's tables); the caller keeps `index` below its count.
dzcrash_macho_symtab_entry dzcrash_macho_symtab_reader_read(const dzcrash_macho_symtab_reader* reader,
                                                            const void* table, uint32_t index) noexcept;
// The NUL-terminated name at `n_strx`, or null when it does not end inside __LINKEDIT.
const char* dzcrash_macho_symtab_reader_symbol_name(const dzcrash_macho_symtab_reader* reader,
                                                    uint32_t n_strx) noexcept;
void dzcrash_macho_symtab_reader_free(dzcrash_macho_symtab_reader* reader) noexcept;

using dzcrash_macho_found_symbol_cb = void (*)(dzcrash_vm_address_t address, const char* name, void* context);

// The symbol with the greatest address not above `pc` (the first of equals); DZCRASH_ENOTFOUND
// when none, DZCRASH_EINVAL when its name runs out of the table.
dzcrash_error_t dzcrash_macho_find_symbol_by_pc(const dzcrash_macho_image* image, dzcrash_vm_address_t pc,
                                                dzcrash_macho_found_symbol_cb callback,
                                                void* context) noexcept;
// The first symbol of that name; DZCRASH_EINVAL at a name, met on the way, that runs out of the table.
dzcrash_error_t dzcrash_macho_find_symbol_by_name(const dzcrash_macho_image* image, const char* name,
                                                  dzcrash_vm_address_t* pc) noexcept;

inline constexpr uint32_t DZCRASH_SYMBOL_STRATEGY_SYMBOL_TABLE = 1;
inline constexpr uint32_t DZCRASH_SYMBOL_STRATEGY_OBJC = 2;
// The name a report gives `pc`: from the symbol table and/or the Objective-C metadata as `strategy`
// asks, the nearer start winning, a method on a tie; at most 255 bytes of it. `objc_cache` is the
// method reader's cache (a dzcrash_async_objc_cache_t, null for none).
dzcrash_error_t dzcrash_macho_find_symbol(const dzcrash_macho_image* image, uint32_t strategy,
                                          void* objc_cache, dzcrash_vm_address_t pc,
                                          dzcrash_macho_found_symbol_cb callback, void* context) noexcept;
