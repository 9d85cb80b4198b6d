#include "crash_reporter/async/dzcrash_frame_readers.h"

// No DWARF call-frame information is read yet; the walk goes on with the next reader.
dzcrash_async_frame_error_t dzcrash_async_frame_dwarf_reader(task_t, dzcrash_image_list*,
                                                             const dzcrash_async_thread_state*,
                                                             const dzcrash_async_thread_state*,
                                                             dzcrash_async_thread_state*) noexcept {
    return DZCRASH_FRAME_ENOTSUP;
}
