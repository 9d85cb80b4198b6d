#pragma once
// The monitor's console sink: hands each line to the outside utility library's shared logger at the
// level the monitor's level maps to, with the message code as "I-ACS%06ld".
#include "measurement/foundation/ZDMLogging.h"

class ZDMASLLogger : public ZDMLogging {
  public:
    void logMessage(const std::string& message, const std::string& logTag, int64_t messageCode,
                    int64_t logLevel) override;
    // Monitor levels 0-2 are errors (3), 3-5 warnings (4), 6 a notice (5), 7 and 8 debug (7);
    // anything else a warning.
    static int ZIZLoggerLevelFromLogLevel(int64_t logLevel);
    // "I-ACS024000" for 24000.
    static std::string messageCodeText(int64_t messageCode);
    // The shared logger reads its message as a format, so every "%" of ours reaches it doubled.
    static std::string doubledPercents(const std::string& message);
};
