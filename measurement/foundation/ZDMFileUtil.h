#pragma once
// Where the measurement library keeps its files, and the backup mark on them. Paths are texts;
// a function that cannot name a path answers the empty text.
#include <string>

#include "platform/foundation/Error.h"

// Marks the file or directory as left out of backups; false with the system's error when it cannot.
bool ZDMExcludePathFromBackup(const std::string& path, Error* error = nullptr);
// The file in which the platform keeps the defaults suite `suiteName`.
std::string ZDMPreferencesPlistPath(const std::string& suiteName);
// `fileName` in the library's support directory, "Zizoda/Measurement" in Application Support.
std::string ZDMMeasurementSupportFilePath(const std::string& fileName);
// The same with the extension "plist", added unless the name already has it.
std::string ZDMMeasurementSupportPlistPath(const std::string& fileName);
