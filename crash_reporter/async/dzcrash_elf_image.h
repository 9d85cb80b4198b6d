#pragma once
// The ELF side of the image reader, reached through the dzcrash_macho_* functions when an image's
// format is ELF. Only the process's own word size and byte order are read. Async-signal-safe.
#include "crash_reporter/async/dzcrash_macho_image.h"

// Fills the record from the ELF and program headers; task, name and header address are set.
// DZCRASH_EINVAL for another word size or byte order, or no executable segment.
dzcrash_error_t dzcrash_elf_image_init(dzcrash_macho_image* image) noexcept;
// Only "__TEXT,__eh_frame" exists: the .eh_frame that the frame header points to.
dzcrash_error_t dzcrash_elf_map_section(const dzcrash_macho_image* image, const char* segname,
                                        const char* sectname, dzcrash_async_mobject_t* mobj) noexcept;
// Releases what the record holds beyond its task and name: the copies of its frame data.
void dzcrash_elf_image_free(dzcrash_macho_image* image) noexcept;
// .eh_frame and its search table, as views of the image's own copies (made on the first call):
// they stay valid while the record does, so the caller keeps the image list marked as read until it
// frees them with dzcrash_async_mobject_free. `*table_count` is 0, and `table` left untouched,
// without a table. While another caller is still making the copies, `frames` is a private copy and
// no table is given. The errors are those of mapping "__TEXT,__eh_frame".
dzcrash_error_t dzcrash_elf_share_frame_section(dzcrash_macho_image* image, dzcrash_async_mobject_t* frames,
                                                dzcrash_async_mobject_t* table,
                                                uint64_t* table_count) noexcept;
// From the dynamic symbol table, defined symbols only.
dzcrash_error_t dzcrash_elf_find_symbol_by_pc(const dzcrash_macho_image* image, dzcrash_vm_address_t pc,
                                              dzcrash_macho_found_symbol_cb callback, void* context) noexcept;
dzcrash_error_t dzcrash_elf_find_symbol_by_name(const dzcrash_macho_image* image, const char* name,
                                                dzcrash_vm_address_t* pc) noexcept;
