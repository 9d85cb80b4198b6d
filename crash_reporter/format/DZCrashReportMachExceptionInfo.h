#pragma once
// The Mach exception behind the signal, when the crash came through the exception server.
#include <cstdint>
#include <vector>

class DZCrashReportMachExceptionInfo {
  public:
    DZCrashReportMachExceptionInfo(uint64_t type, std::vector<uint64_t> codes)
        : type_(type), codes_(std::move(codes)) {}

    uint64_t type() const { return type_; }
    const std::vector<uint64_t>& codes() const { return codes_; }

  private:
    uint64_t type_;
    std::vector<uint64_t> codes_;
};
