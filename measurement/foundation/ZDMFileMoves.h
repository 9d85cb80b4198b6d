#pragma once
// Deleting and moving the library's files, and moving a defaults suite between the platform's
// preferences folder and the library's support directory. Paths are texts; failures are false.
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

// The file's property list when it is one (binary or XML) whose root is a dictionary.
std::optional<Dictionary> ZDMReadPlistDictionary(const std::string& path);

// False with error code 1 for an empty path; otherwise whether the file or directory was removed.
bool ZDMDeleteFileAtPath(const std::string& path, Error* error = nullptr);
// Moves a regular file. A missing source is nothing to move (true). With `replace` false an existing
// destination wins and the source is deleted; with true the destination is replaced. A directory at
// either end, or an empty path, is false.
bool ZDMMoveFileReplacing(const std::string& source, const std::string& destination, bool replace);
// Moves the suite's preferences file to the support directory's plist of the same name, keeping a
// plist already there, and forgets the suite's domain.
bool ZDMMigrateDefaultsSuiteToPlistFile(const std::string& suiteName);
// Moves the support directory's plist back to the suite's preferences file and writes its values
// into the suite.
bool ZDMMigratePlistFileToDefaultsSuite(const std::string& suiteName);
