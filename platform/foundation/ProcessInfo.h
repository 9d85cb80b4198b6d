#pragma once
// Facts about the running system that code branches on: the operating-system version the process
// presents itself as running on. On Linux this is the platform version the agent simulates; tests
// set it to try other versions.
struct OperatingSystemVersion {
    int majorVersion = 0, minorVersion = 0, patchVersion = 0;
};

namespace ProcessInfo {
OperatingSystemVersion operatingSystemVersion();
bool isOperatingSystemAtLeastVersion(const OperatingSystemVersion& version);
// Replaces the version reported from now on.
void setOperatingSystemVersion(const OperatingSystemVersion& version);
void resetOperatingSystemVersion();
}  // namespace ProcessInfo
