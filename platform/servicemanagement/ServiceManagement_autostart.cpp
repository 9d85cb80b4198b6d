// The login items as XDG autostart entries, which desktop sessions start at login.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileLocations.h"
#include "platform/servicemanagement/DesktopEntry.h"
#include "platform/servicemanagement/ServiceManagement.h"

namespace fs = std::filesystem;

namespace {

// Autostart entries are a few hundred bytes; anything far larger is not one and is not read whole.
constexpr std::uintmax_t kMaximumEntrySize = 64 * 1024;

fs::path autostartDirectory() {
    return FileLocations::configDirectory() / "autostart";
}

// The label becomes a file name, so it must not name another place.
bool isSafeLabel(const std::string& label) {
    return !label.empty() && label != "." && label != ".." && label.find('/') == std::string::npos &&
           label.find('\0') == std::string::npos;
}

std::optional<Value> jobDictionary(const fs::directory_entry& entry) {
    if (entry.path().extension() != ".desktop") return std::nullopt;
    // Refuses what is no regular file or is too large, checked on the file actually opened.
    auto contents = FileLocations::readFile(entry.path(), nullptr, kMaximumEntrySize);
    if (!contents) return std::nullopt;
    auto state = DesktopEntry::readSwitch(stringFromData(*contents));
    if (!state) return std::nullopt;
    Dictionary job{{"Label", entry.path().stem().string()}};
    if (*state != DesktopEntry::Switch::unknown) job.set("OnDemand", *state == DesktopEntry::Switch::on);
    return Value(std::move(job));
}

bool enable(const fs::path& file, const std::string& label) {
    std::error_code ec;
    fs::path executable = fs::read_symlink("/proc/self/exe", ec);
    if (ec || executable.empty()) return false;
    std::string name = Bundle::mainBundle()->displayName();
    std::string entry = DesktopEntry::autostartEntry(name.empty() ? label : name, executable.string());
    return FileLocations::writeFileAtomically(file, dataFromString(entry));
}

bool disable(const fs::path& file) {
    std::error_code ec;
    auto status = fs::symlink_status(file, ec);
    if (status.type() == fs::file_type::not_found) return true;
    // A directory of that name is not ours to remove.
    if (ec || status.type() == fs::file_type::directory) return false;
    return fs::remove(file, ec) && !ec;
}

}  // namespace

std::optional<Value> SMCopyAllJobDictionaries(SMDomain) {
    fs::path dir = autostartDirectory();
    std::error_code ec;
    if (!fs::exists(dir, ec) && !ec) return Value(Value::Array{});
    fs::directory_iterator it(dir, ec);
    if (ec) return std::nullopt;

    std::vector<fs::directory_entry> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return std::nullopt;
        entries.push_back(*it);
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
    Value::Array jobs;
    for (const auto& entry : entries)
        if (auto job = jobDictionary(entry)) jobs.push_back(std::move(*job));
    return Value(std::move(jobs));
}

bool SMLoginItemSetEnabled(const std::string& label, bool enabled) {
    if (!isSafeLabel(label)) return false;
    fs::path file = autostartDirectory() / (label + ".desktop");
    return enabled ? enable(file, label) : disable(file);
}
