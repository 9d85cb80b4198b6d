#include "measurement/foundation/ZDMASLLogger.h"

#include <cinttypes>
#include <cstdio>

#include "platform/zazavaroveridiz/ZIZLogger.h"

std::string ZDMASLLogger::doubledPercents(const std::string& message) {
    std::string out;
    out.reserve(message.size());
    for (char c : message) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

void ZDMASLLogger::logMessage(const std::string& message, const std::string& logTag, int64_t messageCode,
                              int64_t logLevel) {
    ZIZLogBasic(ZIZLoggerLevelFromLogLevel(logLevel), logTag, logLevel == 7, messageCodeText(messageCode),
                doubledPercents(message));
}

int ZDMASLLogger::ZIZLoggerLevelFromLogLevel(int64_t logLevel) {
    switch (logLevel) {
        case 0:
        case 1:
        case 2:
            return kZIZLoggerLevelError;
        case 3:
        case 4:
        case 5:
            return kZIZLoggerLevelWarning;
        case 6:
            return kZIZLoggerLevelNotice;
        case 7:
        case 8:
            return kZIZLoggerLevelDebug;
        default:
            return kZIZLoggerLevelWarning;
    }
}

std::string ZDMASLLogger::messageCodeText(int64_t messageCode) {
    char text[32];
    std::snprintf(text, sizeof text, "I-ACS%06" PRId64, messageCode);
    return text;
}
