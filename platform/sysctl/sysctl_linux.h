#pragma once
// The Linux sources of the sysctl values, reading /sys and /proc below `root`.
#include <string>

#include "platform/sysctl/sysctl.h"

namespace SysctlLinux {
// 0 with the value's bytes, or an errno value (ENOENT for a name without a source).
int readValue(const std::string& root, const std::string& name, std::string& value);
int readProcess(const std::string& root, pid_t pid, kinfo_proc& record);
}  // namespace SysctlLinux
