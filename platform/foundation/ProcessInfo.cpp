#include "platform/foundation/ProcessInfo.h"

#include <atomic>
#include <tuple>

namespace {
// The platform release the simulated desktop behaves like.
constexpr OperatingSystemVersion kSimulatedVersion{14, 0, 0};

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

}  // namespace ProcessInfo
