#include "crash_reporter/async/DZCrashProcessInfo.h"

#include <unistd.h>

#include "crash_reporter/async/dzcrash_async.h"
#include "platform/sysctl/sysctl.h"

std::shared_ptr<DZCrashProcessInfo> DZCrashProcessInfo::currentProcessInfo() {
    return initWithProcessID(getpid());
}

std::shared_ptr<DZCrashProcessInfo> DZCrashProcessInfo::initWithProcessID(pid_t pid) {
    const int name[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
    kinfo_proc record{};
    size_t size = sizeof record;
    // A record shorter than asked for would leave the fields below unset.
    if (sysctl(name, 4, &record, &size, nullptr, 0) != 0 || size != sizeof record) return nullptr;

    const auto* command = reinterpret_cast<const uint8_t*>(record.kp_proc.p_comm);
    const size_t valid = dzcrash_utf8_valid_prefix(command, MAXCOMLEN);
    std::optional<std::string> processName;
    if (valid > 0) processName.emplace(reinterpret_cast<const char*>(command), valid);
    return std::make_shared<DZCrashProcessInfo>(record.kp_proc.p_pid, std::move(processName),
                                                record.kp_eproc.e_ppid, record.kp_proc.p_starttime,
                                                (record.kp_proc.p_flag & P_TRACED) != 0);
}
