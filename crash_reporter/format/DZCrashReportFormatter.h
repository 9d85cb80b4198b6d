#pragma once
// Turns a decoded crash report into bytes of some presentation.
#include <optional>

#include "crash_reporter/format/DZCrashReport.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

class DZCrashReportFormatter {
  public:
    virtual ~DZCrashReportFormatter() = default;
    // The report's bytes, or nullopt and an error when it cannot be presented.
    virtual std::optional<Data> formatReport(const DZCrashReport& report, Error* error = nullptr) = 0;
};
