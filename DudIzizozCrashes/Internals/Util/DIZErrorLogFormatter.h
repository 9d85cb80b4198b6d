#pragma once
// Turns a decoded crash report into the Apple error log the crash service sends, and such a log
// into the read-only error report shown to the application. Stateless: every operation is static
// and may run on any thread. Missing parts of a report give placeholders ("???") or absent fields,
// never a failure; oddities are logged as warnings under the crash service's tag.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizozCrashes/Internals/Model/DIZAppleErrorLog.h"
#include "DudIzizozCrashes/Model/DIZErrorReport.h"
#include "crash_reporter/format/DZCrashReport.h"

// Mach-O CPU types.
inline constexpr uint64_t kDIZCPUTypeX86 = 7;
inline constexpr uint64_t kDIZCPUTypeARM = 12;
inline constexpr uint64_t kDIZCPUTypePowerPC = 18;
inline constexpr uint64_t kDIZCPUTypeX86_64 = 0x01000007;
inline constexpr uint64_t kDIZCPUTypeARM64 = 0x0100000C;

enum class DIZBinaryImageType : int {
    appBinary = 0,
    appFramework = 1,
    other = 2,
};

class DIZErrorLogFormatter {
  public:
    using Text = std::optional<std::string>;
    using Report = DZCrashReport;

    static std::shared_ptr<DIZAppleErrorLog> errorLogFromCrashReport(const Report& report);
    // nullptr for no report.
    static std::shared_ptr<DIZErrorReport> errorReportFromCrashReport(const Report* report);
    static std::shared_ptr<DIZErrorReport> errorReportFromLog(const DIZAppleErrorLog& errorLog);

    // The report's UUID in upper case; a report without one gets an id derived from its contents,
    // so that every call for the same report answers the same id.
    static std::string errorIdForCrashReport(const Report& report);
    static DIZAppleErrorLog& addProcessInfoAndApplicationPathTo(DIZAppleErrorLog& errorLog,
                                                                const Report& report);
    // The first thread marked crashed, or nullptr.
    static std::shared_ptr<DZCrashReportThreadInfo> findCrashedThreadInReport(const Report& report);
    static std::optional<Date> getAppLaunchTimeFromReport(const Report& report);
    // A crash time on a whole second gains 0.999 s; a missing one counts as 1970-01-01 00:00:00.
    static Date getCrashTimeFromReport(const Report& report);
    // The same rule for a recorded time (report files store whole seconds only).
    static Date crashTimeFromRecordedTime(const std::optional<Date>& recorded);
    static std::vector<std::shared_ptr<DIZThread>> extractThreadsFromReport(
        const Report& report, const std::shared_ptr<DZCrashReportThreadInfo>& crashedThread, bool is64bit);
    // "<symbol> + <offset>" for a symbolicated frame of a system image; "0x<image base> + <offset>"
    // for every other frame, so that the server symbolicates the application's own frames.
    static std::string formatStackFrame(const DZCrashReportStackFrameInfo& frame, const Report& report);
    static Dictionary extractRegistersFromCrashedThread(const DZCrashReportThreadInfo* crashedThread,
                                                        bool is64bit);
    static Text extractExceptionReasonFromReport(const Report& report);
    static Text selectorRegisterValueFromReport(const Report& report,
                                                const DZCrashReportThreadInfo* crashedThread,
                                                uint64_t codeType);
    static Text selectorForRegisterWithName(const std::string& registerName,
                                            const DZCrashReportThreadInfo& thread, const Report& report);
    // Sorted by base address; an image is kept when a frame or register points into it, or when
    // it belongs to the application.
    static std::vector<std::shared_ptr<DIZBinary>> extractBinaryImagesFromReport(const Report& report,
                                                                                 bool is64bit);
    // Every frame address of the exception and of the threads, then every register value.
    static std::vector<uint64_t> addressesFromReport(const Report& report);
    static bool isBinaryWithStart(uint64_t start, uint64_t end, const std::vector<uint64_t>& addresses);
    static DIZBinaryImageType imageTypeForImagePath(const Text& imagePath, const Text& processPath);
    // The user's name taken out of a home path ("/Users/USER/", "/home/USER/"); any other path that
    // mentions "Users" becomes empty text.
    static std::string anonymizedPathFromPath(const std::string& path);
    // The device of the crash time from the history, overlaid with what the report itself tells.
    static std::shared_ptr<DIZDevice> deviceForTimestamp(const std::optional<Date>& timestamp,
                                                         const Report& report);
    static std::string convertCodeTypeToString(uint64_t cpuType);
    static std::string convertArchNameToString(uint64_t cpuType, uint64_t cpuSubtype);
    static bool isCodeType64bit(uint64_t cpuType);
    static Text uuidRefToString(const std::optional<UUID>& uuid);
    // "0x" and 16 hex digits when 64-bit, else 8.
    static std::string formatAddress(uint64_t address, bool is64bit);
};
