#include "platform/sysctl/sysctl.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/sysctl/SysctlSources.h"
#include "platform/sysctl/sysctl_linux.h"

namespace {

struct Sources {
    std::mutex mutex;
    std::map<std::string, SysctlSources::Source> replaced;
    SysctlSources::ProcessSource process;
    std::string root = "/";
};

Sources& sources() {
    static Sources* sources = new Sources;  // never destroyed: other threads may read at exit
    return *sources;
}

int readValue(const std::string& name, std::string& value) {
    SysctlSources::Source source;
    std::string root;
    {
        std::lock_guard lock(sources().mutex);
        if (auto found = sources().replaced.find(name); found != sources().replaced.end())
            source = found->second;
        root = sources().root;
    }
    return source ? source(value) : SysctlLinux::readValue(root, name, value);
}

int readProcess(pid_t pid, std::string& value) {
    SysctlSources::ProcessSource source;
    std::string root;
    {
        std::lock_guard lock(sources().mutex);
        source = sources().process;
        root = sources().root;
    }
    kinfo_proc record{};
    const int error = source ? source(pid, record) : SysctlLinux::readProcess(root, pid, record);
    if (error == 0) value.assign(reinterpret_cast<const char*>(&record), sizeof record);
    return error;
}

int failWith(int error) {
    errno = error;
    return -1;
}

// The platform's copy-out rules, shared by both entry points.
int answer(int error, const std::string& value, void* oldp, size_t* oldlenp, const void* newp) {
    if (newp) return failWith(EPERM);
    if (error != 0) return failWith(error);
    if (!oldlenp) return oldp ? failWith(EINVAL) : 0;
    if (!oldp) {
        *oldlenp = value.size();
        return 0;
    }
    if (*oldlenp < value.size()) return failWith(ENOMEM);
    std::memcpy(oldp, value.data(), value.size());
    *oldlenp = value.size();
    return 0;
}

}  // namespace

int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, const void* newp, size_t) {
    if (!name) return failWith(EINVAL);
    std::string value;
    const int error = readValue(name, value);
    return answer(error, value, oldp, oldlenp, newp);
}

int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, const void* newp, size_t) {
    if (!name || namelen != 4 || name[0] != CTL_KERN || name[1] != KERN_PROC || name[2] != KERN_PROC_PID) {
        return failWith(ENOENT);
    }
    std::string value;
    const int error = readProcess(name[3], value);
    return answer(error, value, oldp, oldlenp, newp);
}

void SysctlSources::setSource(const std::string& name, Source source) {
    std::lock_guard lock(sources().mutex);
    if (source) {
        sources().replaced[name] = std::move(source);
    } else {
        sources().replaced.erase(name);
    }
}

void SysctlSources::setProcessSource(ProcessSource source) {
    std::lock_guard lock(sources().mutex);
    sources().process = std::move(source);
}

void SysctlSources::setRoot(const std::string& root) {
    std::lock_guard lock(sources().mutex);
    sources().root = root;
}

void SysctlSources::reset() {
    std::lock_guard lock(sources().mutex);
    sources().replaced.clear();
    sources().process = nullptr;
    sources().root = "/";
}

SysctlSources::Source SysctlSources::text(const std::string& text) {
    return [text](std::string& value) {
        value = text;
        value.push_back('\0');
        return 0;
    };
}

SysctlSources::Source SysctlSources::failure(int error) {
    return [error](std::string&) { return error; };
}
