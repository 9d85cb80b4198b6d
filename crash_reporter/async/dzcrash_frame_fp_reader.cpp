#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/async/dzcrash_frame_readers.h"

dzcrash_async_frame_error_t dzcrash_async_frame_fp_reader(task_t task, dzcrash_image_list*,
                                                          const dzcrash_async_thread_state* current_frame,
                                                          const dzcrash_async_thread_state* previous_frame,
                                                          dzcrash_async_thread_state* next_frame) noexcept {
    if (!dzcrash_async_thread_state_has_reg(current_frame, DZCRASH_REG_FP)) return DZCRASH_FRAME_EBADFRAME;
    const uint64_t frame_pointer = dzcrash_async_thread_state_get_reg(current_frame, DZCRASH_REG_FP);
    if (frame_pointer == 0) return DZCRASH_FRAME_ENOFRAME;

    // A caller's frame is older than its callee's, so lies above it on a stack that grows down. A
    // chain that turns back is corrupt, and following it could loop.
    if (previous_frame && dzcrash_async_thread_state_has_reg(previous_frame, DZCRASH_REG_FP)) {
        const uint64_t previous_pointer = dzcrash_async_thread_state_get_reg(previous_frame, DZCRASH_REG_FP);
        const bool grows_down = dzcrash_async_thread_state_get_stack_direction(current_frame) ==
                                DZCRASH_ASYNC_THREAD_STACK_DIRECTION_DOWN;
        if (grows_down ? frame_pointer < previous_pointer : frame_pointer > previous_pointer) {
            return DZCRASH_FRAME_EBADFRAME;
        }
    }

    // The caller's frame pointer, then the return address, each one general register wide.
    const size_t word = dzcrash_async_thread_state_get_greg_size(current_frame);
    uint64_t words[2] = {0, 0};
    if (word == 8) {
        if (dzcrash_safe_read(task, frame_pointer, 0, words, sizeof words) != DZCRASH_ESUCCESS) {
            return DZCRASH_FRAME_EBADFRAME;
        }
    } else {
        uint32_t narrow[2];
        if (dzcrash_safe_read(task, frame_pointer, 0, narrow, sizeof narrow) != DZCRASH_ESUCCESS) {
            return DZCRASH_FRAME_EBADFRAME;
        }
        words[0] = narrow[0];
        words[1] = narrow[1];
    }

    dzcrash_async_thread_state_copy(next_frame, current_frame);
    dzcrash_async_thread_state_clear_all_regs(next_frame);
    dzcrash_async_thread_state_set_reg(next_frame, DZCRASH_REG_FP, words[0]);
    dzcrash_async_thread_state_set_reg(next_frame, DZCRASH_REG_IP, words[1]);
    return DZCRASH_FRAME_ESUCCESS;
}
