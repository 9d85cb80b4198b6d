#pragma once
// The engine's lines go to its process-wide monitor; these keep each report to one call.
#include <cstdint>
#include <string>

#include "measurement/engine/ZDMMeasurement.h"
#include "platform/foundation/Error.h"

namespace zdm_engine {

inline void log(int64_t level, int64_t code, const std::string& message) {
    ZDMMeasurement::monitor()->logWithLevel(level, code, message);
}

inline void log(int64_t level, int64_t code, const std::string& message, const Value& context) {
    ZDMMeasurement::monitor()->logWithLevel(level, code, message, context);
}

inline void logError(int64_t level, int64_t code, const std::string& message, const Error& error) {
    ZDMMeasurement::monitor()->logWithLevel(level, code, message, ErrorObject::value(error));
}

// Whether a call that may fail without saying why did say why.
inline bool isSet(const Error& error) {
    return !error.domain.empty();
}

}  // namespace zdm_engine
