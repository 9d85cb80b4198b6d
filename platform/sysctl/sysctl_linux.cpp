#include "platform/sysctl/sysctl_linux.h"

#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The whole of a small system file. /proc and /sys files report a size of 0, so the size is not
// asked for; what they hold is read until the end.
bool readSmallFile(const std::string& path, std::string& contents) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    contents.clear();
    char buffer[4096];
    ssize_t read;
    while ((read = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (read < 0 && errno == EINTR) continue;
        if (read < 0 || contents.size() > (1u << 20)) {
            close(fd);
            return false;
        }
        contents.append(buffer, static_cast<size_t>(read));
    }
    close(fd);
    return true;
}

std::string below(const std::string& root, std::string_view path) {
    std::string joined = root;
    if (!joined.empty() && joined.back() == '/') joined.pop_back();
    joined += path;
    return joined;
}

template <class Number>
bool parseNumber(std::string_view text, Number& number) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::string textValue(std::string_view text) {
    std::string value(text);
    value.push_back('\0');
    return value;
}

std::string integerValue(int32_t number) {
    std::string value(sizeof number, '\0');
    std::memcpy(value.data(), &number, sizeof number);
    return value;
}

int readUname(const std::string& name, std::string& value) {
    utsname system{};
    if (uname(&system) != 0) return errno;
    value = textValue(name == "kern.osrelease" ? system.release : system.version);
    return 0;
}

int readModel(const std::string& root, std::string& value) {
    std::string contents;
    if (!readSmallFile(below(root, "/sys/class/dmi/id/product_name"), contents)) return ENOENT;
    while (!contents.empty() && contents.back() == '\n') contents.pop_back();
    value = textValue(contents);
    return 0;
}

// The cpu<N> folders of the configured CPUs, present or not.
std::vector<std::filesystem::path> cpuFolders(const std::string& root) {
    std::vector<std::filesystem::path> folders;
    std::error_code error;
    for (std::filesystem::directory_iterator it(below(root, "/sys/devices/system/cpu"), error), end;
         !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        unsigned index;
        if (name.size() > 3 && name.starts_with("cpu") &&
            parseNumber(std::string_view(name).substr(3), index)) {
            folders.push_back(it->path());
        }
    }
    return folders;
}

int readLogicalCPUs(const std::string& root, std::string& value) {
    const size_t count = cpuFolders(root).size();
    if (count == 0) return ENOENT;
    value = integerValue(static_cast<int32_t>(count));
    return 0;
}

// Hyper-threads of one core share its package and core id; an offline CPU has no topology and is
// not counted.
int readPhysicalCPUs(const std::string& root, std::string& value) {
    std::set<std::pair<long, long>> cores;
    for (const auto& folder : cpuFolders(root)) {
        std::string package, core;
        long packageId, coreId;
        if (readSmallFile((folder / "topology/physical_package_id").string(), package) &&
            readSmallFile((folder / "topology/core_id").string(), core) && parseNumber(package, packageId) &&
            parseNumber(core, coreId)) {
            cores.emplace(packageId, coreId);
        }
    }
    if (cores.empty()) return ENOENT;
    value = integerValue(static_cast<int32_t>(cores.size()));
    return 0;
}

// The value after "<key>" on its own line of a "key value" file such as /proc/stat or status.
bool fieldOfLine(std::string_view contents, std::string_view key, std::string_view& field) {
    size_t start = 0;
    while (start < contents.size()) {
        size_t end = contents.find('\n', start);
        if (end == std::string_view::npos) end = contents.size();
        std::string_view line = contents.substr(start, end - start);
        if (line.starts_with(key)) {
            field = line.substr(key.size());
            return true;
        }
        start = end + 1;
    }
    return false;
}

// Splits the fields after the command name of /proc/<pid>/stat. The name is in parentheses and may
// itself hold spaces and parentheses, so it ends at the last ")".
bool splitStat(std::string_view stat, std::string_view& command, std::vector<std::string_view>& fields) {
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return false;
    command = stat.substr(open + 1, close - open - 1);
    std::string_view rest = stat.substr(close + 1);
    fields.clear();
    while (!rest.empty()) {
        const size_t skip = rest.find_first_not_of(" \n");
        if (skip == std::string_view::npos) break;
        rest.remove_prefix(skip);
        const size_t end = rest.find_first_of(" \n");
        fields.push_back(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    return true;
}

}  // namespace

int SysctlLinux::readValue(const std::string& root, const std::string& name, std::string& value) {
    if (name == "kern.osrelease" || name == "kern.osversion") return readUname(name, value);
    if (name == "hw.model") return readModel(root, value);
#if defined(__x86_64__)
    // The platform's CPU_TYPE_X86_64 and CPU_SUBTYPE_X86_64_ALL.
    if (name == "hw.cputype" || name == "hw.cpusubtype") {
        value = integerValue(name == "hw.cputype" ? 0x1000007 : 3);
        return 0;
    }
#endif
    if (name == "hw.physicalcpu_max") return readPhysicalCPUs(root, value);
    if (name == "hw.logicalcpu_max") return readLogicalCPUs(root, value);
    return ENOENT;
}

int SysctlLinux::readProcess(const std::string& root, pid_t pid, kinfo_proc& record) {
    const std::string folder = below(root, "/proc/" + std::to_string(pid));
    std::string stat, status, systemStat;
    if (pid <= 0 || !readSmallFile(folder + "/stat", stat) || !readSmallFile(folder + "/status", status)) {
        return ESRCH;
    }
    std::string_view command, tracer, bootTime;
    std::vector<std::string_view> fields;
    // Fields counted from the state, the first after the name: parent 1, start ticks 19.
    pid_t parent, tracerPid;
    uint64_t startTicks, bootSeconds;
    if (!splitStat(stat, command, fields) || fields.size() < 20 || !parseNumber(fields[1], parent) ||
        !parseNumber(fields[19], startTicks) || !fieldOfLine(status, "TracerPid:", tracer) ||
        !parseNumber(tracer, tracerPid) || !readSmallFile(below(root, "/proc/stat"), systemStat) ||
        !fieldOfLine(systemStat, "btime ", bootTime) || !parseNumber(bootTime, bootSeconds)) {
        return EIO;
    }
    const uint64_t ticksPerSecond = static_cast<uint64_t>(sysconf(_SC_CLK_TCK));
    record = {};
    record.kp_proc.p_pid = pid;
    record.kp_proc.p_flag = tracerPid != 0 ? P_TRACED : 0;
    record.kp_proc.p_starttime.tv_sec = static_cast<time_t>(bootSeconds + startTicks / ticksPerSecond);
    record.kp_proc.p_starttime.tv_usec =
        static_cast<suseconds_t>(startTicks % ticksPerSecond * 1000000 / ticksPerSecond);
    std::memcpy(record.kp_proc.p_comm, command.data(), std::min<size_t>(command.size(), MAXCOMLEN));
    record.kp_eproc.e_ppid = parent;
    return 0;
}
