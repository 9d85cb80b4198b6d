#pragma once
// A failure report: domain, numeric code, description and extra information, as the design's NSError.
#include <string>

#include "platform/foundation/Value.h"

struct Error {
    std::string domain;
    int64_t code = 0;
    std::string description;
    Value userInfo;

    Error() = default;
    Error(std::string domain, int64_t code, std::string description = {}, Value userInfo = {})
        : domain(std::move(domain)),
          code(code),
          description(std::move(description)),
          userInfo(std::move(userInfo)) {}
};

// Writes `error` through an optional out-parameter, as callers of the design's APIs expect.
inline void setError(Error* out, Error error) {
    if (out) *out = std::move(error);
}

// The domain of errors raised by the platform layer itself (archives, property lists, files).
inline constexpr const char* kFoundationErrorDomain = "FoundationErrorDomain";
