#pragma once
// The process's one handler of fatal signals: a single sigaction entry per signal that runs a chain
// of callbacks and, at its end, whatever action was in force before the entry was installed. The
// callback registered last runs first. Registration is ordinary code, serialised by one mutex; the
// chain runs at crash time and only reads the lists under their reader counts.
#include <signal.h>
#include <ucontext.h>

#include <memory>

#include "platform/foundation/Error.h"
#include "platform/foundation/SharedInstance.h"

// How a callback passes a signal on to the rest of the chain.
struct dzcrash_signal_handler_callback {
    bool (*callback)(int signal, siginfo_t* info, ucontext_t* uap, void* node);
    void* node;
};

// A callback of the chain: true when it handled the signal. `next` is null at the chain's end.
using dzcrash_signal_handler_callback_func = bool (*)(int signal, siginfo_t* info, ucontext_t* uap,
                                                      void* context, dzcrash_signal_handler_callback* next);

// Continues the chain after the callback that got `next`; false for a null record.
bool dzcrash_signal_handler_next(dzcrash_signal_handler_callback* next, int signal, siginfo_t* info,
                                 ucontext_t* uap) noexcept;

class DZCrashSignalHandler {
  public:
    // Null only when the alternate stack could not be allocated.
    static std::shared_ptr<DZCrashSignalHandler> sharedHandler();
    ~DZCrashSignalHandler();

    // Installs the alternate stack on the calling thread, adds the pass-through to the previous
    // action at the chain's end and, the first time for this signal, the entry.
    bool registerHandlerWithSignal(int signal, Error* error = nullptr);
    // The same, then puts `callback` at the head of the chain.
    bool registerHandlerForSignal(int signal, dzcrash_signal_handler_callback_func callback, void* context,
                                  Error* error = nullptr);

    DZCrashSignalHandler(const DZCrashSignalHandler&) = delete;
    DZCrashSignalHandler& operator=(const DZCrashSignalHandler&) = delete;

  private:
    friend class SharedInstance<DZCrashSignalHandler>;
    DZCrashSignalHandler();

    stack_t sigstk_{};
};

// The sigaction handler: runs the chain and raises the signal again when nothing handled it, with the
// default action restored, so that the process ends by it.
void dzcrash_signal_entry(int signal, siginfo_t* info, void* uap);
// Runs the callback after `previous_node` (the head when null) and answers whether it handled the
// signal; false when there is none.
bool dzcrash_signal_run_callbacks(int signal, siginfo_t* info, ucontext_t* uap, void* previous_node) noexcept;
// The chain's end: when no later callback handled the signal, hands it to the action that was in
// force before the entry (SIG_IGN counts as handled, SIG_DFL does not).
bool dzcrash_passthrough_callback(int signal, siginfo_t* info, ucontext_t* uap, void* context,
                                  dzcrash_signal_handler_callback* next) noexcept;
