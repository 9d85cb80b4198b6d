#pragma once
// The measurement library's errors (the design's NSError(ZDMAdditions)) and the functions that
// set them through an optional out-parameter. Every error is of the library's domain; a monitor
// context rides along in the user info and reaches the health sample when the error is logged.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"

inline constexpr const char* kZDMErrorDomain = "com.zizoda.measurement";
inline constexpr const char* kZDMMonitorContextKey = "ZDMMonitorContext";
inline constexpr const char* kNSLocalizedDescriptionKey = "NSLocalizedDescription";

// The description goes into the user info only when non-empty, and so does the context.
Error zdm_errorWithCode(int64_t code, const std::string& description);
Error zdm_errorWithCode(int64_t code, const std::string& description, const std::string& monitorContext);

void ZDMSetError(Error* error, int64_t code, const std::string& description);
void ZDMSetErrorWithContext(Error* error, int64_t code, const std::string& description,
                            const std::string& context);
// Each answers whether the check holds and sets the error (without context) when it does not.
bool ZDMCheckConditionOrSetError(bool condition, Error* error, int64_t code, const std::string& description);
// An object is present when it converts to true: a non-null pointer or an engaged optional.
template <class T>
bool ZDMCheckObjectOrSetError(const T& object, Error* error, int64_t code, const std::string& description) {
    return ZDMCheckConditionOrSetError(static_cast<bool>(object), error, code, description);
}
// A Value is present unless it is null.
bool ZDMCheckObjectOrSetError(const Value& object, Error* error, int64_t code,
                              const std::string& description);
bool ZDMCheckHandleOrSetError(const void* handle, Error* error, int64_t code, const std::string& description);
bool ZDMCheckLengthOrSetError(uint64_t length, Error* error, int64_t code, const std::string& description);
