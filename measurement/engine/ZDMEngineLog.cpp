#include "measurement/engine/ZDMEngineLog.h"

#include "measurement/engine/ZDMMeasurement.h"

namespace zdm_engine {

ZDMMonitor& engineMonitor() {
    return *ZDMMeasurement::monitor();
}

void log(int64_t level, int64_t code, const std::string& message) {
    ZDMMeasurement::monitor()->logWithLevel(level, code, message);
}

void log(int64_t level, int64_t code, const std::string& message, const Value& context) {
    ZDMMeasurement::monitor()->logWithLevel(level, code, message, context);
}

void log(int64_t level, int64_t code, const std::string& message, const Value& first, const Value& second) {
    ZDMMeasurement::monitor()->logWithLevel(level, code, message, first, second);
}

void logError(int64_t level, int64_t code, const std::string& message, const Error& error) {
    ZDMMeasurement::monitor()->logWithLevel(level, code, message, ErrorObject::value(error));
}

}  // namespace zdm_engine
