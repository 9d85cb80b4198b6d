#pragma once
// Where each sysctl value comes from. On Linux every name has a source on the running system:
// "kern.osrelease" and "kern.osversion" are uname's release and version; "hw.model" is
// /sys/class/dmi/id/product_name (absent when unreadable); "hw.cputype"/"hw.cpusubtype" are
// 0x1000007/3 on x86-64 (absent elsewhere); "hw.physicalcpu_max" counts the distinct cores and
// "hw.logicalcpu_max" the configured CPUs below /sys/devices/system/cpu; a process record comes from
// /proc/<pid>/stat (command name, parent, start ticks with btime of /proc/stat) and
// /proc/<pid>/status (traced when TracerPid is not 0).
//
// Tests replace the source of one name or of process records, or move the root below which /sys
// and /proc are read to a tree of fixture files. Thread-safe; sources run outside the lock.
#include <functional>
#include <string>

#include "platform/sysctl/sysctl.h"

namespace SysctlSources {

// A name's value as bytes (a string with its NUL, an integer as its 4 bytes), or an errno value.
using Source = std::function<int(std::string& value)>;
using ProcessSource = std::function<int(pid_t pid, kinfo_proc& record)>;

// A null source gives the name its Linux source again.
void setSource(const std::string& name, Source source);
void setProcessSource(ProcessSource source);
void setRoot(const std::string& root);
// Every source as on the running system, the root "/".
void reset();

// A source that always answers `text`, or always fails with `error`.
Source text(const std::string& text);
Source failure(int error);

// Resets on leaving a test's scope.
class Scoped {
  public:
    Scoped() = default;
    ~Scoped() { reset(); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
};

}  // namespace SysctlSources
