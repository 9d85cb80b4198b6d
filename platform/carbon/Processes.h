#pragma once
// The process manager: the process serial number of a running process.
#include <sys/types.h>

#include <cstdint>

#include "platform/carbon/MacTypes.h"

struct ProcessSerialNumber {
    uint32_t highLongOfPSN = 0;
    uint32_t lowLongOfPSN = 0;
};

OSStatus GetProcessForPID(pid_t pid, ProcessSerialNumber* psn);
// The process behind a serial number that GetProcessForPID gave; procNotFound for any other.
OSStatus GetProcessPID(const ProcessSerialNumber* psn, pid_t* pid);
