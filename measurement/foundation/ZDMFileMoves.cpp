#include "measurement/foundation/ZDMFileMoves.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "measurement/foundation/ZDMErrors.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"

namespace fs = std::filesystem;

std::optional<Dictionary> ZDMReadPlistDictionary(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto value = plist::read(bytes);
    if (!value || !value->asDictionary()) return std::nullopt;
    return *value->asDictionary();
}

bool ZDMDeleteFileAtPath(const std::string& path, Error* error) {
    if (path.empty()) {
        ZDMSetError(error, 1, "Received empty path for deleting file");
        return false;
    }
    std::error_code ec;
    const auto removed = fs::remove_all(path, ec);
    if (ec || removed == 0) {
        setError(error, Error("NSCocoaErrorDomain", 4, ec ? ec.message() : "No such file or directory"));
        return false;
    }
    return true;
}

bool ZDMMoveFileReplacing(const std::string& source, const std::string& destination, bool replace) {
    if (source.empty() || destination.empty()) return false;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(source, ec))) return true;
    if (fs::is_directory(source, ec)) return false;
    if (fs::exists(fs::symlink_status(destination, ec))) {
        if (fs::is_directory(destination, ec)) return false;
        if (!replace) return ZDMDeleteFileAtPath(source);
        if (!ZDMDeleteFileAtPath(destination)) return false;
    }
    fs::create_directories(fs::path(destination).parent_path(), ec);
    if (ec) return false;
    fs::rename(source, destination, ec);
    return !ec;
}

bool ZDMMigrateDefaultsSuiteToPlistFile(const std::string& suiteName) {
    if (suiteName.empty()) return false;
    if (!ZDMMoveFileReplacing(ZDMPreferencesPlistPath(suiteName), ZDMMeasurementSupportPlistPath(suiteName),
                              false))
        return false;
    UserDefaults::standardUserDefaults()->removePersistentDomainForName(suiteName);
    return true;
}

bool ZDMMigratePlistFileToDefaultsSuite(const std::string& suiteName) {
    if (suiteName.empty()) return false;
    const std::string plistPath = ZDMMeasurementSupportPlistPath(suiteName);
    const auto values = ZDMReadPlistDictionary(plistPath);
    const bool moved = ZDMMoveFileReplacing(plistPath, ZDMPreferencesPlistPath(suiteName), true);
    if (values) {
        UserDefaults::standardUserDefaults()->removePersistentDomainForName(suiteName);
        auto suite = UserDefaults::suite(suiteName);
        for (const auto& [key, value] : *values) suite->setObject(value, key);
    }
    return moved;
}
