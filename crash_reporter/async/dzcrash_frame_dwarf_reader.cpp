#include "crash_reporter/async/dzcrash_async_dwarf_cfa_state.h"
#include "crash_reporter/async/dzcrash_async_dwarf_section.h"
#include "crash_reporter/async/dzcrash_frame_readers.h"

namespace dzcrash::async {
namespace {

template <typename T, typename S>
dzcrash_async_frame_error_t step(task_t task, const dwarf_frame_section& mapped, uint64_t pc,
                                 const dzcrash_async_thread_state* current_frame,
                                 dzcrash_async_thread_state* next_frame) noexcept {
    const dzcrash_async_mobject_t* section = &mapped.mobj;
    const dzcrash_async_byteorder_t* byteorder = mapped.byteorder;
    dwarf_frame_reader reader;
    dwarf_frame_reader_init(&reader, section, byteorder, mapped.m64, mapped.debug_frame);
    if (mapped.table_count != 0)
        dwarf_frame_reader_use_search_table(&reader, &mapped.table, mapped.table_count, mapped.table_base);
    dzcrash_async_dwarf_fde_info_t fde;
    if (dwarf_frame_reader_find_fde(&reader, 0, pc, &fde) != DZCRASH_ESUCCESS) return DZCRASH_FRAME_ENOTSUP;

    const dzcrash_vm_address_t base = dzcrash_async_mobject_base_address(section);
    const gnu_ehptr_reader<T> pointers(byteorder);
    dzcrash_async_dwarf_cie_info_t cie;
    if (dzcrash_async_dwarf_cie_info_init<T>(&cie, section, byteorder, &pointers, base + fde.cie_offset) !=
        DZCRASH_ESUCCESS) {
        return DZCRASH_FRAME_ENOTSUP;
    }

    dwarf_cfa_state<T, S> rules;
    const T target = static_cast<T>(pc);
    const T start = static_cast<T>(fde.pc_start);
    if (rules.eval_program(section, target, start, &cie, &pointers, byteorder, base,
                           static_cast<dzcrash_vm_off_t>(cie.initial_instructions_offset),
                           cie.initial_instructions_length) != DZCRASH_ESUCCESS ||
        rules.eval_program(section, target, start, &cie, &pointers, byteorder, base,
                           static_cast<dzcrash_vm_off_t>(fde.fde_instruction_offset),
                           fde.fde_instruction_length) != DZCRASH_ESUCCESS) {
        return DZCRASH_FRAME_ENOTSUP;
    }
    dzcrash_async_thread_state found;
    if (rules.apply_state(task, &cie, current_frame, byteorder, &found) != DZCRASH_ESUCCESS)
        return DZCRASH_FRAME_ENOFRAME;
    dzcrash_async_thread_state_copy(next_frame, &found);
    return DZCRASH_FRAME_ESUCCESS;
}

}  // namespace
}  // namespace dzcrash::async

dzcrash_async_frame_error_t dzcrash_async_frame_dwarf_reader(
    task_t task, dzcrash_image_list* image_list, const dzcrash_async_thread_state* current_frame,
    const dzcrash_async_thread_state* previous_frame, dzcrash_async_thread_state* next_frame) noexcept {
    if (!dzcrash_async_thread_state_has_reg(current_frame, DZCRASH_REG_IP)) return DZCRASH_FRAME_EBADFRAME;
    const uint64_t pc = dzcrash_async_thread_state_get_reg(current_frame, DZCRASH_REG_IP);
    if (pc == 0 || image_list == nullptr) return DZCRASH_FRAME_ENOTSUP;
    // A frame reached by unwinding holds a return address, which after a call that never returns
    // (abort) lies past the end of its function: the call itself, one byte back, is what the
    // function's rules describe. The thread's first frame stands at the instruction it was running.
    const uint64_t lookup = previous_frame ? pc - 1 : pc;

    using namespace dzcrash::async;
    dwarf_frame_section section;
    const dzcrash_error_t mapped = dwarf_frame_section_map(image_list, lookup, &section);
    if (mapped == DZCRASH_ENOTFOUND) return DZCRASH_FRAME_ENOTSUP;
    if (mapped != DZCRASH_ESUCCESS) return DZCRASH_FRAME_ENOFRAME;
    const dzcrash_async_frame_error_t result =
        section.m64 ? step<unsigned long long, long long>(task, section, lookup, current_frame, next_frame)
                    : step<unsigned int, int>(task, section, lookup, current_frame, next_frame);
    dwarf_frame_section_free(&section);
    return result;
}
