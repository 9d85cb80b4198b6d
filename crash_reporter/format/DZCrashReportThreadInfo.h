#pragma once
// One thread of the crashed process: its frames, innermost first, and for the crashed thread its
// registers.
#include <cstdint>
#include <memory>
#include <vector>

#include "crash_reporter/format/DZCrashReportRegisterInfo.h"
#include "crash_reporter/format/DZCrashReportStackFrameInfo.h"

class DZCrashReportThreadInfo {
  public:
    DZCrashReportThreadInfo(int64_t threadNumber,
                            std::vector<std::shared_ptr<DZCrashReportStackFrameInfo>> stackFrames,
                            bool crashed, std::vector<std::shared_ptr<DZCrashReportRegisterInfo>> registers)
        : threadNumber_(threadNumber),
          stackFrames_(std::move(stackFrames)),
          crashed_(crashed),
          registers_(std::move(registers)) {}

    int64_t threadNumber() const { return threadNumber_; }
    const std::vector<std::shared_ptr<DZCrashReportStackFrameInfo>>& stackFrames() const {
        return stackFrames_;
    }
    bool crashed() const { return crashed_; }
    const std::vector<std::shared_ptr<DZCrashReportRegisterInfo>>& registers() const { return registers_; }

  private:
    int64_t threadNumber_;
    std::vector<std::shared_ptr<DZCrashReportStackFrameInfo>> stackFrames_;
    bool crashed_;
    std::vector<std::shared_ptr<DZCrashReportRegisterInfo>> registers_;
};
