#pragma once
// Facts about the running system that code branches on: the operating-system version the process
// presents itself as running on (on Linux the platform version the agent simulates) and the
// process's launch arguments. Tests set both to try other values.
#include <string>
#include <vector>

struct OperatingSystemVersion {
    int majorVersion = 0, minorVersion = 0, patchVersion = 0;
};

namespace ProcessInfo {
OperatingSystemVersion operatingSystemVersion();
bool isOperatingSystemAtLeastVersion(const OperatingSystemVersion& version);
// Replaces the version reported from now on.
void setOperatingSystemVersion(const OperatingSystemVersion& version);
void resetOperatingSystemVersion();

// The launch arguments, the program's path first, as the process was started with them.
std::vector<std::string> arguments();
// Replaces the arguments reported from now on; resetArguments() goes back to the real ones.
void setArguments(std::vector<std::string> arguments);
void resetArguments();
}  // namespace ProcessInfo
