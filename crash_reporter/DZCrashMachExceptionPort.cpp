#include "crash_reporter/DZCrashMachExceptionPort.h"

#include <string>

#include "crash_reporter/DZCrashMachExceptionPortSet.h"
#include "crash_reporter/async/dzcrash_error.h"
#include "platform/foundation/SystemLog.h"
#include "platform/mach/mach_port.h"

namespace {

void logLine(const std::string& text) {
    systemLog(SystemLogLevel::Info, "[DZCrashReporter] " + text);
}

using SwapFunction = kern_return_t (*)(mach_port_t, exception_mask_t, mach_port_t, exception_behavior_t,
                                       thread_state_flavor_t, exception_mask_array_t, mach_msg_type_number_t*,
                                       exception_port_array_t, exception_behavior_array_t,
                                       exception_flavor_array_t);
using GetFunction = kern_return_t (*)(mach_port_t, exception_mask_t, exception_mask_array_t,
                                      mach_msg_type_number_t*, exception_port_array_t,
                                      exception_behavior_array_t, exception_flavor_array_t);

// The swap and the read answer their ports with a send right each; the set takes them over.
std::shared_ptr<DZCrashMachExceptionPortSet> setOf(const dzcrash_mach_exception_port_set& answered) {
    return DZCrashMachExceptionPortSet::initWithAsyncSafeRepresentation(answered);
}

std::shared_ptr<DZCrashMachExceptionPortSet> portsOf(mach_port_t target, exception_mask_t mask,
                                                     GetFunction get, Error* error) {
    dzcrash_mach_exception_port_set answered{};
    answered.count = EXC_TYPES_COUNT;
    const kern_return_t result = get(target, mask, answered.masks, &answered.count, answered.ports,
                                     answered.behaviors, answered.flavors);
    if (result != KERN_SUCCESS) {
        dzcrash_make_mach_error(error, result, "Failed to fetch mach exception ports");
        return nullptr;
    }
    return setOf(answered);
}

}  // namespace

DZCrashMachExceptionPort::DZCrashMachExceptionPort(mach_port_t port, exception_mask_t mask,
                                                   exception_behavior_t behavior,
                                                   thread_state_flavor_t flavor)
    : port_(port), mask_(mask), behavior_(behavior), flavor_(flavor) {
    if (!MACH_PORT_VALID(port_)) return;
    const kern_return_t result = mach_port_mod_refs(mach_task_self(), port_, MACH_PORT_RIGHT_SEND, 1);
    if (result != KERN_SUCCESS)
        logLine("Unexpected error incrementing mach port reference: " + std::to_string(result));
}

DZCrashMachExceptionPort::~DZCrashMachExceptionPort() {
    if (!MACH_PORT_VALID(port_)) return;
    const kern_return_t result = mach_port_mod_refs(mach_task_self(), port_, MACH_PORT_RIGHT_SEND, -1);
    if (result != KERN_SUCCESS)
        logLine("Unexpected error decrementing mach port reference: " + std::to_string(result));
}

std::shared_ptr<DZCrashMachExceptionPort> DZCrashMachExceptionPort::initWithServerPort(
    mach_port_t port, exception_mask_t mask, exception_behavior_t behavior, thread_state_flavor_t flavor) {
    return std::shared_ptr<DZCrashMachExceptionPort>(
        new DZCrashMachExceptionPort(port, mask, behavior, flavor));
}

namespace {

bool registerWith(mach_port_t target, const DZCrashMachExceptionPort& port, SwapFunction swap,
                  std::shared_ptr<DZCrashMachExceptionPortSet>* previous, Error* error) {
    dzcrash_mach_exception_port_set replaced{};
    replaced.count = EXC_TYPES_COUNT;
    const kern_return_t result =
        swap(target, port.mask(), port.server_port(), port.behavior(), port.flavor(), replaced.masks,
             &replaced.count, replaced.ports, replaced.behaviors, replaced.flavors);
    if (result != KERN_SUCCESS) {
        dzcrash_make_mach_error(error, result, "Failed to swap mach exception ports");
        return false;
    }
    if (previous) {
        *previous = setOf(replaced);
    } else {
        // Nobody keeps the ports replaced: the rights that came with them go back at once.
        for (uint32_t i = 0; i < replaced.count; ++i) {
            if (MACH_PORT_VALID(replaced.ports[i])) mach_port_deallocate(mach_task_self(), replaced.ports[i]);
        }
    }
    return true;
}

}  // namespace

bool DZCrashMachExceptionPort::registerForTask(task_t task,
                                               std::shared_ptr<DZCrashMachExceptionPortSet>* previous,
                                               Error* error) {
    return registerWith(task, *this, task_swap_exception_ports, previous, error);
}

bool DZCrashMachExceptionPort::registerForThread(thread_t thread,
                                                 std::shared_ptr<DZCrashMachExceptionPortSet>* previous,
                                                 Error* error) {
    return registerWith(thread, *this, thread_swap_exception_ports, previous, error);
}

std::shared_ptr<DZCrashMachExceptionPortSet> DZCrashMachExceptionPort::exceptionPortsForTask(
    task_t task, exception_mask_t mask, Error* error) {
    return portsOf(task, mask, task_get_exception_ports, error);
}

std::shared_ptr<DZCrashMachExceptionPortSet> DZCrashMachExceptionPort::exceptionPortsForThread(
    thread_t thread, exception_mask_t mask, Error* error) {
    return portsOf(thread, mask, thread_get_exception_ports, error);
}
