#pragma once
// Where the monitor's console lines go (the design's ZDMLogging protocol).
#include <cstdint>
#include <string>

class ZDMLogging {
  public:
    virtual ~ZDMLogging() = default;
    virtual void logMessage(const std::string& message, const std::string& logTag, int64_t messageCode,
                            int64_t logLevel) = 0;
};
