#pragma once
// The process manager: the process serial number of a running process.
#include <sys/types.h>

#include <cstdint>

using OSStatus = int32_t;
inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus paramErr = -50;
inline constexpr OSStatus procNotFound = -600;

struct ProcessSerialNumber {
    uint32_t highLongOfPSN = 0;
    uint32_t lowLongOfPSN = 0;
};

OSStatus GetProcessForPID(pid_t pid, ProcessSerialNumber* psn);
// The process behind a serial number that GetProcessForPID gave; procNotFound for any other.
OSStatus GetProcessPID(const ProcessSerialNumber* psn, pid_t* pid);
