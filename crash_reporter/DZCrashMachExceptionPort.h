#pragma once
// One exception port with the types, behaviour and state flavour it is registered for. A valid port
// holds a send-right reference of its own while the object lives.
#include <memory>

#include "platform/foundation/Error.h"
#include "platform/mach/exception.h"

class DZCrashMachExceptionPortSet;

class DZCrashMachExceptionPort {
  public:
    static std::shared_ptr<DZCrashMachExceptionPort> initWithServerPort(mach_port_t port,
                                                                        exception_mask_t mask,
                                                                        exception_behavior_t behavior,
                                                                        thread_state_flavor_t flavor);
    ~DZCrashMachExceptionPort();
    DZCrashMachExceptionPort(const DZCrashMachExceptionPort&) = delete;
    DZCrashMachExceptionPort& operator=(const DZCrashMachExceptionPort&) = delete;

    mach_port_t server_port() const { return port_; }
    exception_mask_t mask() const { return mask_; }
    exception_behavior_t behavior() const { return behavior_; }
    thread_state_flavor_t flavor() const { return flavor_; }

    // Swaps the task's (or thread's) exception ports for this one; `previous`, when given, gets the
    // ports replaced. Failure: code 1 with the kernel's error.
    bool registerForTask(task_t task, std::shared_ptr<DZCrashMachExceptionPortSet>* previous,
                         Error* error = nullptr);
    bool registerForThread(thread_t thread, std::shared_ptr<DZCrashMachExceptionPortSet>* previous,
                           Error* error = nullptr);
    // The ports registered now for the types of `mask`.
    static std::shared_ptr<DZCrashMachExceptionPortSet> exceptionPortsForTask(task_t task,
                                                                              exception_mask_t mask,
                                                                              Error* error = nullptr);
    static std::shared_ptr<DZCrashMachExceptionPortSet> exceptionPortsForThread(thread_t thread,
                                                                                exception_mask_t mask,
                                                                                Error* error = nullptr);

  private:
    DZCrashMachExceptionPort(mach_port_t port, exception_mask_t mask, exception_behavior_t behavior,
                             thread_state_flavor_t flavor);

    mach_port_t port_;
    exception_mask_t mask_;
    exception_behavior_t behavior_;
    thread_state_flavor_t flavor_;
};
