#include "crash_reporter/async/dzcrash_async_dwarf_section.h"

#include "crash_reporter/async/dzcrash_elf_image.h"
#include "crash_reporter/async/dzcrash_image_list.h"

namespace dzcrash::async {

namespace {

dzcrash_error_t mapEhFrame(dzcrash_macho_image* image, dwarf_frame_section* section) noexcept {
    if (image->format != DZCRASH_IMAGE_ELF)
        return dzcrash_macho_map_section(image, "__TEXT", "__eh_frame", &section->mobj);
    section->table_base = image->elf.eh_frame_header;
    return dzcrash_elf_share_frame_section(image, &section->mobj, &section->table, &section->table_count);
}

}  // namespace

dzcrash_error_t dwarf_frame_section_map(dzcrash_image_list* image_list, uint64_t pc,
                                        dwarf_frame_section* section) noexcept {
    dzcrash_image_list_set_reading(image_list, true);
    section->table_count = 0;
    section->image_list = image_list;
    dzcrash_error_t result = DZCRASH_ENOTFOUND;
    if (dzcrash_macho_image* image = dzcrash_image_list_find(image_list, pc)) {
        section->byteorder = dzcrash_macho_image_byteorder(image);
        section->m64 = image->m64;
        section->debug_frame = false;
        result = DZCRASH_ESUCCESS;
        if (mapEhFrame(image, section) != DZCRASH_ESUCCESS) {
            section->debug_frame = true;
            if (dzcrash_macho_map_section(image, "__DWARF", "__debug_frame", &section->mobj) !=
                DZCRASH_ESUCCESS)
                result = DZCRASH_ENOTSUP;
        }
    }
    if (result != DZCRASH_ESUCCESS) dzcrash_image_list_set_reading(image_list, false);
    return result;
}

void dwarf_frame_section_free(dwarf_frame_section* section) noexcept {
    dzcrash_async_mobject_free(&section->mobj);
    if (section->table_count != 0) dzcrash_async_mobject_free(&section->table);
    dzcrash_image_list_set_reading(section->image_list, false);
}

}  // namespace dzcrash::async
