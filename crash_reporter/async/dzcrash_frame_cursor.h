#pragma once
// Walks one thread's stack a frame at a time. The first step reports the thread state it was given;
// each further step asks the frame readers in turn for the caller's frame. A cursor belongs to the
// thread that drives it; nothing here allocates or locks, and task memory is read only through
// bounded reads. The image list is only passed on to the readers that consult it.
#include <cstddef>
#include <cstdint>

#include "crash_reporter/async/dzcrash_async_thread_state.h"
#include "crash_reporter/async/dzcrash_frame_error.h"
#include "platform/mach/mach_types.h"

struct dzcrash_image_list;

struct dzcrash_async_frame_cursor {
    // Holds a send-right reference from init to free.
    task_t task;
    dzcrash_image_list* image_list;
    // Frames returned so far.
    uint32_t depth;
    dzcrash_async_thread_state prev_frame;
    dzcrash_async_thread_state frame;
};

// Finds the frame that called `current_frame`. `previous_frame` is the frame returned before it, or
// null for the first. Writes `next_frame` only to answer DZCRASH_FRAME_ESUCCESS.
using dzcrash_async_frame_reader_t = dzcrash_async_frame_error_t (*)(
    task_t task, dzcrash_image_list* image_list, const dzcrash_async_thread_state* current_frame,
    const dzcrash_async_thread_state* previous_frame, dzcrash_async_thread_state* next_frame);

// Always DZCRASH_FRAME_ESUCCESS.
dzcrash_async_frame_error_t dzcrash_async_frame_cursor_init(dzcrash_async_frame_cursor* cursor, task_t task,
                                                            const dzcrash_async_thread_state* thread_state,
                                                            dzcrash_image_list* image_list) noexcept;
// Starts from the registers of a thread of the task: DZCRASH_FRAME_EINTERNAL when they cannot be
// read (the cursor must still be freed).
dzcrash_async_frame_error_t dzcrash_async_frame_cursor_thread_init(dzcrash_async_frame_cursor* cursor,
                                                                   task_t task, thread_t thread,
                                                                   dzcrash_image_list* image_list) noexcept;

// Steps with the compact-unwind, DWARF and frame-pointer readers, in that order.
dzcrash_async_frame_error_t dzcrash_async_frame_cursor_next(dzcrash_async_frame_cursor* cursor) noexcept;
// Steps with the first of `readers` that finds a frame, or answers the last one's error;
// DZCRASH_FRAME_ENOFRAME once the frame found has no instruction pointer or one in the first page.
// A failed step leaves the cursor's frames as they were.
dzcrash_async_frame_error_t dzcrash_async_frame_cursor_next_with_readers(
    dzcrash_async_frame_cursor* cursor, const dzcrash_async_frame_reader_t* readers,
    size_t reader_count) noexcept;

// Of the current frame; DZCRASH_FRAME_ENOTSUP, with `value` untouched, when it lacks the register.
dzcrash_async_frame_error_t dzcrash_async_frame_cursor_get_reg(const dzcrash_async_frame_cursor* cursor,
                                                               dzcrash_regnum_t reg,
                                                               uint64_t* value) noexcept;
const char* dzcrash_async_frame_cursor_get_regname(const dzcrash_async_frame_cursor* cursor,
                                                   dzcrash_regnum_t reg) noexcept;
size_t dzcrash_async_frame_cursor_get_regcount(const dzcrash_async_frame_cursor* cursor) noexcept;

void dzcrash_async_frame_cursor_free(dzcrash_async_frame_cursor* cursor) noexcept;
