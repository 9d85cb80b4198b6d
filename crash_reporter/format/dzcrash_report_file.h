#pragma once
// The report file's header: the magic "dzcrash" (no NUL) and one version byte; the report message
// runs from the end of the header to the end of the file.
#include <cstddef>
#include <cstdint>

inline constexpr char kDZCrashReportFileMagic[7] = {'d', 'z', 'c', 'r', 'a', 's', 'h'};
inline constexpr uint8_t kDZCrashReportFileVersion = 1;
inline constexpr size_t kDZCrashReportFileHeaderSize = sizeof(kDZCrashReportFileMagic) + 1;
