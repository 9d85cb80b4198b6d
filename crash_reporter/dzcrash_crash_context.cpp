#include "crash_reporter/dzcrash_crash_context.h"

#include <atomic>

namespace {

dzcrash_crash_context crashContext{};

// Both halves are set together from ordinary code, long before a crash reads them; a crash that
// races a change sees an old or a new callback, each with a context it was given with.
struct PostCrashCallback {
    std::atomic<dzcrash_post_crash_callback_t> callback{nullptr};
    std::atomic<void*> context{nullptr};
};
PostCrashCallback postCrash;

}  // namespace

dzcrash_crash_context* dzcrash_shared_crash_context() noexcept {
    return &crashContext;
}

void dzcrash_set_post_crash_callback(dzcrash_post_crash_callback_t callback, void* context) noexcept {
    postCrash.callback.store(nullptr);
    postCrash.context.store(context);
    postCrash.callback.store(callback);
}

void dzcrash_run_post_crash_callback(siginfo_t* info, ucontext_t* uap) noexcept {
    const dzcrash_post_crash_callback_t callback = postCrash.callback.load();
    if (callback) callback(info, uap, postCrash.context.load());
}
