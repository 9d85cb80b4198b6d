#pragma once
// Where the system keeps its files; every location is absolute. With QUORVANE_HOME set, everything
// lives below it (tests set it so they never touch the real home; a relative one counts from the
// directory the process started in); otherwise the XDG base directories are used, where relative
// ones are ignored as unset.
#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

namespace FileLocations {
std::filesystem::path preferencesDirectory();         // user defaults suites
std::filesystem::path applicationSupportDirectory();  // long-lived data
std::filesystem::path cachesDirectory();
std::filesystem::path temporaryDirectory();
std::filesystem::path configDirectory();  // XDG config home (autostart entries live below it)
// Creates the directory and its parents; false when that fails.
bool ensureDirectory(const std::filesystem::path& dir);
// Writes through a temporary file and a rename, so readers see the old or the new file, never half.
bool writeFileAtomically(const std::filesystem::path& file, const Data& contents);

// Every file the system reads is small; a caller that expects more passes its own limit.
inline constexpr std::uintmax_t kDefaultReadLimit = 8 * 1024 * 1024;
// Error codes of readFile, in kFoundationErrorDomain.
inline constexpr int64_t kFileReadUnknownError = 256;  // not a regular file, or an I/O error
inline constexpr int64_t kFileReadNoPermissionError = 257;
inline constexpr int64_t kFileReadNoSuchFileError = 260;
inline constexpr int64_t kFileReadTooLargeError = 263;
// The whole contents of a regular file of at most `maxSize` bytes. Anything else (missing, a
// directory, a device, a FIFO, too large, unreadable) gives nullopt and an Error; nothing blocks.
std::optional<Data> readFile(const std::filesystem::path& file, Error* error = nullptr,
                             std::uintmax_t maxSize = kDefaultReadLimit);
}  // namespace FileLocations
