#include "crash_reporter/async/dzcrash_async_cfe_reader.h"
#include "crash_reporter/async/dzcrash_frame_readers.h"
#include "crash_reporter/async/dzcrash_image_list.h"

namespace {

dzcrash_async_frame_error_t unwind_in_section(task_t task, const dzcrash_macho_image* image,
                                              dzcrash_async_mobject_t* section, uint64_t pc,
                                              const dzcrash_async_thread_state* current_frame,
                                              dzcrash_async_thread_state* next_frame) {
    dzcrash_async_cfe_reader_t reader;
    if (dzcrash_async_cfe_reader_init(&reader, section, dzcrash_macho_image_cpu_type(image)) !=
        DZCRASH_ESUCCESS) {
        return DZCRASH_FRAME_EINVAL;
    }
    uint32_t function_offset = 0;
    uint32_t encoding = 0;
    dzcrash_async_cfe_entry_t entry;
    if (dzcrash_async_cfe_reader_find_pc(&reader, pc - image->header_addr, &function_offset, &encoding) !=
            DZCRASH_ESUCCESS ||
        dzcrash_async_cfe_entry_init(&entry, dzcrash_macho_image_cpu_type(image), encoding) !=
            DZCRASH_ESUCCESS) {
        dzcrash_async_cfe_reader_free(&reader);
        return DZCRASH_FRAME_ENOTSUP;
    }
    dzcrash_async_cfe_reader_free(&reader);

    // A function that says it has no unwind information is where the walk ends.
    if (dzcrash_async_cfe_entry_type(&entry) == DZCRASH_ASYNC_CFE_TYPE_NONE) return DZCRASH_FRAME_ENOFRAME;
    dzcrash_vm_address_t function_address = 0;
    if (!dzcrash_add_checked(image->header_addr, function_offset, &function_address))
        return DZCRASH_FRAME_EINVAL;
    // A DWARF entry does not apply here: the next reader searches the DWARF sections itself.
    if (dzcrash_async_cfe_entry_apply(task, function_address, current_frame, &entry, next_frame) !=
        DZCRASH_ESUCCESS) {
        return DZCRASH_FRAME_ENOFRAME;
    }
    return DZCRASH_FRAME_ESUCCESS;
}

}  // namespace

dzcrash_async_frame_error_t dzcrash_async_frame_compact_unwind_reader(
    task_t task, dzcrash_image_list* image_list, const dzcrash_async_thread_state* current_frame,
    const dzcrash_async_thread_state*, dzcrash_async_thread_state* next_frame) noexcept {
    if (!dzcrash_async_thread_state_has_reg(current_frame, DZCRASH_REG_IP)) return DZCRASH_FRAME_EBADFRAME;
    const uint64_t pc = dzcrash_async_thread_state_get_reg(current_frame, DZCRASH_REG_IP);
    if (pc == 0 || image_list == nullptr) return DZCRASH_FRAME_ENOTSUP;

    dzcrash_image_list_set_reading(image_list, true);
    dzcrash_async_frame_error_t result = DZCRASH_FRAME_ENOTSUP;
    const dzcrash_macho_image* image = dzcrash_image_list_find(image_list, pc);
    dzcrash_async_mobject_t section;
    if (image != nullptr &&
        dzcrash_macho_map_section(image, "__TEXT", "__unwind_info", &section) == DZCRASH_ESUCCESS) {
        result = unwind_in_section(task, image, &section, pc, current_frame, next_frame);
        dzcrash_async_mobject_free(&section);
    }
    dzcrash_image_list_set_reading(image_list, false);
    return result;
}
