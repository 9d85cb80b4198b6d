#include "platform/carbon/Processes.h"

#include "platform/carbon/ProcessesBackend.h"
#include "platform/windowserver/X11Desktop.h"

namespace {
// Serial numbers carry the process id in their low word, under a fixed high word, so that a
// number made up by hand is not mistaken for a process.
constexpr uint32_t kHighWord = 0x1;
}  // namespace

ProcessesBackend& ProcessesBackend::current() {
    return X11Desktop::current() ? x11Processes() : simulatedProcesses();
}

OSStatus GetProcessForPID(pid_t pid, ProcessSerialNumber* psn) {
    if (!psn) return paramErr;
    if (pid <= 0 || !ProcessesBackend::current().hasApplication(pid)) return procNotFound;
    *psn = {kHighWord, static_cast<uint32_t>(pid)};
    return noErr;
}

OSStatus GetProcessPID(const ProcessSerialNumber* psn, pid_t* pid) {
    if (!psn || !pid) return paramErr;
    auto candidate = static_cast<pid_t>(psn->lowLongOfPSN);
    if (psn->highLongOfPSN != kHighWord || !ProcessesBackend::current().hasApplication(candidate))
        return procNotFound;
    *pid = candidate;
    return noErr;
}
