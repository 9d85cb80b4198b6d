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

// An Error held in a Value, where the design passes an error as a plain object.
class ErrorObject : public Object {
  public:
    explicit ErrorObject(Error error) : error_(std::move(error)) {}
    // The error as a Value holding it.
    static Value value(Error error);
    const Error& error() const { return error_; }
    std::string className() const override { return "NSError"; }
    std::string description() const override {
        return "Error Domain=" + error_.domain + " Code=" + std::to_string(error_.code) + " \"" +
               error_.description + "\"";
    }

  private:
    Error error_;
};

inline Value ErrorObject::value(Error error) {
    return Value(std::make_shared<const ErrorObject>(std::move(error)));
}

// Writes `error` through an optional out-parameter, as callers of the design's APIs expect.
inline void setError(Error* out, Error error) {
    if (out) *out = std::move(error);
}

// The domain of errors raised by the platform layer itself (archives, property lists, files).
inline constexpr const char* kFoundationErrorDomain = "FoundationErrorDomain";

// The platform's general error domain and the user-info keys of an error's texts.
inline constexpr const char* NSCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* NSLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* NSLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
