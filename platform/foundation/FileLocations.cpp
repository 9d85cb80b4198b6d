#include "platform/foundation/FileLocations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

namespace {
const char* env(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// A relative base directory in the environment is invalid, as the XDG base-directory rules say:
// it is ignored as if unset, so no location ever depends on the current directory.
const char* absoluteEnv(const char* name) {
    const char* value = env(name);
    return value && fs::path(value).is_absolute() ? value : nullptr;
}

// The directory the process started in. Taken once, at start-up, so that a relative QUORVANE_HOME
// keeps naming the same place after the process changes its directory.
const fs::path& startDirectory() {
    static const fs::path dir = [] {
        std::error_code ec;
        fs::path current = fs::current_path(ec);
        return ec ? fs::path("/") : current;
    }();
    return dir;
}
[[maybe_unused]] const bool startDirectoryTaken = !startDirectory().empty();

std::optional<fs::path> quorvaneHome() {
    const char* q = env("QUORVANE_HOME");
    if (!q) return std::nullopt;
    return startDirectory() / q;
}

fs::path systemTemporaryDirectory() {
    if (const char* t = absoluteEnv("TMPDIR")) return t;
    return "/tmp";
}

fs::path home() {
    if (const char* h = absoluteEnv("HOME")) return h;
    return systemTemporaryDirectory();
}

// Below QUORVANE_HOME when it is set, else the XDG directory or its default below $HOME.
fs::path located(const char* homeSubdir, const char* xdgVariable, const char* xdgDefault) {
    if (auto q = quorvaneHome()) return *q / homeSubdir;
    if (const char* x = absoluteEnv(xdgVariable)) return x;
    return home() / xdgDefault;
}
}  // namespace

fs::path FileLocations::preferencesDirectory() {
    if (auto q = quorvaneHome()) return *q / "Preferences";
    return configDirectory() / "quorvane";
}

fs::path FileLocations::configDirectory() {
    return located("Config", "XDG_CONFIG_HOME", ".config");
}
fs::path FileLocations::applicationSupportDirectory() {
    return located("Application Support", "XDG_DATA_HOME", ".local/share");
}
fs::path FileLocations::cachesDirectory() {
    return located("Caches", "XDG_CACHE_HOME", ".cache");
}

fs::path FileLocations::temporaryDirectory() {
    if (auto q = quorvaneHome()) return *q / "tmp";
    return systemTemporaryDirectory();
}

bool FileLocations::ensureDirectory(const fs::path& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    return fs::is_directory(dir, ec);
}

bool FileLocations::writeFileAtomically(const fs::path& file, const Data& contents) {
    if (!ensureDirectory(file.parent_path())) return false;
    std::string tmpl = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(tmpl.data());
    if (fd < 0) return false;
    size_t written = 0;
    while (written < contents.size()) {
        ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        written += static_cast<size_t>(n);
    }
    bool ok = written == contents.size() && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(tmpl.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(tmpl.c_str());
    return ok;
}

std::optional<Data> FileLocations::readFile(const fs::path& file, Error* error, std::uintmax_t maxSize) {
    auto refuse = [&](int64_t code, const std::string& why) -> std::optional<Data> {
        setError(error, Error(kFoundationErrorDomain, code, "Could not read " + file.string() + ": " + why));
        return std::nullopt;
    };
    auto refuseErrno = [&](int number) {
        const int64_t code = number == ENOENT || number == ENOTDIR ? kFileReadNoSuchFileError
                             : number == EACCES || number == EPERM ? kFileReadNoPermissionError
                                                                   : kFileReadUnknownError;
        return refuse(code, std::generic_category().message(number));
    };
    // Non-blocking, so that opening a FIFO does not wait for a writer; it is refused below anyway.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return refuseErrno(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat status {};
    if (::fstat(fd, &status) != 0) return refuseErrno(errno);
    if (!S_ISREG(status.st_mode)) return refuse(kFileReadUnknownError, "not a regular file");
    const auto tooLarge = [&] {
        return refuse(kFileReadTooLargeError, "larger than " + std::to_string(maxSize) + " bytes");
    };
    if (static_cast<std::uintmax_t>(status.st_size) > maxSize) return tooLarge();

    // The size is only a hint: the file may grow while it is read, and some report none at all.
    Data data;
    data.reserve(static_cast<size_t>(status.st_size));
    uint8_t buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return refuseErrno(errno);
        if (n == 0) return data;
        if (static_cast<std::uintmax_t>(n) > maxSize - data.size()) return tooLarge();
        data.insert(data.end(), buffer, buffer + n);
    }
}
