#include "measurement/foundation/ZDMFileUtil.h"

#include <filesystem>

#include "measurement/foundation/ZDMMonitor.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/FileLocations.h"

namespace fs = std::filesystem;

namespace {
fs::path supportDirectory() {
    const fs::path applicationSupport = FileLocations::applicationSupportDirectory();
    if (applicationSupport.empty()) {
        ZDMMonitor::sharedMonitor()->logWithLevel(2, 19001,
                                                  "NSSearchPath for ApplicationSupport directory is empty");
        return {};
    }
    return applicationSupport / "Zizoda" / "Measurement";
}
}  // namespace

bool ZDMExcludePathFromBackup(const std::string& path, Error* error) {
    return FileAttributes::setExcludedFromBackup(path, true, error);
}

// The suites live in the platform's preferences folder: "Preferences" in the Library that
// QUORVANE_HOME stands for, or the settings folder of the XDG layout.
std::string ZDMPreferencesPlistPath(const std::string& suiteName) {
    if (suiteName.empty()) return {};
    const fs::path preferences = FileLocations::preferencesDirectory();
    if (preferences.empty()) {
        ZDMMonitor::sharedMonitor()->logWithLevel(2, 19000, "NSSearchPath for Library directory is empty");
        return {};
    }
    return (preferences / (suiteName + ".plist")).string();
}

std::string ZDMMeasurementSupportFilePath(const std::string& fileName) {
    if (fileName.empty()) return {};
    const fs::path directory = supportDirectory();
    return directory.empty() ? std::string() : (directory / fileName).string();
}

std::string ZDMMeasurementSupportPlistPath(const std::string& fileName) {
    if (fileName.empty()) return {};
    const fs::path directory = supportDirectory();
    if (directory.empty()) return {};
    fs::path file = directory / fileName;
    if (file.extension() != ".plist") file += ".plist";
    return file.string();
}
