#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/mach/KeptErrno.h"
#include "platform/mach/exception.h"
#include "platform/mach/fault_context.h"
#include "platform/mach/mach_port.h"

namespace {

// One registration per exception type.
struct Handler {
    mach_port_t port;
    exception_behavior_t behavior;
    thread_state_flavor_t flavor;
};

struct Registrations {
    std::atomic<uint32_t> owner{0};  // the thread, or 0 for the task's and free thread slots
    Handler handlers[EXC_TYPES_COUNT];
};

// Ordinary code changes these under the mutex; the fault handler only reads them, with the
// registration of a type copied field by field (a torn read gives an old or a new port, either of
// which was registered).
pthread_mutex_t registrationMutex = PTHREAD_MUTEX_INITIALIZER;
Registrations taskRegistrations;
constexpr int kThreadRegistrationCount = 32;
Registrations threadRegistrations[kThreadRegistrationCount];

Registrations* registrationsOfThread(thread_act_t thread, bool create) {
    for (Registrations& slot : threadRegistrations) {
        if (slot.owner.load() == thread) return &slot;
    }
    if (!create) return nullptr;
    for (Registrations& slot : threadRegistrations) {
        uint32_t free = 0;
        if (slot.owner.compare_exchange_strong(free, thread)) {
            memset(slot.handlers, 0, sizeof slot.handlers);
            return &slot;
        }
    }
    return nullptr;
}

bool isThreadOfProcess(thread_act_t thread) {
    return thread != 0 && syscall(SYS_tgkill, getpid(), static_cast<pid_t>(thread), 0) == 0;
}

// The replaced handlers, grouped by (port, behaviour, flavour); each port answered gets a send right.
kern_return_t collect(const Registrations& from, exception_mask_t mask, exception_mask_array_t masks,
                      mach_msg_type_number_t* count, exception_port_array_t ports,
                      exception_behavior_array_t behaviors, exception_flavor_array_t flavors) {
    if (!count) return KERN_INVALID_ARGUMENT;
    const mach_msg_type_number_t room = *count;
    mach_msg_type_number_t found = 0;
    for (int type = 1; type < EXC_TYPES_COUNT; ++type) {
        if ((mask & (1u << type)) == 0) continue;
        const Handler& handler = from.handlers[type];
        mach_msg_type_number_t entry = 0;
        while (entry < found && !(ports[entry] == handler.port && behaviors[entry] == handler.behavior &&
                                  flavors[entry] == handler.flavor)) {
            ++entry;
        }
        if (entry == found) {
            if (found == room) continue;
            masks[found] = 0;
            ports[found] = handler.port;
            behaviors[found] = handler.behavior;
            flavors[found] = handler.flavor;
            // The kernel's own right to a registered port is copied out to the task.
            if (MACH_PORT_VALID(handler.port))
                mach_port_mod_refs(mach_task_self(), handler.port, MACH_PORT_RIGHT_SEND, 1);
            ++found;
        }
        masks[entry] |= 1u << type;
    }
    *count = found;
    return KERN_SUCCESS;
}

void installFaultHandlers();

kern_return_t swap(Registrations& into, exception_mask_t mask, mach_port_t port,
                   exception_behavior_t behavior, thread_state_flavor_t flavor, exception_mask_array_t masks,
                   mach_msg_type_number_t* count, exception_port_array_t ports,
                   exception_behavior_array_t behaviors, exception_flavor_array_t flavors) {
    if (mask >= (1u << EXC_TYPES_COUNT) || (mask & 1u) != 0) return KERN_INVALID_ARGUMENT;
    const exception_behavior_t plain = behavior & ~MACH_EXCEPTION_CODES;
    if (plain < EXCEPTION_DEFAULT || plain > EXCEPTION_STATE_IDENTITY) return KERN_INVALID_ARGUMENT;
    pthread_mutex_lock(&registrationMutex);
    kern_return_t result = KERN_SUCCESS;
    if (count) result = collect(into, mask, masks, count, ports, behaviors, flavors);
    if (result == KERN_SUCCESS) {
        for (int type = 1; type < EXC_TYPES_COUNT; ++type) {
            if (mask & (1u << type)) into.handlers[type] = {port, behavior, flavor};
        }
    }
    pthread_mutex_unlock(&registrationMutex);
    if (result == KERN_SUCCESS && MACH_PORT_VALID(port)) installFaultHandlers();
    return result;
}

kern_return_t get(const Registrations* from, exception_mask_t mask, exception_mask_array_t masks,
                  mach_msg_type_number_t* count, exception_port_array_t ports,
                  exception_behavior_array_t behaviors, exception_flavor_array_t flavors) {
    // Never written: a thread without registrations of its own answers as this empty record.
    static Registrations none;
    pthread_mutex_lock(&registrationMutex);
    const kern_return_t result = collect(from ? *from : none, mask, masks, count, ports, behaviors, flavors);
    pthread_mutex_unlock(&registrationMutex);
    return result;
}

// ---- Raising: a request, then the reply on a port made for it ----

// Big enough for any request or reply: header, descriptors, codes and the largest state.
struct alignas(8) MessageBuffer {
    uint8_t bytes[kMachMessageSizeMax];
};

class Writer {
  public:
    explicit Writer(uint8_t* bytes) : bytes_(bytes) {}
    template <class T>
    void put(const T& value) {
        memcpy(bytes_ + size_, &value, sizeof value);
        size_ += sizeof value;
    }
    void putBytes(const void* data, size_t length) {
        memcpy(bytes_ + size_, data, length);
        size_ += length;
    }
    mach_msg_size_t size() const { return static_cast<mach_msg_size_t>(size_); }

  private:
    uint8_t* bytes_;
    size_t size_ = 0;
};

mach_msg_port_descriptor_t portDescriptor(mach_port_t name) {
    return {name, 0, 0, static_cast<uint8_t>(MACH_MSG_TYPE_COPY_SEND), MACH_MSG_PORT_DESCRIPTOR};
}

struct RaiseRequest {
    mach_port_t port;
    mach_msg_id_t id;
    bool identity;  // carries thread and task
    bool state;     // carries a state, and its reply a new one
    mach_port_t thread, task;
    exception_type_t exception;
    const void* codes;
    size_t codeSize;  // 4 or 8
    mach_msg_type_number_t codeCount;
    int* flavor;
    const natural_t* oldState;
    mach_msg_type_number_t oldStateCount;
    natural_t* newState;
    mach_msg_type_number_t* newStateCount;
};

kern_return_t raise(const RaiseRequest& request) {
    if (request.codeCount > 2 ||
        (request.state && (!request.flavor || request.oldStateCount > THREAD_STATE_MAX)))
        return KERN_INVALID_ARGUMENT;
    mach_port_name_t reply = MACH_PORT_NULL;
    if (mach_port_allocate(mach_task_self(), MACH_PORT_RIGHT_RECEIVE, &reply) != KERN_SUCCESS)
        return KERN_RESOURCE_SHORTAGE;
    MessageBuffer buffer;
    Writer out(buffer.bytes);
    mach_msg_header_t header{};
    header.msgh_bits = MACH_MSGH_BITS(MACH_MSG_TYPE_COPY_SEND, MACH_MSG_TYPE_MAKE_SEND_ONCE) |
                       (request.identity ? MACH_MSGH_BITS_COMPLEX : 0);
    header.msgh_remote_port = request.port;
    header.msgh_local_port = reply;
    header.msgh_id = request.id;
    out.put(header);
    if (request.identity) {
        out.put(mach_msg_body_t{2});
        out.put(portDescriptor(request.thread));
        out.put(portDescriptor(request.task));
    }
    out.put(NDR_record);
    out.put(request.exception);
    out.put(request.codeCount);
    out.putBytes(request.codes, request.codeSize * request.codeCount);
    if (request.state) {
        out.put(*request.flavor);
        out.put(request.oldStateCount);
        out.putBytes(request.oldState, request.oldStateCount * sizeof(natural_t));
    }
    auto* message = reinterpret_cast<mach_msg_header_t*>(buffer.bytes);
    mach_msg_return_t result = mach_msg(message, MACH_SEND_MSG | MACH_RCV_MSG, out.size(), sizeof buffer,
                                        reply, MACH_MSG_TIMEOUT_NONE, MACH_PORT_NULL);
    mach_port_mod_refs(mach_task_self(), reply, MACH_PORT_RIGHT_RECEIVE, -1);
    if (result != MACH_MSG_SUCCESS) return result;
    mig_reply_error_t answer;
    if (message->msgh_size < sizeof answer || message->msgh_id != request.id + 100) return KERN_FAILURE;
    memcpy(&answer, buffer.bytes, sizeof answer);
    if (request.state && answer.RetCode == KERN_SUCCESS && request.newState && request.newStateCount &&
        message->msgh_size >= sizeof answer + 8) {
        // flavor, count, then the new state.
        mach_msg_type_number_t count = 0;
        memcpy(request.flavor, buffer.bytes + sizeof answer, sizeof(int));
        memcpy(&count, buffer.bytes + sizeof answer + 4, sizeof count);
        if (count > *request.newStateCount || sizeof answer + 8 + count * 4 > message->msgh_size)
            return KERN_FAILURE;
        memcpy(request.newState, buffer.bytes + sizeof answer + 8, count * sizeof(natural_t));
        *request.newStateCount = count;
    }
    return answer.RetCode;
}

// ---- The emulated kernel ----

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};
struct sigaction previousActions[65];
std::atomic<bool> faultHandlersInstalled{false};

void restoreDefault(int signal) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
}

// As if the stand-in had not been there.
void passOn(int signal, siginfo_t* info, void* uap) {
    const struct sigaction& previous = previousActions[signal];
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction) {
        previous.sa_sigaction(signal, info, uap);
        return;
    }
    if (previous.sa_handler == SIG_IGN) return;
    if (previous.sa_handler != SIG_DFL) {
        previous.sa_handler(signal);
        return;
    }
    restoreDefault(signal);
    // A fault comes back when the instruction runs again; a sent signal has to be sent again.
    if (info->si_code <= 0) ::raise(signal);
}

struct FaultException {
    exception_type_t type;
    int64_t codes[2];
};

FaultException exceptionOf(int signal, const siginfo_t* info) {
    const auto address = static_cast<int64_t>(reinterpret_cast<uintptr_t>(info->si_addr));
    switch (signal) {
        case SIGSEGV:
            return {EXC_BAD_ACCESS,
                    {info->si_code == SEGV_ACCERR ? KERN_PROTECTION_FAILURE : KERN_INVALID_ADDRESS, address}};
        case SIGBUS:
            return {EXC_BAD_ACCESS, {10, address}};  // KERN_MEMORY_ERROR
        case SIGILL:
            return {EXC_BAD_INSTRUCTION, {1, 0}};
        case SIGFPE:
            return {EXC_ARITHMETIC, {1, 0}};
        default:
            return {EXC_BREAKPOINT, {2, 0}};
    }
}

bool registeredHandler(exception_type_t type, Handler* found) {
    const thread_act_t self = static_cast<thread_act_t>(syscall(SYS_gettid));
    for (const Registrations* from : {static_cast<const Registrations*>(registrationsOfThread(self, false)),
                                      static_cast<const Registrations*>(&taskRegistrations)}) {
        if (!from) continue;
        const Handler handler = from->handlers[type];
        if (MACH_PORT_VALID(handler.port)) {
            *found = handler;
            return true;
        }
    }
    return false;
}

kern_return_t raiseFault(const Handler& handler, const FaultException& fault, const ucontext_t* context) {
    const thread_act_t self = static_cast<thread_act_t>(syscall(SYS_gettid));
    const bool wide = (handler.behavior & MACH_EXCEPTION_CODES) != 0;
    const exception_behavior_t plain = handler.behavior & ~MACH_EXCEPTION_CODES;
    const int32_t narrow[2] = {static_cast<int32_t>(fault.codes[0]), static_cast<int32_t>(fault.codes[1])};
    x86_thread_state_t state{};
    state.tsh = {x86_THREAD_STATE64, static_cast<int>(x86_THREAD_STATE64_COUNT)};
    x86_thread_state64_from_mcontext(context->uc_mcontext, &state.uts.ts64);
    int flavor = x86_THREAD_STATE;
    natural_t newState[x86_THREAD_STATE_COUNT];
    mach_msg_type_number_t newStateCount = x86_THREAD_STATE_COUNT;
    RaiseRequest request{};
    request.port = handler.port;
    request.identity = plain != EXCEPTION_STATE;
    request.state = plain != EXCEPTION_DEFAULT;
    request.id = (wide ? kMachExceptionRaiseId : kExceptionRaiseId) + (plain - EXCEPTION_DEFAULT);
    request.thread = self;
    request.task = mach_task_self();
    request.exception = fault.type;
    request.codes = wide ? static_cast<const void*>(fault.codes) : static_cast<const void*>(narrow);
    request.codeSize = wide ? 8 : 4;
    request.codeCount = 2;
    request.flavor = &flavor;
    request.oldState = reinterpret_cast<const natural_t*>(&state);
    request.oldStateCount = x86_THREAD_STATE_COUNT;
    request.newState = newState;
    request.newStateCount = &newStateCount;
    return raise(request);
}

void onFault(int signal, siginfo_t* info, void* uap) {
    KeptErrno kept;
    const FaultException fault = exceptionOf(signal, info);
    Handler handler{};
    if (info->si_code <= 0 || !registeredHandler(fault.type, &handler)) {
        passOn(signal, info, uap);
        return;
    }
    const bool published = mach_fault_context_publish(static_cast<const ucontext_t*>(uap));
    const kern_return_t answer = raiseFault(handler, fault, static_cast<const ucontext_t*>(uap));
    if (published) mach_fault_context_withdraw();
    // A port whose receiver is gone takes no exception: the fault goes on as if none were registered.
    if (answer == MACH_SEND_INVALID_DEST) {
        passOn(signal, info, uap);
        return;
    }
    if (answer != KERN_SUCCESS) restoreDefault(signal);
}

void installFaultHandlers() {
    if (faultHandlersInstalled.exchange(true)) return;
    struct sigaction action {};
    action.sa_sigaction = onFault;
    // On the alternate stack where the thread has one; the suspend signal stays open, so a crash
    // writer can still stop a thread that waits here.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kFaultSignals) sigaction(signal, &action, &previousActions[signal]);
}

}  // namespace

kern_return_t task_set_exception_ports(task_t task, exception_mask_t mask, mach_port_t port,
                                       exception_behavior_t behavior, thread_state_flavor_t flavor) noexcept {
    if (task != mach_task_self()) return KERN_INVALID_TASK;
    return swap(taskRegistrations, mask, port, behavior, flavor, nullptr, nullptr, nullptr, nullptr, nullptr);
}

kern_return_t task_swap_exception_ports(task_t task, exception_mask_t mask, mach_port_t port,
                                        exception_behavior_t behavior, thread_state_flavor_t flavor,
                                        exception_mask_array_t masks, mach_msg_type_number_t* count,
                                        exception_port_array_t ports, exception_behavior_array_t behaviors,
                                        exception_flavor_array_t flavors) noexcept {
    if (task != mach_task_self()) return KERN_INVALID_TASK;
    if (!count) return KERN_INVALID_ARGUMENT;
    return swap(taskRegistrations, mask, port, behavior, flavor, masks, count, ports, behaviors, flavors);
}

kern_return_t task_get_exception_ports(task_t task, exception_mask_t mask, exception_mask_array_t masks,
                                       mach_msg_type_number_t* count, exception_port_array_t ports,
                                       exception_behavior_array_t behaviors,
                                       exception_flavor_array_t flavors) noexcept {
    if (task != mach_task_self()) return KERN_INVALID_TASK;
    return get(&taskRegistrations, mask, masks, count, ports, behaviors, flavors);
}

kern_return_t thread_swap_exception_ports(thread_act_t thread, exception_mask_t mask, mach_port_t port,
                                          exception_behavior_t behavior, thread_state_flavor_t flavor,
                                          exception_mask_array_t masks, mach_msg_type_number_t* count,
                                          exception_port_array_t ports, exception_behavior_array_t behaviors,
                                          exception_flavor_array_t flavors) noexcept {
    if (!isThreadOfProcess(thread) || !count) return KERN_INVALID_ARGUMENT;
    Registrations* registrations = registrationsOfThread(thread, true);
    if (!registrations) return KERN_RESOURCE_SHORTAGE;
    return swap(*registrations, mask, port, behavior, flavor, masks, count, ports, behaviors, flavors);
}

kern_return_t thread_get_exception_ports(thread_act_t thread, exception_mask_t mask,
                                         exception_mask_array_t masks, mach_msg_type_number_t* count,
                                         exception_port_array_t ports, exception_behavior_array_t behaviors,
                                         exception_flavor_array_t flavors) noexcept {
    if (!isThreadOfProcess(thread)) return KERN_INVALID_ARGUMENT;
    return get(registrationsOfThread(thread, false), mask, masks, count, ports, behaviors, flavors);
}

kern_return_t exception_raise(mach_port_t port, mach_port_t thread, mach_port_t task,
                              exception_type_t exception, exception_data_t code,
                              mach_msg_type_number_t code_count) noexcept {
    return raise({port, kExceptionRaiseId, true, false, thread, task, exception, code, 4, code_count, nullptr,
                  nullptr, 0, nullptr, nullptr});
}

kern_return_t exception_raise_state(mach_port_t port, exception_type_t exception, exception_data_t code,
                                    mach_msg_type_number_t code_count, int* flavor, thread_state_t old_state,
                                    mach_msg_type_number_t old_state_count, thread_state_t new_state,
                                    mach_msg_type_number_t* new_state_count) noexcept {
    return raise({port, kExceptionRaiseStateId, false, true, MACH_PORT_NULL, MACH_PORT_NULL, exception, code,
                  4, code_count, flavor, old_state, old_state_count, new_state, new_state_count});
}

kern_return_t exception_raise_state_identity(mach_port_t port, mach_port_t thread, mach_port_t task,
                                             exception_type_t exception, exception_data_t code,
                                             mach_msg_type_number_t code_count, int* flavor,
                                             thread_state_t old_state, mach_msg_type_number_t old_state_count,
                                             thread_state_t new_state,
                                             mach_msg_type_number_t* new_state_count) noexcept {
    return raise({port, kExceptionRaiseStateIdentityId, true, true, thread, task, exception, code, 4,
                  code_count, flavor, old_state, old_state_count, new_state, new_state_count});
}

kern_return_t mach_exception_raise(mach_port_t port, mach_port_t thread, mach_port_t task,
                                   exception_type_t exception, mach_exception_data_t code,
                                   mach_msg_type_number_t code_count) noexcept {
    return raise({port, kMachExceptionRaiseId, true, false, thread, task, exception, code, 8, code_count,
                  nullptr, nullptr, 0, nullptr, nullptr});
}

kern_return_t mach_exception_raise_state(mach_port_t port, exception_type_t exception,
                                         mach_exception_data_t code, mach_msg_type_number_t code_count,
                                         int* flavor, thread_state_t old_state,
                                         mach_msg_type_number_t old_state_count, thread_state_t new_state,
                                         mach_msg_type_number_t* new_state_count) noexcept {
    return raise({port, kMachExceptionRaiseStateId, false, true, MACH_PORT_NULL, MACH_PORT_NULL, exception,
                  code, 8, code_count, flavor, old_state, old_state_count, new_state, new_state_count});
}

kern_return_t mach_exception_raise_state_identity(mach_port_t port, mach_port_t thread, mach_port_t task,
                                                  exception_type_t exception, mach_exception_data_t code,
                                                  mach_msg_type_number_t code_count, int* flavor,
                                                  thread_state_t old_state,
                                                  mach_msg_type_number_t old_state_count,
                                                  thread_state_t new_state,
                                                  mach_msg_type_number_t* new_state_count) noexcept {
    return raise({port, kMachExceptionRaiseStateIdentityId, true, true, thread, task, exception, code, 8,
                  code_count, flavor, old_state, old_state_count, new_state, new_state_count});
}
