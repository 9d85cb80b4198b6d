#include "crash_reporter/async/dzcrash_error.h"

#include <cstring>
#include <iterator>

namespace {

constexpr const char* kTexts[] = {
    "No error",
    "Unknown error",
    "Output file can not be opened (or written to)",
    "No memory available",
    "Operation not supported",
    "Invalid argument",
    "Internal error",
    "Access denied",
    "Not found",
    "The input data is in an unknown or invalid format.",
};

// The domains the platform gives kernel and POSIX errors.
constexpr const char* kMachErrorDomain = "NSMachErrorDomain";
constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";

constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";

Value errorValue(const Error& error) {
    Dictionary dictionary;
    dictionary["domain"] = Value(error.domain);
    dictionary["code"] = Value(error.code);
    dictionary["description"] = Value(error.description);
    return Value(std::move(dictionary));
}

}  // namespace

const char* dzcrash_error_text(int code) {
    if (code < 0 || code >= static_cast<int>(std::size(kTexts))) return "Unhandled error code";
    return kTexts[code];
}

void dzcrash_make_error(Error* out, int code, const std::string& description, const Error* underlying) {
    if (!out) return;
    Dictionary userInfo;
    userInfo[kLocalizedDescriptionKey] = Value(description);
    if (underlying) userInfo[kUnderlyingErrorKey] = errorValue(*underlying);
    *out = Error(DZCrashReporterErrorDomain, code, description, Value(std::move(userInfo)));
}

void dzcrash_make_mach_error(Error* out, int kernelResult, const std::string& description) {
    Error underlying(kMachErrorDomain, kernelResult);
    dzcrash_make_error(out, DZCrashReporterErrorOperatingSystem, description, &underlying);
}

void dzcrash_make_posix_error(Error* out, int errnoValue, const std::string& description) {
    Error underlying(kPOSIXErrorDomain, errnoValue, std::strerror(errnoValue));
    dzcrash_make_error(out, DZCrashReporterErrorOperatingSystem, description, &underlying);
}
