#pragma once
// The crashed process and its parent.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Date.h"

class DZCrashReportProcessInfo {
  public:
    DZCrashReportProcessInfo(std::optional<std::string> processName, uint64_t processID,
                             std::optional<std::string> processPath, std::optional<Date> processStartTime,
                             std::optional<std::string> parentProcessName, uint64_t parentProcessID,
                             bool native)
        : processName_(std::move(processName)),
          processID_(processID),
          processPath_(std::move(processPath)),
          processStartTime_(processStartTime),
          parentProcessName_(std::move(parentProcessName)),
          parentProcessID_(parentProcessID),
          native_(native) {}

    const std::optional<std::string>& processName() const { return processName_; }
    uint64_t processID() const { return processID_; }
    const std::optional<std::string>& processPath() const { return processPath_; }
    const std::optional<Date>& processStartTime() const { return processStartTime_; }
    const std::optional<std::string>& parentProcessName() const { return parentProcessName_; }
    uint64_t parentProcessID() const { return parentProcessID_; }
    bool native() const { return native_; }

  private:
    std::optional<std::string> processName_;
    uint64_t processID_;
    std::optional<std::string> processPath_;
    std::optional<Date> processStartTime_;
    std::optional<std::string> parentProcessName_;
    uint64_t parentProcessID_;
    bool native_;
};
