#include "crash_reporter/DZCrashMachExceptionPortSet.h"

#include <cstdio>
#include <string>

#include "platform/foundation/FatalError.h"
#include "platform/foundation/SystemLog.h"
#include "platform/mach/mach_port.h"

namespace {

[[noreturn]] void tooMany(const char* format, size_t count) {
    char message[96];
    snprintf(message, sizeof message, format, static_cast<unsigned long>(count),
             static_cast<unsigned long>(EXC_TYPES_COUNT));
    fatalError(message);
}

}  // namespace

std::shared_ptr<DZCrashMachExceptionPortSet> DZCrashMachExceptionPortSet::initWithSet(Ports ports) {
    if (ports.size() > static_cast<size_t>(EXC_TYPES_COUNT))
        tooMany("Set size of %lu exceeds EXC_TYPES_COUNT (%lu)", ports.size());
    std::shared_ptr<DZCrashMachExceptionPortSet> set(new DZCrashMachExceptionPortSet());
    auto& representation = set->representation_;
    for (const auto& port : ports) {
        const uint32_t i = representation.count++;
        representation.masks[i] = port->mask();
        representation.ports[i] = port->server_port();
        representation.behaviors[i] = port->behavior();
        representation.flavors[i] = port->flavor();
    }
    set->ports_ = std::move(ports);
    return set;
}

std::shared_ptr<DZCrashMachExceptionPortSet> DZCrashMachExceptionPortSet::initWithAsyncSafeRepresentation(
    const dzcrash_mach_exception_port_set& representation) {
    if (representation.count > static_cast<uint32_t>(EXC_TYPES_COUNT))
        tooMany("Count of %lu exceeds EXC_TYPES_COUNT (%lu)", representation.count);
    Ports ports;
    for (uint32_t i = 0; i < representation.count; ++i) {
        ports.push_back(DZCrashMachExceptionPort::initWithServerPort(
            representation.ports[i], representation.masks[i], representation.behaviors[i],
            representation.flavors[i]));
        if (!MACH_PORT_VALID(representation.ports[i])) continue;
        const kern_return_t result = mach_port_deallocate(mach_task_self(), representation.ports[i]);
        if (result != KERN_SUCCESS) {
            systemLog(SystemLogLevel::Info,
                      "[DZCrashReporter] Unexpected error decrementing mach port reference: " +
                          std::to_string(result));
        }
    }
    return initWithSet(std::move(ports));
}
