#include "crash_reporter/async/dzcrash_async_dwarf_section.h"

#include "crash_reporter/async/dzcrash_image_list.h"

namespace dzcrash::async {

dzcrash_error_t dwarf_frame_section_map(dzcrash_image_list* image_list, uint64_t pc,
                                        dwarf_frame_section* section) noexcept {
    dzcrash_image_list_set_reading(image_list, true);
    dzcrash_error_t result = DZCRASH_ENOTFOUND;
    if (const dzcrash_macho_image* image = dzcrash_image_list_find(image_list, pc)) {
        section->byteorder = dzcrash_macho_image_byteorder(image);
        section->m64 = image->m64;
        section->debug_frame = false;
        result = DZCRASH_ESUCCESS;
        if (dzcrash_macho_map_section(image, "__TEXT", "__eh_frame", &section->mobj) != DZCRASH_ESUCCESS) {
            section->debug_frame = true;
            if (dzcrash_macho_map_section(image, "__DWARF", "__debug_frame", &section->mobj) !=
                DZCRASH_ESUCCESS)
                result = DZCRASH_ENOTSUP;
        }
    }
    dzcrash_image_list_set_reading(image_list, false);
    return result;
}

}  // namespace dzcrash::async
