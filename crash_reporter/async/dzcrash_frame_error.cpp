#include "crash_reporter/async/dzcrash_frame_error.h"

const char* dzcrash_async_frame_strerror(dzcrash_async_frame_error_t error) noexcept {
    switch (error) {
        case DZCRASH_FRAME_ESUCCESS:
            return "No error";
        case DZCRASH_FRAME_EUNKNOWN:
            return "Unknown error";
        case DZCRASH_FRAME_ENOFRAME:
            return "No frames are available";
        case DZCRASH_FRAME_EBADFRAME:
            return "Corrupted frame";
        case DZCRASH_FRAME_ENOTSUP:
            return "Operation not supported";
        case DZCRASH_FRAME_EINVAL:
            return "Invalid argument";
        case DZCRASH_FRAME_EINTERNAL:
            return "Internal error";
        case DZCRASH_FRAME_EBADREG:
            return "Invalid register";
    }
    return "Unhandled error code";
}
