#pragma once
// One frame of a stack: its instruction pointer and, when the writer found one, its symbol.
#include <cstdint>
#include <memory>

#include "crash_reporter/format/DZCrashReportSymbolInfo.h"

class DZCrashReportStackFrameInfo {
  public:
    DZCrashReportStackFrameInfo(uint64_t instructionPointer,
                                std::shared_ptr<DZCrashReportSymbolInfo> symbolInfo)
        : instructionPointer_(instructionPointer), symbolInfo_(std::move(symbolInfo)) {}

    uint64_t instructionPointer() const { return instructionPointer_; }
    const std::shared_ptr<DZCrashReportSymbolInfo>& symbolInfo() const { return symbolInfo_; }

  private:
    uint64_t instructionPointer_;
    std::shared_ptr<DZCrashReportSymbolInfo> symbolInfo_;
};
