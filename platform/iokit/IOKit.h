#pragma once
// The I/O registry, as far as the system reads it: the entry of the service class
// "IOPlatformExpertDevice" and its property "IOPlatformUUID", the machine's identifier as a
// canonical upper-case UUID. On Linux the identifier is /etc/machine-id; where that file is missing
// or does not hold 32 hex digits the entry has no such property. Safe to call from any thread.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

using io_object_t = uint32_t;
using io_registry_entry_t = io_object_t;
using io_service_t = io_object_t;

inline constexpr io_object_t IO_OBJECT_NULL = 0;
inline constexpr uint32_t kIOMainPortDefault = 0;
inline constexpr const char* kIOPlatformExpertDeviceClass = "IOPlatformExpertDevice";
inline constexpr const char* kIOPlatformUUIDKey = "IOPlatformUUID";

// The registry entry of the first service of the class, or IO_OBJECT_NULL when there is none.
io_service_t IOServiceGetMatchingService(uint32_t mainPort, const std::string& serviceClass);
// The property's value, or nullopt when the entry lacks it (or is IO_OBJECT_NULL).
std::optional<Value> IORegistryEntryCreateCFProperty(io_registry_entry_t entry, const std::string& key);
// Gives back an entry; entries hold nothing on Linux, but callers release them as on the platform.
void IOObjectRelease(io_object_t object);
