#include "platform/foundation/FileAttributes.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <tuple>

namespace fs = std::filesystem;

namespace {
constexpr const char* kExcludedFromBackup = "user.quorvane.excluded-from-backup";
constexpr const char* kImmutable = "user.quorvane.immutable";

using FileIdentity = std::tuple<dev_t, ino_t, std::string>;  // device, inode, attribute

struct SideRecord {
    std::mutex mutex;
    std::set<FileIdentity> marks;
};

SideRecord& sideRecord() {
    static SideRecord* record = new SideRecord;  // never destroyed: files may be checked during exit
    return *record;
}

// Where user attributes are refused (EPERM is how some file systems refuse them on special files),
// the process's own record keeps the mark instead.
bool unsupported(int number) {
    return number == ENOTSUP || number == EOPNOTSUPP || number == EPERM;
}

Error fileError(const fs::path& path, int number) {
    const int64_t code = number == ENOENT || number == ENOTDIR ? FileAttributes::kFileNoSuchFileError
                                                               : FileAttributes::kFileWriteUnknownError;
    return Error(kFoundationErrorDomain, code,
                 "Could not mark " + path.string() + ": " + std::generic_category().message(number));
}

bool setMark(const fs::path& path, const char* attribute, bool on, Error* error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        setError(error, fileError(path, errno));
        return false;
    }
    const int result =
        on ? ::setxattr(path.c_str(), attribute, "1", 1, 0) : ::removexattr(path.c_str(), attribute);
    if (result == 0 || (!on && errno == ENODATA)) {
        std::lock_guard lock(sideRecord().mutex);
        sideRecord().marks.erase({status.st_dev, status.st_ino, attribute});
        return true;
    }
    if (!unsupported(errno)) {
        setError(error, fileError(path, errno));
        return false;
    }
    std::lock_guard lock(sideRecord().mutex);
    if (on)
        sideRecord().marks.insert({status.st_dev, status.st_ino, attribute});
    else
        sideRecord().marks.erase({status.st_dev, status.st_ino, attribute});
    return true;
}

bool hasMark(const fs::path& path, const char* attribute) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    char value[1];
    if (::getxattr(path.c_str(), attribute, value, sizeof value) >= 0) return true;
    std::lock_guard lock(sideRecord().mutex);
    return sideRecord().marks.contains({status.st_dev, status.st_ino, attribute});
}
}  // namespace

bool FileAttributes::setExcludedFromBackup(const fs::path& path, bool excluded, Error* error) {
    return setMark(path, kExcludedFromBackup, excluded, error);
}

bool FileAttributes::isExcludedFromBackup(const fs::path& path) {
    return hasMark(path, kExcludedFromBackup);
}

bool FileAttributes::setImmutable(const fs::path& path, bool immutable, Error* error) {
    return setMark(path, kImmutable, immutable, error);
}

bool FileAttributes::isImmutable(const fs::path& path) {
    return hasMark(path, kImmutable);
}
