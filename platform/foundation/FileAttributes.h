#pragma once
// Two marks a file or directory carries for the platform: left out of backups, and the user's
// immutable flag. Each is a "user." extended attribute where the file system keeps them; where it
// does not, a record of this process stands in, keyed by the file's identity (so it follows renames
// but not copies, and lasts as long as the process).
#include <cstdint>
#include <filesystem>

#include "platform/foundation/Error.h"

namespace FileAttributes {
// Error codes in kFoundationErrorDomain.
inline constexpr int64_t kFileNoSuchFileError = 4;
inline constexpr int64_t kFileWriteUnknownError = 512;

// False with an Error when the file does not exist or the mark cannot be written.
bool setExcludedFromBackup(const std::filesystem::path& path, bool excluded, Error* error = nullptr);
bool isExcludedFromBackup(const std::filesystem::path& path);
bool setImmutable(const std::filesystem::path& path, bool immutable, Error* error = nullptr);
bool isImmutable(const std::filesystem::path& path);
}  // namespace FileAttributes
