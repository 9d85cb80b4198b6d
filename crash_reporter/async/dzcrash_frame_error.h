#pragma once
// The result of every step of a stack walk and of each frame reader.
typedef enum {
    DZCRASH_FRAME_ESUCCESS = 0,
    DZCRASH_FRAME_EUNKNOWN = 1,
    // The walk is over: no further frame exists.
    DZCRASH_FRAME_ENOFRAME = 2,
    DZCRASH_FRAME_EBADFRAME = 3,
    DZCRASH_FRAME_ENOTSUP = 4,
    DZCRASH_FRAME_EINVAL = 5,
    DZCRASH_FRAME_EINTERNAL = 6,
    DZCRASH_FRAME_EBADREG = 7,
} dzcrash_async_frame_error_t;

// A fixed text for each code; "Unhandled error code" beyond the table. Async-signal-safe.
const char* dzcrash_async_frame_strerror(dzcrash_async_frame_error_t error) noexcept;
