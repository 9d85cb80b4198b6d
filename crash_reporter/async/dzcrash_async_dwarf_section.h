#pragma once
// Finds the call-frame section of the image that holds a pc: its __TEXT,__eh_frame (an ELF image's
// .eh_frame), else its __DWARF,__debug_frame. The section is a private copy, so the image list is
// marked as being read only while it is made. Async-signal-safe.
#include <cstdint>

#include "crash_reporter/async/dzcrash_async_mobject.h"

struct dzcrash_image_list;

namespace dzcrash::async {

struct dwarf_frame_section {
    dzcrash_async_mobject_t mobj;  // released with dzcrash_async_mobject_free
    const dzcrash_async_byteorder_t* byteorder;
    bool m64;
    bool debug_frame;
};

// DZCRASH_ENOTFOUND when no image holds `pc`, DZCRASH_ENOTSUP when the image has neither section.
dzcrash_error_t dwarf_frame_section_map(dzcrash_image_list* image_list, uint64_t pc,
                                        dwarf_frame_section* section) noexcept;

}  // namespace dzcrash::async
