#pragma once
// The window server's private process interface: making a process frontmost with one of its
// windows, and posting raw event records to a process.
#include <array>
#include <cstdint>

#include "platform/carbon/Processes.h"
#include "platform/windowserver/CGWindow.h"

inline constexpr uint32_t kCPSUserGenerated = 0x200;

// The records that the process-event interface takes are exactly 248 bytes.
using SLPSEventRecord = std::array<uint8_t, 0xF8>;

CGError _SLPSSetFrontProcessWithOptions(const ProcessSerialNumber* psn, CGWindowID window, uint32_t options);
CGError SLPSPostEventRecordTo(const ProcessSerialNumber* psn, const SLPSEventRecord& record);
