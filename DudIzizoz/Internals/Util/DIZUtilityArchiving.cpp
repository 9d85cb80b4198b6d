#include <mutex>

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"

namespace {

struct ArchivingState {
    std::mutex lock;
    ArchiveClassList allowedClasses;
    std::map<std::string, std::string> migrationClasses;
};

ArchivingState& archiving() {
    static ArchivingState state;
    return state;
}

}  // namespace

std::optional<Data> DIZUtility::archiveKeyedData(const Archived& object) {
    if (object.isNull()) return std::nullopt;
    Error error;
    auto data = KeyedArchiver::archivedDataWithRootObject(object, true, &error);
    if (!data) DIZLogError(kDIZLogTag, "Archiving NSData failed with error: %@", error.description);
    return data;
}

std::optional<Archived> DIZUtility::unarchiveKeyedData(const std::optional<Data>& data) {
    if (!data) return std::nullopt;
    ArchiveClassList classes;
    UnarchiveOptions options;
    {
        std::lock_guard guard(archiving().lock);
        classes = archiving().allowedClasses;
        options.renamedClasses = archiving().migrationClasses;
    }
    Error error;
    auto object = KeyedUnarchiver::unarchivedObject(*data, classes, &error, options);
    if (!object) DIZLogError(kDIZLogTag, "Unarchiving NSData failed with error: %@", error.description);
    return object;
}

void DIZUtility::addAllowedClasses(const ArchiveClassList& classes) {
    std::lock_guard guard(archiving().lock);
    auto& allowed = archiving().allowedClasses;
    allowed.insert(allowed.end(), classes.begin(), classes.end());
}

void DIZUtility::addMigrationClasses(const std::map<std::string, std::string>& classes) {
    std::lock_guard guard(archiving().lock);
    for (const auto& [oldName, newName] : classes) archiving().migrationClasses[oldName] = newName;
}
