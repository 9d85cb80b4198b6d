#pragma once
// One register of the crashed thread at the time of the crash.
#include <cstdint>
#include <string>

class DZCrashReportRegisterInfo {
  public:
    DZCrashReportRegisterInfo(std::string registerName, uint64_t registerValue)
        : registerName_(std::move(registerName)), registerValue_(registerValue) {}

    const std::string& registerName() const { return registerName_; }
    uint64_t registerValue() const { return registerValue_; }

  private:
    std::string registerName_;
    uint64_t registerValue_;
};
