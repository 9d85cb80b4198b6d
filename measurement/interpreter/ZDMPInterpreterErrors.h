#pragma once
// The interpreter's failures: errors of one domain with a numeric code and no message text.
#include <cstdint>

#include "platform/foundation/Error.h"

inline constexpr const char* kZDMPInterpreterErrorDomain = "com.zizoda.measurement.interpreter";

enum class ZDMPErrorCode : int64_t {
    undeclaredAssignment = 2,
    noBooleanConversion = 3,
    noNumberConversion = 4,
    noStringConversion = 5,
    propertyWriteOnNothing = 6,
    methodCallOnNothing = 7,
    reduceOfEmptyArray = 8,
    wrongArgumentCount = 9,
    wrongArgumentKind = 10,
    invalidArrayLength = 11,
    unknownEntityKind = 12,
    unconvertibleHostObject = 13,
    statementWithoutCommand = 14,
    moduleCreatorFailed = 15,
    notIterable = 16,
    unknownMethod = 17,
    budgetExhausted = 18,
};

// Sets `error` (when given) to the interpreter error of `code`.
void ZDMPSetError(Error* error, ZDMPErrorCode code);
// Whether `error` holds a failure; operations leave a fresh Error untouched when they succeed.
inline bool ZDMPFailed(const Error& error) {
    return !error.domain.empty();
}
