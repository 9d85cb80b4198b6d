#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/mach/mach_port.h"

namespace {

// Above every thread id the kernel hands out (at most 2^22), so it never names a thread.
constexpr mach_port_name_t kTaskSelfName = 0x40000103;
// The platform's limit on the user references of one right.
constexpr uint64_t kMaxUserReferences = 0xffff;

std::atomic<mach_port_urefs_t> taskSendReferences{1};

class KeptErrno {
  public:
    KeptErrno() : saved_(errno) {}
    ~KeptErrno() { errno = saved_; }

  private:
    int saved_;
};

bool isLiveThreadOfTask(mach_port_name_t name) {
    if (name == 0 || name >= kTaskSelfName) return false;
    KeptErrno kept;
    return syscall(SYS_tgkill, getpid(), static_cast<pid_t>(name), 0) == 0;
}

}  // namespace

task_t mach_task_self() noexcept {
    return kTaskSelfName;
}

thread_t mach_thread_self() noexcept {
    KeptErrno kept;
    return static_cast<thread_t>(syscall(SYS_gettid));
}

kern_return_t mach_port_mod_refs(task_t task, mach_port_name_t name, mach_port_right_t right,
                                 mach_port_delta_t delta) noexcept {
    if (task != kTaskSelfName) return KERN_INVALID_TASK;
    if (name != kTaskSelfName) return isLiveThreadOfTask(name) ? KERN_INVALID_RIGHT : KERN_INVALID_NAME;
    if (right != MACH_PORT_RIGHT_SEND) return KERN_INVALID_RIGHT;
    mach_port_urefs_t current = taskSendReferences.load();
    for (;;) {
        const int64_t wanted = static_cast<int64_t>(current) + delta;
        // The process's own reference stays: releasing it would leave a task without its name.
        if (wanted < 1) return KERN_INVALID_VALUE;
        if (static_cast<uint64_t>(wanted) > kMaxUserReferences) return KERN_UREFS_OVERFLOW;
        if (taskSendReferences.compare_exchange_weak(current, static_cast<mach_port_urefs_t>(wanted))) {
            return KERN_SUCCESS;
        }
    }
}

kern_return_t mach_port_get_refs(task_t task, mach_port_name_t name, mach_port_right_t right,
                                 mach_port_urefs_t* refs) noexcept {
    if (task != kTaskSelfName) return KERN_INVALID_TASK;
    if (!refs) return KERN_INVALID_ARGUMENT;
    if (name != kTaskSelfName) return isLiveThreadOfTask(name) ? KERN_INVALID_RIGHT : KERN_INVALID_NAME;
    *refs = right == MACH_PORT_RIGHT_SEND ? taskSendReferences.load() : 0;
    return KERN_SUCCESS;
}

kern_return_t mach_port_deallocate(task_t task, mach_port_name_t name) noexcept {
    if (task != kTaskSelfName) return KERN_INVALID_TASK;
    if (name == kTaskSelfName) return mach_port_mod_refs(task, name, MACH_PORT_RIGHT_SEND, -1);
    return isLiveThreadOfTask(name) ? KERN_SUCCESS : KERN_INVALID_NAME;
}
