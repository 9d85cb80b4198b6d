#include "crash_reporter/DZCrashMachExceptionServer.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crash_reporter/async/dzcrash_error.h"
#include "crash_reporter/testing/DZCrashMachExceptionServerTesting.h"
#include "platform/foundation/FatalError.h"
#include "platform/foundation/SystemLog.h"
#include "platform/mach/mach_port.h"
#include "platform/mach/vm_map.h"

struct dzcrash_exception_server_context {
    thread_t server_thread;
    mach_port_t server_port;
    mach_port_t notify_port;
    mach_port_t port_set;
    DZCrashMachExceptionServerCallback callback;
    void* callback_context;
    pthread_mutex_t lock;
    pthread_cond_t server_cond;
    std::atomic<bool> server_should_stop;
    bool server_stopped;
    // What the set-up made, so that a failure part-way releases exactly that.
    bool lock_made;
    bool cond_made;
};

namespace {

constexpr mach_msg_id_t kStopMessageId = static_cast<mach_msg_id_t>(0xDEADBEEF);
constexpr mach_msg_size_t kRequestSize = sizeof(mach_exception_raise_request_t);

std::atomic<bool> threadCreationFailing{false};

vm_size_t roundToPages(vm_size_t size) {
    const auto page = static_cast<vm_size_t>(getpagesize());
    return (size + page - 1) / page * page;
}

// Releases what the set-up made, without a server thread to wait for.
void releaseMade(dzcrash_exception_server_context* context) {
    const task_t self = mach_task_self();
    if (MACH_PORT_VALID(context->server_port))
        mach_port_mod_refs(self, context->server_port, MACH_PORT_RIGHT_RECEIVE, -1);
    if (MACH_PORT_VALID(context->notify_port)) {
        mach_port_mod_refs(self, context->notify_port, MACH_PORT_RIGHT_RECEIVE, -1);
        // The send right added at set-up, now a dead name.
        mach_port_deallocate(self, context->notify_port);
    }
    if (MACH_PORT_VALID(context->port_set))
        mach_port_mod_refs(self, context->port_set, MACH_PORT_RIGHT_PORT_SET, -1);
    if (context->cond_made) pthread_cond_destroy(&context->server_cond);
    if (context->lock_made) pthread_mutex_destroy(&context->lock);
    delete context;
}

void answer(const mach_msg_header_t* request, kern_return_t result) {
    mig_reply_error_t reply{};
    reply.Head.msgh_bits = MACH_MSGH_BITS(MACH_MSGH_BITS_REMOTE(request->msgh_bits), 0);
    reply.Head.msgh_remote_port = request->msgh_remote_port;
    reply.Head.msgh_size = sizeof reply;
    reply.Head.msgh_id = request->msgh_id + 100;
    reply.NDR = NDR_record;
    reply.RetCode = result;
    mach_msg(&reply.Head, MACH_SEND_MSG, sizeof reply, 0, MACH_PORT_NULL, MACH_MSG_TIMEOUT_NONE,
             MACH_PORT_NULL);
}

kern_return_t handleRequest(dzcrash_exception_server_context* context, const mach_msg_header_t* message) {
    if (message->msgh_size < kRequestSize) return KERN_FAILURE;
    mach_exception_raise_request_t request;
    memcpy(&request, message, sizeof request);
    // The codes sit unaligned in the message; the callback gets them in an array of their own.
    mach_exception_data_type_t codes[2] = {request.code[0], request.code[1]};
    const mach_msg_type_number_t count = request.codeCnt < 2 ? request.codeCnt : 2;
    return context->callback(request.task.name, request.thread.name, request.exception, codes, count,
                             context->callback_context);
}

void* serve(void* argument) {
    auto* context = static_cast<dzcrash_exception_server_context*>(argument);
    pthread_mutex_lock(&context->lock);
    context->server_thread = static_cast<thread_t>(syscall(SYS_gettid));
    pthread_cond_broadcast(&context->server_cond);
    pthread_mutex_unlock(&context->lock);

    vm_size_t size = roundToPages(kRequestSize);
    vm_address_t buffer = 0;
    kern_return_t allocated = vm_allocate(mach_task_self(), &buffer, size, VM_FLAGS_ANYWHERE);
    if (allocated != KERN_SUCCESS) {
        fprintf(stderr, "Unexpected error in vm_allocate(): %x\n", allocated);
        return nullptr;
    }
    for (;;) {
        auto* message = reinterpret_cast<mach_msg_header_t*>(buffer);
        const mach_msg_return_t received =
            mach_msg(message, MACH_RCV_MSG | MACH_RCV_LARGE, 0, static_cast<mach_msg_size_t>(size),
                     context->port_set, MACH_MSG_TIMEOUT_NONE, MACH_PORT_NULL);
        if (received == MACH_RCV_TOO_LARGE) {
            const vm_size_t wanted = roundToPages(message->msgh_size);
            vm_deallocate(mach_task_self(), buffer, size);
            size = wanted;
            allocated = vm_allocate(mach_task_self(), &buffer, size, VM_FLAGS_ANYWHERE);
            if (allocated != KERN_SUCCESS) {
                fprintf(stderr, "Unexpected error in vm_allocate(): 0x%x\n", allocated);
                return nullptr;
            }
            continue;
        }
        if (received != MACH_MSG_SUCCESS) continue;
        if (message->msgh_local_port == context->notify_port) {
            if (message->msgh_id == MACH_NOTIFY_NO_SENDERS) continue;
            if (message->msgh_id == kStopMessageId && context->server_should_stop.load()) {
                pthread_mutex_lock(&context->lock);
                context->server_stopped = true;
                pthread_cond_broadcast(&context->server_cond);
                pthread_mutex_unlock(&context->lock);
                vm_deallocate(mach_task_self(), buffer, size);
                return nullptr;
            }
        }
        answer(message, handleRequest(context, message));
    }
}

// Each step of the set-up: its result, and the error to give when it failed.
bool machStep(kern_return_t result, const char* description, Error* error) {
    if (result == KERN_SUCCESS) return true;
    dzcrash_make_mach_error(error, result, description);
    return false;
}

bool posixStep(int result, const char* description, Error* error) {
    if (result == 0) return true;
    dzcrash_make_posix_error(error, result, description);
    return false;
}

bool startThread(dzcrash_exception_server_context* context, Error* error) {
    pthread_attr_t attributes;
    if (!posixStep(pthread_attr_init(&attributes), "Failed to initialize pthread_attr", error)) return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int created =
        threadCreationFailing.load() ? EAGAIN : pthread_create(&thread, &attributes, serve, context);
    pthread_attr_destroy(&attributes);
    if (!posixStep(created, "Failed to create exception server thread", error)) return false;
    // The thread's port is its id, which only the thread itself can tell.
    pthread_mutex_lock(&context->lock);
    while (context->server_thread == MACH_PORT_NULL) pthread_cond_wait(&context->server_cond, &context->lock);
    pthread_mutex_unlock(&context->lock);
    return true;
}

bool setUp(dzcrash_exception_server_context* context, Error* error) {
    const task_t self = mach_task_self();
    if (!posixStep(pthread_mutex_init(&context->lock, nullptr), "Mutex initialization failed", error))
        return false;
    context->lock_made = true;
    if (!posixStep(pthread_cond_init(&context->server_cond, nullptr), "Condition initialization failed",
                   error))
        return false;
    context->cond_made = true;
    return machStep(mach_port_allocate(self, MACH_PORT_RIGHT_RECEIVE, &context->server_port),
                    "Failed to allocate exception server's port", error) &&
           machStep(mach_port_allocate(self, MACH_PORT_RIGHT_RECEIVE, &context->notify_port),
                    "Failed to allocate exception server's port", error) &&
           machStep(mach_port_insert_right(self, context->notify_port, context->notify_port,
                                           MACH_MSG_TYPE_MAKE_SEND),
                    "Failed to add send right to exception server's port", error) &&
           machStep(
               mach_port_request_notification(self, context->server_port, MACH_NOTIFY_NO_SENDERS, 0,
                                              context->notify_port, MACH_MSG_TYPE_MAKE_SEND_ONCE, nullptr),
               "Failed to request MACH_NOTIFY_NO_SENDERS on the exception server's port", error) &&
           machStep(mach_port_allocate(self, MACH_PORT_RIGHT_PORT_SET, &context->port_set),
                    "Failed to allocate exception server's port set", error) &&
           machStep(mach_port_move_member(self, context->server_port, context->port_set),
                    "Failed to add exception server port to port set", error) &&
           machStep(mach_port_move_member(self, context->notify_port, context->port_set),
                    "Failed to add exception server notify port to port set", error) &&
           startThread(context, error);
}

}  // namespace

void DZCrashMachExceptionServerTesting::setThreadCreationFailing(bool failing) {
    threadCreationFailing.store(failing);
}

std::shared_ptr<DZCrashMachExceptionServer> DZCrashMachExceptionServer::initWithCallBack(
    DZCrashMachExceptionServerCallback callback, void* context, Error* error) {
    auto* record = new dzcrash_exception_server_context{};
    record->callback = callback;
    record->callback_context = context;
    if (!setUp(record, error)) {
        releaseMade(record);
        return nullptr;
    }
    return std::shared_ptr<DZCrashMachExceptionServer>(new DZCrashMachExceptionServer(record));
}

DZCrashMachExceptionServer::~DZCrashMachExceptionServer() {
    bool expected = false;
    context_->server_should_stop.compare_exchange_strong(expected, true);
    mach_msg_header_t stop{};
    stop.msgh_bits = MACH_MSGH_BITS(MACH_MSG_TYPE_COPY_SEND, 0);
    stop.msgh_remote_port = context_->notify_port;
    stop.msgh_size = sizeof stop;
    stop.msgh_id = kStopMessageId;
    const mach_msg_return_t sent =
        mach_msg(&stop, MACH_SEND_MSG, sizeof stop, 0, MACH_PORT_NULL, MACH_MSG_TIMEOUT_NONE, MACH_PORT_NULL);
    if (sent != MACH_MSG_SUCCESS) {
        systemLog(SystemLogLevel::Info,
                  "[DZCrashReporter] Unexpected error sending termination message to background thread: " +
                      std::to_string(sent));
        return;
    }
    pthread_mutex_lock(&context_->lock);
    while (!context_->server_stopped) pthread_cond_wait(&context_->server_cond, &context_->lock);
    pthread_mutex_unlock(&context_->lock);
    releaseMade(context_);
}

std::shared_ptr<DZCrashMachExceptionPort> DZCrashMachExceptionServer::exceptionPortWithMask(
    exception_mask_t mask, Error* error) {
    const mach_port_t port = copySendRightForServer(error);
    if (port == MACH_PORT_NULL) return nullptr;
    auto exceptionPort = DZCrashMachExceptionPort::initWithServerPort(
        port, mask, EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES, x86_THREAD_STATE);
    // The port object holds a reference of its own.
    mach_port_deallocate(mach_task_self(), port);
    return exceptionPort;
}

mach_port_t DZCrashMachExceptionServer::copySendRightForServer(Error* error) {
    pthread_mutex_lock(&context_->lock);
    const kern_return_t result = mach_port_insert_right(mach_task_self(), context_->server_port,
                                                        context_->server_port, MACH_MSG_TYPE_MAKE_SEND);
    const mach_port_t port = context_->server_port;
    pthread_mutex_unlock(&context_->lock);
    if (result != KERN_SUCCESS) {
        dzcrash_make_mach_error(error, result, "Failed to insert Mach send right");
        return MACH_PORT_NULL;
    }
    return port;
}

thread_t DZCrashMachExceptionServer::serverThread() const {
    if (!context_) fatalError("No handler registered!");
    pthread_mutex_lock(&context_->lock);
    const thread_t thread = context_->server_thread;
    pthread_mutex_unlock(&context_->lock);
    return thread;
}
