#pragma once
// The operating system and architecture the report was written on, and when.
#include <memory>
#include <optional>
#include <string>

#include "crash_reporter/format/DZCrashReportProcessorInfo.h"
#include "platform/foundation/Date.h"

// Values as the report file stores them; a value outside the list is kept as it came.
enum class DZCrashReportOperatingSystem : int {
    MacOSX = 0,
    iPhoneOS = 1,
    iPhoneSimulator = 2,
    Unknown = 3,
    AppleTVOS = 4,
};

enum class DZCrashReportArchitecture : int {
    X86_32 = 0,
    X86_64 = 1,
    ARMv6 = 2,
    PPC = 3,
    PPC64 = 4,
    ARMv7 = 5,
    Unknown = 6,
};

class DZCrashReportSystemInfo {
  public:
    DZCrashReportSystemInfo(DZCrashReportOperatingSystem operatingSystem, std::string operatingSystemVersion,
                            std::optional<std::string> operatingSystemBuild,
                            DZCrashReportArchitecture architecture,
                            std::shared_ptr<DZCrashReportProcessorInfo> processorInfo,
                            std::optional<Date> timestamp)
        : operatingSystem_(operatingSystem),
          operatingSystemVersion_(std::move(operatingSystemVersion)),
          operatingSystemBuild_(std::move(operatingSystemBuild)),
          architecture_(architecture),
          processorInfo_(std::move(processorInfo)),
          timestamp_(timestamp) {}
    DZCrashReportSystemInfo(DZCrashReportOperatingSystem operatingSystem, std::string operatingSystemVersion,
                            DZCrashReportArchitecture architecture, std::optional<Date> timestamp)
        : DZCrashReportSystemInfo(operatingSystem, std::move(operatingSystemVersion), std::nullopt,
                                  architecture, nullptr, timestamp) {}

    DZCrashReportOperatingSystem operatingSystem() const { return operatingSystem_; }
    const std::string& operatingSystemVersion() const { return operatingSystemVersion_; }
    const std::optional<std::string>& operatingSystemBuild() const { return operatingSystemBuild_; }
    DZCrashReportArchitecture architecture() const { return architecture_; }
    const std::optional<Date>& timestamp() const { return timestamp_; }
    const std::shared_ptr<DZCrashReportProcessorInfo>& processorInfo() const { return processorInfo_; }

  private:
    DZCrashReportOperatingSystem operatingSystem_;
    std::string operatingSystemVersion_;
    std::optional<std::string> operatingSystemBuild_;
    DZCrashReportArchitecture architecture_;
    std::shared_ptr<DZCrashReportProcessorInfo> processorInfo_;
    std::optional<Date> timestamp_;
};
