#pragma once
// The symbol a stack frame lies in; the end address is 0 when the report does not know it.
#include <cstdint>
#include <string>

class DZCrashReportSymbolInfo {
  public:
    DZCrashReportSymbolInfo(std::string symbolName, uint64_t startAddress, uint64_t endAddress)
        : symbolName_(std::move(symbolName)), startAddress_(startAddress), endAddress_(endAddress) {}

    const std::string& symbolName() const { return symbolName_; }
    uint64_t startAddress() const { return startAddress_; }
    uint64_t endAddress() const { return endAddress_; }

  private:
    std::string symbolName_;
    uint64_t startAddress_;
    uint64_t endAddress_;
};
