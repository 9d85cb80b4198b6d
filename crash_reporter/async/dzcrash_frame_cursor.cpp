#include "crash_reporter/async/dzcrash_frame_cursor.h"

#include "crash_reporter/async/dzcrash_frame_readers.h"
#include "platform/mach/mach_port.h"

namespace {

constexpr dzcrash_async_frame_reader_t kReaders[] = {
    dzcrash_async_frame_compact_unwind_reader,
    dzcrash_async_frame_dwarf_reader,
    dzcrash_async_frame_fp_reader,
};

// Nothing executes in the first page, which stays unmapped to catch null pointers: an instruction
// pointer there is the end of the chain (or its garbage), not a frame.
constexpr uint64_t kLowestCodeAddress = 4096;

}  // namespace

dzcrash_async_frame_error_t dzcrash_async_frame_cursor_init(dzcrash_async_frame_cursor* cursor, task_t task,
                                                            const dzcrash_async_thread_state* thread_state,
                                                            dzcrash_image_list* image_list) noexcept {
    cursor->task = task;
    cursor->image_list = image_list;
    cursor->depth = 0;
    mach_port_mod_refs(mach_task_self(), task, MACH_PORT_RIGHT_SEND, 1);
    dzcrash_async_thread_state_copy(&cursor->frame, thread_state);
    return DZCRASH_FRAME_ESUCCESS;
}

dzcrash_async_frame_error_t dzcrash_async_frame_cursor_thread_init(dzcrash_async_frame_cursor* cursor,
                                                                   task_t task, thread_t thread,
                                                                   dzcrash_image_list* image_list) noexcept {
    cursor->task = task;
    cursor->image_list = image_list;
    cursor->depth = 0;
    mach_port_mod_refs(mach_task_self(), task, MACH_PORT_RIGHT_SEND, 1);
    if (dzcrash_async_thread_state_from_thread(&cursor->frame, thread) != DZCRASH_ESUCCESS) {
        return DZCRASH_FRAME_EINTERNAL;
    }
    return DZCRASH_FRAME_ESUCCESS;
}

dzcrash_async_frame_error_t dzcrash_async_frame_cursor_next(dzcrash_async_frame_cursor* cursor) noexcept {
    return dzcrash_async_frame_cursor_next_with_readers(cursor, kReaders,
                                                        sizeof kReaders / sizeof kReaders[0]);
}

dzcrash_async_frame_error_t dzcrash_async_frame_cursor_next_with_readers(
    dzcrash_async_frame_cursor* cursor, const dzcrash_async_frame_reader_t* readers,
    size_t reader_count) noexcept {
    if (cursor->depth == 0) {
        cursor->depth = 1;
        return DZCRASH_FRAME_ESUCCESS;
    }
    if (reader_count == 0) return DZCRASH_FRAME_EINVAL;
    const dzcrash_async_thread_state* previous = cursor->depth == 1 ? nullptr : &cursor->prev_frame;
    dzcrash_async_thread_state found;
    dzcrash_async_frame_error_t result = DZCRASH_FRAME_EUNKNOWN;
    for (size_t i = 0; i < reader_count; ++i) {
        result = readers[i](cursor->task, cursor->image_list, &cursor->frame, previous, &found);
        if (result == DZCRASH_FRAME_ESUCCESS) break;
    }
    if (result != DZCRASH_FRAME_ESUCCESS) return result;
    if (!dzcrash_async_thread_state_has_reg(&found, DZCRASH_REG_IP) ||
        dzcrash_async_thread_state_get_reg(&found, DZCRASH_REG_IP) <= kLowestCodeAddress) {
        return DZCRASH_FRAME_ENOFRAME;
    }
    dzcrash_async_thread_state_copy(&cursor->prev_frame, &cursor->frame);
    dzcrash_async_thread_state_copy(&cursor->frame, &found);
    cursor->depth += 1;
    return DZCRASH_FRAME_ESUCCESS;
}

dzcrash_async_frame_error_t dzcrash_async_frame_cursor_get_reg(const dzcrash_async_frame_cursor* cursor,
                                                               dzcrash_regnum_t reg,
                                                               uint64_t* value) noexcept {
    if (!dzcrash_async_thread_state_has_reg(&cursor->frame, reg)) return DZCRASH_FRAME_ENOTSUP;
    *value = dzcrash_async_thread_state_get_reg(&cursor->frame, reg);
    return DZCRASH_FRAME_ESUCCESS;
}

const char* dzcrash_async_frame_cursor_get_regname(const dzcrash_async_frame_cursor* cursor,
                                                   dzcrash_regnum_t reg) noexcept {
    return dzcrash_async_thread_state_get_reg_name(&cursor->frame, reg);
}

size_t dzcrash_async_frame_cursor_get_regcount(const dzcrash_async_frame_cursor* cursor) noexcept {
    return dzcrash_async_thread_state_get_reg_count(&cursor->frame);
}

void dzcrash_async_frame_cursor_free(dzcrash_async_frame_cursor* cursor) noexcept {
    if (cursor->task != MACH_PORT_NULL) mach_port_deallocate(mach_task_self(), cursor->task);
}
