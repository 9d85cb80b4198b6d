#pragma once
// The result of every crash-time operation, and the error objects the reporter's ordinary methods
// return.
#include <string>

#include "platform/foundation/Error.h"

typedef enum {
    DZCRASH_ESUCCESS = 0,
    DZCRASH_EUNKNOWN = 1,
    DZCRASH_OUTPUT_ERR = 2,
    DZCRASH_ENOMEM = 3,
    DZCRASH_ENOTSUP = 4,
    DZCRASH_EINVAL = 5,
    DZCRASH_EINTERNAL = 6,
    DZCRASH_EACCESS = 7,
    DZCRASH_ENOTFOUND = 8,
    DZCRASH_EINVALID_DATA = 9,
} dzcrash_error_t;

// A fixed text for each code; "Unhandled error code" beyond the table. Async-signal-safe.
const char* dzcrash_error_text(int code);

inline constexpr const char* DZCrashReporterErrorDomain = "DZCrashReporterErrorDomain";
inline constexpr const char* DZCrashReporterException = "DZCrashReporterException";

enum DZCrashReporterError : int {
    DZCrashReporterErrorUnknown = 0,
    DZCrashReporterErrorOperatingSystem = 1,
    DZCrashReporterErrorCrashReportInvalid = 2,
    DZCrashReporterErrorResourceBusy = 3,
};

// Each writes nothing when `out` is null. The Mach and POSIX forms always use code 1 and carry the
// system's number as the underlying error.
void dzcrash_make_error(Error* out, int code, const std::string& description,
                        const Error* underlying = nullptr);
void dzcrash_make_mach_error(Error* out, int kernelResult, const std::string& description);
void dzcrash_make_posix_error(Error* out, int errnoValue, const std::string& description);
