#include "platform/foundation/FileLocations.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
const char* env(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

fs::path home() {
    if (const char* h = env("HOME")) return h;
    return fs::temp_directory_path();
}

// Below QUORVANE_HOME when it is set, else the XDG directory or its default below $HOME.
fs::path located(const char* homeSubdir, const char* xdgVariable, const char* xdgDefault) {
    if (const char* q = env("QUORVANE_HOME")) return fs::path(q) / homeSubdir;
    if (const char* x = env(xdgVariable)) return x;
    return home() / xdgDefault;
}
}  // namespace

fs::path FileLocations::preferencesDirectory() {
    if (const char* q = env("QUORVANE_HOME")) return fs::path(q) / "Preferences";
    return configDirectory() / "quorvane";
}

fs::path FileLocations::configDirectory() { return located("Config", "XDG_CONFIG_HOME", ".config"); }
fs::path FileLocations::applicationSupportDirectory() {
    return located("Application Support", "XDG_DATA_HOME", ".local/share");
}
fs::path FileLocations::cachesDirectory() { return located("Caches", "XDG_CACHE_HOME", ".cache"); }

fs::path FileLocations::temporaryDirectory() {
    if (const char* q = env("QUORVANE_HOME")) return fs::path(q) / "tmp";
    if (const char* t = env("TMPDIR")) return t;
    return "/tmp";
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

std::optional<Data> FileLocations::readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    Data data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return data;
}
