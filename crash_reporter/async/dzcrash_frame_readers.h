#pragma once
// The frame readers the cursor asks, in the order it asks them.
#include "crash_reporter/async/dzcrash_frame_cursor.h"

// From the compact unwind information of the image holding the instruction pointer.
dzcrash_async_frame_error_t dzcrash_async_frame_compact_unwind_reader(
    task_t task, dzcrash_image_list* image_list, const dzcrash_async_thread_state* current_frame,
    const dzcrash_async_thread_state* previous_frame, dzcrash_async_thread_state* next_frame) noexcept;

// From the DWARF call-frame information of that image.
dzcrash_async_frame_error_t dzcrash_async_frame_dwarf_reader(task_t task, dzcrash_image_list* image_list,
                                                             const dzcrash_async_thread_state* current_frame,
                                                             const dzcrash_async_thread_state* previous_frame,
                                                             dzcrash_async_thread_state* next_frame) noexcept;

// From the frame-pointer chain: the word at the frame pointer is the caller's frame pointer, the
// next one the return address. Refuses (DZCRASH_FRAME_EBADFRAME) a chain that runs against the
// stack's direction; a zero frame pointer ends the walk (DZCRASH_FRAME_ENOFRAME). The frame found
// holds only those two registers.
dzcrash_async_frame_error_t dzcrash_async_frame_fp_reader(task_t task, dzcrash_image_list* image_list,
                                                          const dzcrash_async_thread_state* current_frame,
                                                          const dzcrash_async_thread_state* previous_frame,
                                                          dzcrash_async_thread_state* next_frame) noexcept;
