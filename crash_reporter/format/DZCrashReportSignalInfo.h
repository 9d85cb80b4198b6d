#pragma once
// The signal that ended the process, by name ("SIGSEGV", "SEGV_MAPERR"), and the fault address.
#include <cstdint>
#include <string>

class DZCrashReportSignalInfo {
  public:
    DZCrashReportSignalInfo(std::string name, std::string code, uint64_t address)
        : name_(std::move(name)), code_(std::move(code)), address_(address) {}

    const std::string& name() const { return name_; }
    const std::string& code() const { return code_; }
    uint64_t address() const { return address_; }

  private:
    std::string name_;
    std::string code_;
    uint64_t address_;
};
