#pragma once
// The uncaught exception that ended the process, when one was recorded.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crash_reporter/format/DZCrashReportStackFrameInfo.h"

class DZCrashReportExceptionInfo {
  public:
    using StackFrames = std::vector<std::shared_ptr<DZCrashReportStackFrameInfo>>;

    DZCrashReportExceptionInfo(std::string exceptionName, std::string exceptionReason)
        : DZCrashReportExceptionInfo(std::move(exceptionName), std::move(exceptionReason), std::nullopt) {}
    DZCrashReportExceptionInfo(std::string exceptionName, std::string exceptionReason,
                               std::optional<StackFrames> stackFrames)
        : exceptionName_(std::move(exceptionName)),
          exceptionReason_(std::move(exceptionReason)),
          stackFrames_(std::move(stackFrames)) {}

    const std::string& exceptionName() const { return exceptionName_; }
    const std::string& exceptionReason() const { return exceptionReason_; }
    // nullopt when the exception carried no return addresses.
    const std::optional<StackFrames>& stackFrames() const { return stackFrames_; }

  private:
    std::string exceptionName_;
    std::string exceptionReason_;
    std::optional<StackFrames> stackFrames_;
};
