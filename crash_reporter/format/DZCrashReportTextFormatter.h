#pragma once
// A decoded crash report as a plain-text crash log ("Report Version:  104"). Parts the report lacks
// print "???" or leave out their section; nothing in a report stops the rendering. No shared
// state: any thread may format.
#include <cstdint>
#include <string>

#include "crash_reporter/format/DZCrashReportFormatter.h"

// The only layout there is; the value is kept and passed on but does not change the text.
enum DZCrashReportTextFormat : int32_t {
    DZCrashReportTextFormatiOS = 0,
};

// The platform's string-encoding identifiers that formatReport() can produce.
enum DZStringEncoding : uint64_t {
    DZASCIIStringEncoding = 1,
    DZUTF8StringEncoding = 4,
    DZISOLatin1StringEncoding = 5,
};

class DZCrashReportTextFormatter : public DZCrashReportFormatter {
  public:
    DZCrashReportTextFormatter(int32_t textFormat, uint64_t stringEncoding)
        : textFormat_(textFormat), stringEncoding_(stringEncoding) {}

    // The text in the formatter's encoding; a character the encoding lacks becomes "?". nullopt for
    // an encoding not listed above. The error is never written.
    std::optional<Data> formatReport(const DZCrashReport& report, Error* error = nullptr) override;

    static std::string stringValueForCrashReport(const DZCrashReport& report, int32_t textFormat);
    // One line of a stack listing, "\n" included.
    static std::string formatStackFrame(const DZCrashReportStackFrameInfo& frame, uint64_t frameIndex,
                                        const DZCrashReport& report, bool lp64);

    int32_t textFormat() const { return textFormat_; }
    uint64_t stringEncoding() const { return stringEncoding_; }

  private:
    int32_t textFormat_;
    uint64_t stringEncoding_;
};
