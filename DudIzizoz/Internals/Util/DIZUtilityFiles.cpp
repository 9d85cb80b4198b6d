#include <fstream>
#include <mutex>

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileLocations.h"

namespace fs = std::filesystem;

namespace {

std::recursive_mutex& filesLock() {
    static std::recursive_mutex lock;
    return lock;
}

// The component below the data directory; nullopt for an empty one or one that would leave it.
std::optional<fs::path> below(const std::string& pathComponent) {
    fs::path relative(pathComponent);
    if (pathComponent.empty() || relative.is_absolute()) return std::nullopt;
    for (const auto& part : relative) {
        if (part == "..") return std::nullopt;
    }
    return DIZUtility::dudIzizozDirectoryURL() / relative;
}

bool writeFile(const fs::path& file, const Data& contents, bool atomically) {
    if (atomically) return FileLocations::writeFileAtomically(file, contents);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    return static_cast<bool>(out.flush());
}

}  // namespace

fs::path DIZUtility::dudIzizozDirectoryURL() {
    std::lock_guard guard(filesLock());
    // Not cached: the application-support directory follows QUORVANE_HOME, which tests move.
    fs::path directory = FileLocations::applicationSupportDirectory() /
                         Bundle::mainBundle()->bundleIdentifier() / kDIZSdkIdentifier;
    std::error_code ec;
    if (!fs::is_directory(directory, ec)) createDirectoryAtURL(directory);
    return directory;
}

std::optional<fs::path> DIZUtility::createFileAtPathComponent(const std::string& pathComponent,
                                                              const std::optional<Data>& data,
                                                              bool atomically, bool forceOverwrite) {
    std::lock_guard guard(filesLock());
    auto file = below(pathComponent);
    if (!file) return std::nullopt;
    std::error_code ec;
    if (!forceOverwrite && fs::exists(*file, ec)) return file;
    if (!createDirectoryAtURL(file->parent_path()) || !writeFile(*file, data.value_or(Data{}), atomically)) {
        DIZLogError(kDIZLogTag, "Couldn't create new file at path %@", *file);
        return std::nullopt;
    }
    return file;
}

bool DIZUtility::deleteItemForPathComponent(const std::string& pathComponent) {
    std::lock_guard guard(filesLock());
    auto item = below(pathComponent);
    return item && deleteFileAtURL(*item);
}

bool DIZUtility::deleteFileAtURL(const fs::path& url) {
    std::lock_guard guard(filesLock());
    std::error_code ec;
    if (fs::remove_all(url, ec) > 0 && !ec) return true;
    DIZLogDebug(kDIZLogTag, "Couldn't remove item at %@: %@", url,
                ec ? ec.message() : std::string("No such file or directory"));
    return false;
}

std::optional<fs::path> DIZUtility::createDirectoryForPathComponent(const std::string& pathComponent) {
    std::lock_guard guard(filesLock());
    auto directory = below(pathComponent);
    if (!directory || !createDirectoryAtURL(*directory)) return std::nullopt;
    return directory;
}

std::optional<Data> DIZUtility::loadDataForPathComponent(const std::string& pathComponent) {
    std::lock_guard guard(filesLock());
    auto file = below(pathComponent);
    if (!file) return std::nullopt;
    return FileLocations::readFile(*file);
}

std::optional<std::vector<fs::path>> DIZUtility::contentsOfDirectory(const std::string& pathComponent) {
    std::lock_guard guard(filesLock());
    auto directory = below(pathComponent);
    if (!directory) return std::nullopt;
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(*directory, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    if (ec) {
        DIZLogDebug(kDIZLogTag, "Couldn't get files in the directory \"%@\": %@", pathComponent,
                    ec.message());
        return std::nullopt;
    }
    return entries;
}

bool DIZUtility::createFileAtPath(const fs::path& path, const Data& contents) {
    return writeFile(path, contents, true);
}

bool DIZUtility::fileExistsForPathComponent(const std::string& pathComponent) {
    auto file = below(pathComponent);
    std::error_code ec;
    return file && fs::exists(*file, ec);
}

std::optional<fs::path> DIZUtility::fullURLForPathComponent(const std::string& pathComponent) {
    return below(pathComponent);
}

bool DIZUtility::createDirectoryAtURL(const fs::path& url) {
    std::lock_guard guard(filesLock());
    std::error_code ec;
    if (url.empty() || (!fs::create_directories(url, ec) && !fs::is_directory(url))) {
        DIZLogError(kDIZLogTag, "Couldn't create directory at %@: %@", url,
                    ec ? ec.message() : std::string("Not a directory"));
        return false;
    }
    return true;
}
