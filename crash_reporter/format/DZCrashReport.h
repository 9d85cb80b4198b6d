#pragma once
// A crash report file decoded into immutable value objects, one per section. Decoding checks the
// file header, unpacks the message body and converts every section; the first missing required
// part fails the whole report, so a report object is always complete.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "crash_reporter/format/DZCrashReportApplicationInfo.h"
#include "crash_reporter/format/DZCrashReportBinaryImageInfo.h"
#include "crash_reporter/format/DZCrashReportExceptionInfo.h"
#include "crash_reporter/format/DZCrashReportMachExceptionInfo.h"
#include "crash_reporter/format/DZCrashReportMachineInfo.h"
#include "crash_reporter/format/DZCrashReportProcessInfo.h"
#include "crash_reporter/format/DZCrashReportSignalInfo.h"
#include "crash_reporter/format/DZCrashReportSystemInfo.h"
#include "crash_reporter/format/DZCrashReportThreadInfo.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/UUID.h"

class DZCrashReport {
  public:
    // The report in `data` (a whole report file), or nullptr and an error of
    // DZCrashReporterErrorDomain, code DZCrashReporterErrorCrashReportInvalid, naming what is wrong.
    static std::shared_ptr<DZCrashReport> initWithData(const Data& data, Error* error = nullptr);

    const std::shared_ptr<DZCrashReportSystemInfo>& systemInfo() const { return systemInfo_; }
    const std::shared_ptr<DZCrashReportMachineInfo>& machineInfo() const { return machineInfo_; }
    const std::shared_ptr<DZCrashReportApplicationInfo>& applicationInfo() const { return applicationInfo_; }
    const std::shared_ptr<DZCrashReportProcessInfo>& processInfo() const { return processInfo_; }
    const std::shared_ptr<DZCrashReportSignalInfo>& signalInfo() const { return signalInfo_; }
    const std::shared_ptr<DZCrashReportMachExceptionInfo>& machExceptionInfo() const {
        return machExceptionInfo_;
    }
    const std::vector<std::shared_ptr<DZCrashReportThreadInfo>>& threads() const { return threads_; }
    const std::vector<std::shared_ptr<DZCrashReportBinaryImageInfo>>& images() const { return images_; }
    const std::shared_ptr<DZCrashReportExceptionInfo>& exceptionInfo() const { return exceptionInfo_; }
    const std::optional<Data>& customData() const { return customData_; }
    // The report's own identifier; nullopt when the file carries none.
    const std::optional<UUID>& uuidRef() const { return uuidRef_; }

    bool hasMachineInfo() const { return machineInfo_ != nullptr; }
    bool hasProcessInfo() const { return processInfo_ != nullptr; }
    bool hasExceptionInfo() const { return exceptionInfo_ != nullptr; }

    // The first image with base address <= address < base address + size, or nullptr.
    std::shared_ptr<DZCrashReportBinaryImageInfo> imageForAddress(uint64_t address) const;

  private:
    DZCrashReport() = default;

    std::shared_ptr<DZCrashReportSystemInfo> systemInfo_;
    std::shared_ptr<DZCrashReportMachineInfo> machineInfo_;
    std::shared_ptr<DZCrashReportApplicationInfo> applicationInfo_;
    std::shared_ptr<DZCrashReportProcessInfo> processInfo_;
    std::shared_ptr<DZCrashReportSignalInfo> signalInfo_;
    std::shared_ptr<DZCrashReportMachExceptionInfo> machExceptionInfo_;
    std::vector<std::shared_ptr<DZCrashReportThreadInfo>> threads_;
    std::vector<std::shared_ptr<DZCrashReportBinaryImageInfo>> images_;
    std::shared_ptr<DZCrashReportExceptionInfo> exceptionInfo_;
    std::optional<Data> customData_;
    std::optional<UUID> uuidRef_;
};
