#pragma once
// Where the system keeps its files. With QUORVANE_HOME set, everything lives below it (tests set
// it so they never touch the real home); otherwise the XDG base directories are used.
#include <filesystem>
#include <optional>

#include "platform/foundation/Data.h"

namespace FileLocations {
std::filesystem::path preferencesDirectory();        // user defaults suites
std::filesystem::path applicationSupportDirectory();  // long-lived data
std::filesystem::path cachesDirectory();
std::filesystem::path temporaryDirectory();
std::filesystem::path configDirectory();  // XDG config home (autostart entries live below it)
// Creates the directory and its parents; false when that fails.
bool ensureDirectory(const std::filesystem::path& dir);
// Writes through a temporary file and a rename, so readers see the old or the new file, never half.
bool writeFileAtomically(const std::filesystem::path& file, const Data& contents);
std::optional<Data> readFile(const std::filesystem::path& file);
}  // namespace FileLocations
