#include "crash_reporter/DZCrashSignalHandler.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "crash_reporter/async/dzcrash_error.h"
#include "crash_reporter/async/dzcrash_safe_list.h"

namespace {

constexpr size_t kAlternateStackSize = 65536;

struct CallbackEntry {
    dzcrash_signal_handler_callback_func callback;
    void* context;
};

struct PreviousAction {
    int signal;
    struct sigaction action;
};

// Both lists live as long as the process: a signal may arrive on any thread at any time.
dzcrash_safe_list<CallbackEntry>& callbacks() {
    static auto* list = new dzcrash_safe_list<CallbackEntry>();
    return *list;
}

dzcrash_safe_list<PreviousAction>& previousActions() {
    static auto* list = new dzcrash_safe_list<PreviousAction>();
    return *list;
}

std::mutex registrationMutex;

bool findPreviousAction(int signal, struct sigaction* found) noexcept {
    auto& list = previousActions();
    list.set_reading(true);
    bool present = false;
    for (auto* node = list.next(nullptr); node; node = list.next(node)) {
        if (node->value.signal == signal) {
            *found = node->value.action;
            present = true;
            break;
        }
    }
    list.set_reading(false);
    return present;
}

// Kept for the process: the alternate stack it owns stays installed on the threads that registered.
constinit SharedInstance<DZCrashSignalHandler> sharedSignalHandler(TestReset::keep);

}  // namespace

DZCrashSignalHandler::DZCrashSignalHandler() {
    sigstk_.ss_sp = malloc(kAlternateStackSize);
    sigstk_.ss_size = kAlternateStackSize;
    sigstk_.ss_flags = 0;
}

std::shared_ptr<DZCrashSignalHandler> DZCrashSignalHandler::sharedHandler() {
    auto handler = sharedSignalHandler.get();
    return handler->sigstk_.ss_sp ? handler : nullptr;
}

DZCrashSignalHandler::~DZCrashSignalHandler() {
    free(sigstk_.ss_sp);
}

bool DZCrashSignalHandler::registerHandlerWithSignal(int signal, Error* error) {
    std::lock_guard<std::mutex> lock(registrationMutex);
    if (sigaltstack(&sigstk_, nullptr) != 0) {
        dzcrash_make_posix_error(error, errno, "Could not initialize alternative signal stack");
        return false;
    }
    callbacks().append({dzcrash_passthrough_callback, nullptr});
    struct sigaction existing {};
    if (findPreviousAction(signal, &existing)) return true;

    struct sigaction action {};
    action.sa_sigaction = dzcrash_signal_entry;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK | SA_SIGINFO;
    struct sigaction replaced {};
    if (sigaction(signal, &action, &replaced) != 0) {
        dzcrash_make_posix_error(error, errno, "Failed to register signal handler");
        return false;
    }
    previousActions().append({signal, replaced});
    return true;
}

bool DZCrashSignalHandler::registerHandlerForSignal(int signal, dzcrash_signal_handler_callback_func callback,
                                                    void* context, Error* error) {
    if (!registerHandlerWithSignal(signal, error)) return false;
    std::lock_guard<std::mutex> lock(registrationMutex);
    callbacks().prepend({callback, context});
    return true;
}

bool dzcrash_signal_handler_next(dzcrash_signal_handler_callback* next, int signal, siginfo_t* info,
                                 ucontext_t* uap) noexcept {
    return next ? next->callback(signal, info, uap, next->node) : false;
}

bool dzcrash_signal_run_callbacks(int signal, siginfo_t* info, ucontext_t* uap, void* previous_node) noexcept {
    auto& list = callbacks();
    using Node = dzcrash_safe_list<CallbackEntry>::node;
    list.set_reading(true);
    bool handled = false;
    if (Node* node = list.next(static_cast<const Node*>(previous_node))) {
        dzcrash_signal_handler_callback next{dzcrash_signal_run_callbacks, node};
        handled = node->value.callback(signal, info, uap, node->value.context,
                                       node->next.load() ? &next : nullptr);
    }
    list.set_reading(false);
    return handled;
}

bool dzcrash_passthrough_callback(int signal, siginfo_t* info, ucontext_t* uap, void*,
                                  dzcrash_signal_handler_callback* next) noexcept {
    // Whatever a later pass-through did stands for every one of them: the previous action runs once.
    if (dzcrash_signal_handler_next(next, signal, info, uap)) return true;
    struct sigaction previous {};
    if (!findPreviousAction(signal, &previous)) return false;
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
        if (!previous.sa_sigaction) return false;
        previous.sa_sigaction(signal, info, uap);
        return true;
    }
    if (previous.sa_handler == SIG_IGN) return true;
    if (previous.sa_handler == SIG_DFL) return false;
    previous.sa_handler(signal);
    return true;
}

void dzcrash_signal_entry(int signal, siginfo_t* info, void* uap) {
    if (dzcrash_signal_run_callbacks(signal, info, static_cast<ucontext_t*>(uap), nullptr)) return;
    // Raised again with this entry still installed, the signal would come straight back here, and a
    // fault would repeat for ever: the default action ends the process, as nothing handled it.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}
