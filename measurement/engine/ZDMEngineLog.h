#pragma once
// The engine's lines go to its process-wide monitor; these keep each report to one call. A line
// given no context carries none, which the monitor tells apart from one null context.
#include <cstdint>
#include <string>

#include "platform/foundation/Error.h"

class ZDMMonitor;

namespace zdm_engine {

// The engine's monitor, for callers that speak to it directly.
ZDMMonitor& engineMonitor();

void log(int64_t level, int64_t code, const std::string& message);
void log(int64_t level, int64_t code, const std::string& message, const Value& context);
void log(int64_t level, int64_t code, const std::string& message, const Value& first, const Value& second);
// The error itself is the line's one context.
void logError(int64_t level, int64_t code, const std::string& message, const Error& error);

// Whether a call that may fail without saying why did say why.
inline bool isSet(const Error& error) {
    return !error.domain.empty();
}

}  // namespace zdm_engine
