#pragma once
// Catches C++ exceptions that nothing caught: a terminate handler describes the exception in flight
// (its type, its message, the stack it was thrown from) to every registered handler. The stack comes
// from the program's own definition of the runtime's throw entry, which records a backtrace per
// thread before every throw while the terminate handler is installed; a rethrow through
// std::rethrow_exception does not pass that entry, so such an exception shows the terminate
// handler's own stack. The handler list is guarded by a spin lock, which the terminate handler
// holds while it calls the handlers.
#include <cstdint>

#include "DudIzizozCrashes/Internals/Util/DIZCrashesCXXExceptionWrapperException.h"

using DIZCXXExceptionHandler = void (*)(const CXXTerminateInfo* info);

class DIZCrashesUncaughtCXXExceptionHandlerManager {
  public:
    // The first handler installs the terminate handler; a handler may be added more than once.
    static void addCXXExceptionHandler(DIZCXXExceptionHandler handler);
    // Removes one entry of `handler`. With the last one gone, the terminate handler that was there
    // before comes back, unless somebody installed another one after ours: that one stays.
    static void removeCXXExceptionHandler(DIZCXXExceptionHandler handler);
    static uint32_t countCXXExceptionHandler();
};

// The terminate handler: the handlers are called only when an exception is in flight; then the
// terminate handler that was there before runs, or the process aborts.
[[noreturn]] void diz_cxx_terminate_handler();
