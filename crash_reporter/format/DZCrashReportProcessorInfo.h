#pragma once
// A processor as a report names it: how type and subtype are to be read, and the two numbers.
#include <cstdint>

enum class DZCrashReportProcessorTypeEncoding : int {
    Unknown = 0,
    Mach = 1,  // type and subtype are Mach CPU type and subtype
};

class DZCrashReportProcessorInfo {
  public:
    DZCrashReportProcessorInfo(DZCrashReportProcessorTypeEncoding typeEncoding, uint64_t type,
                               uint64_t subtype)
        : typeEncoding_(typeEncoding), type_(type), subtype_(subtype) {}

    DZCrashReportProcessorTypeEncoding typeEncoding() const { return typeEncoding_; }
    uint64_t type() const { return type_; }
    uint64_t subtype() const { return subtype_; }

  private:
    DZCrashReportProcessorTypeEncoding typeEncoding_;
    uint64_t type_;
    uint64_t subtype_;
};
