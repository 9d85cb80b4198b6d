#pragma once
// Finds the call-frame section of the image that holds a pc: its __TEXT,__eh_frame (an ELF image's
// .eh_frame, with the frame header's search table), else its __DWARF,__debug_frame. An ELF image's
// section is a view of the image's own copy, so the image list stays marked as being read until
// the section is freed. Async-signal-safe.
#include <cstdint>

#include "crash_reporter/async/dzcrash_async_mobject.h"

struct dzcrash_image_list;

namespace dzcrash::async {

struct dwarf_frame_section {
    dzcrash_async_mobject_t mobj;
    const dzcrash_async_byteorder_t* byteorder;
    bool m64;
    bool debug_frame;
    // The functions' starts and FDEs, sorted, as offsets from `table_base`; none when the count is 0.
    dzcrash_async_mobject_t table;
    uint64_t table_count;
    dzcrash_vm_address_t table_base;
    dzcrash_image_list* image_list;
};

// DZCRASH_ENOTFOUND when no image holds `pc`, DZCRASH_ENOTSUP when the image has neither section.
// Only a mapped section is freed, with dwarf_frame_section_free.
dzcrash_error_t dwarf_frame_section_map(dzcrash_image_list* image_list, uint64_t pc,
                                        dwarf_frame_section* section) noexcept;
void dwarf_frame_section_free(dwarf_frame_section* section) noexcept;

}  // namespace dzcrash::async
