#pragma once
// A background thread that receives the task's exception messages on a port of its own and answers
// each with what its callback returns, while the faulting thread waits. Releasing the server stops
// the thread through a message on its notify port, and then releases the ports.
#include <memory>

#include "crash_reporter/DZCrashMachExceptionPort.h"
#include "platform/foundation/Error.h"
#include "platform/mach/exception.h"

// Runs on the server's thread for each exception request.
using DZCrashMachExceptionServerCallback = kern_return_t (*)(task_t task, thread_t thread,
                                                             exception_type_t type,
                                                             mach_exception_data_t codes,
                                                             mach_msg_type_number_t code_count,
                                                             void* context);

struct dzcrash_exception_server_context;

class DZCrashMachExceptionServer {
  public:
    // Null, with code 1 and the system's error beneath, when a step of the set-up fails; what was
    // made up to then is released directly.
    static std::shared_ptr<DZCrashMachExceptionServer> initWithCallBack(
        DZCrashMachExceptionServerCallback callback, void* context, Error* error = nullptr);
    ~DZCrashMachExceptionServer();
    DZCrashMachExceptionServer(const DZCrashMachExceptionServer&) = delete;
    DZCrashMachExceptionServer& operator=(const DZCrashMachExceptionServer&) = delete;

    // The server's port for the types of `mask`, with 64-bit codes of the default behaviour and the
    // x86 thread state.
    std::shared_ptr<DZCrashMachExceptionPort> exceptionPortWithMask(exception_mask_t mask,
                                                                    Error* error = nullptr);
    // One more send right to the server's port, for the caller to release; MACH_PORT_NULL on failure.
    mach_port_t copySendRightForServer(Error* error = nullptr);
    thread_t serverThread() const;

  private:
    explicit DZCrashMachExceptionServer(dzcrash_exception_server_context* context) : context_(context) {}

    dzcrash_exception_server_context* context_;
};
