#include "platform/foundation/ProcessInfo.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <tuple>

#include "platform/foundation/FileLocations.h"

namespace {
// The platform release the simulated desktop behaves like.
constexpr OperatingSystemVersion kSimulatedVersion{14, 0, 0};

std::mutex gArgumentsMutex;
std::optional<std::vector<std::string>> gArguments;  // set by setArguments

// The kernel's record of the command line: each argument ends with a NUL.
std::vector<std::string> launchArguments() {
    std::vector<std::string> out;
    auto bytes = FileLocations::readFile("/proc/self/cmdline");
    if (!bytes) return out;
    std::string current;
    for (uint8_t byte : *bytes) {
        if (byte != 0) {
            current += static_cast<char>(byte);
            continue;
        }
        out.push_back(std::move(current));
        current.clear();
    }
    if (!current.empty()) out.push_back(std::move(current));
    return out;
}

std::atomic<int> gMajor{kSimulatedVersion.majorVersion}, gMinor{kSimulatedVersion.minorVersion},
    gPatch{kSimulatedVersion.patchVersion};
}  // namespace

namespace ProcessInfo {

OperatingSystemVersion operatingSystemVersion() {
    return {gMajor.load(), gMinor.load(), gPatch.load()};
}

bool isOperatingSystemAtLeastVersion(const OperatingSystemVersion& v) {
    auto current = operatingSystemVersion();
    return std::tie(current.majorVersion, current.minorVersion, current.patchVersion) >=
           std::tie(v.majorVersion, v.minorVersion, v.patchVersion);
}

void setOperatingSystemVersion(const OperatingSystemVersion& v) {
    gMajor = v.majorVersion;
    gMinor = v.minorVersion;
    gPatch = v.patchVersion;
}

void resetOperatingSystemVersion() {
    setOperatingSystemVersion(kSimulatedVersion);
}

std::vector<std::string> arguments() {
    {
        std::lock_guard lock(gArgumentsMutex);
        if (gArguments) return *gArguments;
    }
    static const std::vector<std::string> launched = launchArguments();
    return launched;
}

void setArguments(std::vector<std::string> arguments) {
    std::lock_guard lock(gArgumentsMutex);
    gArguments = std::move(arguments);
}

void resetArguments() {
    std::lock_guard lock(gArgumentsMutex);
    gArguments.reset();
}

}  // namespace ProcessInfo
