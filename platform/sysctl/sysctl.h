#pragma once
// Machine, operating-system and process facts by name, as the platform's sysctl interface gives
// them: a read-only call with the platform's calling convention (0, or -1 with errno). Where each
// value comes from on Linux, and how tests replace it, is in SysctlSources.h. For ordinary code
// only: values are read from files and the calls allocate.
//
// Names: "kern.osrelease", "kern.osversion", "hw.model" (strings, with their NUL); "hw.cputype",
// "hw.cpusubtype", "hw.physicalcpu_max", "hw.logicalcpu_max" (4-byte integers). Any other name,
// "sysctl.proc_native" among them, is absent (ENOENT). By number: {CTL_KERN, KERN_PROC,
// KERN_PROC_PID, pid} gives that process's kinfo_proc (ESRCH when there is no such process).
#include <sys/time.h>
#include <sys/types.h>

#include <cstddef>

inline constexpr int CTL_KERN = 1;
inline constexpr int KERN_PROC = 14;
inline constexpr int KERN_PROC_PID = 1;

inline constexpr int MAXCOMLEN = 16;
inline constexpr int P_TRACED = 0x00000800;  // a debugger is attached

// The kernel's process record, with the fields the system reads.
struct extern_proc {
    timeval p_starttime;  // wall-clock time the process started
    int p_flag;           // P_TRACED, or 0
    pid_t p_pid;
    char p_comm[MAXCOMLEN + 1];  // the command name, NUL-terminated
};
struct eproc {
    pid_t e_ppid;
};
struct kinfo_proc {
    extern_proc kp_proc;
    eproc kp_eproc;
};

// With `oldp` null, `*oldlenp` gets the size of the value. Otherwise the value is copied when
// `*oldlenp` holds it (and `*oldlenp` gets its size), and ENOMEM leaves `oldp` untouched when it does
// not. Values cannot be set: a `newp` is EPERM.
int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, const void* newp, size_t newlen);
int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, const void* newp, size_t newlen);
