#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/mach/KeptErrno.h"
#include "platform/mach/fault_context.h"
#include "platform/mach/mach_port.h"
#include "platform/mach/testing/MachTesting.h"
#include "platform/mach/thread_act.h"
#include "platform/mach/vm_map.h"

namespace {

constexpr long kDefaultAnswerTimeoutMilliseconds = 100;
std::atomic<long> answerTimeoutMilliseconds{kDefaultAnswerTimeoutMilliseconds};
std::atomic<bool> taskThreadsFailing{false};

// How far a suspension has come. The futex word of a slot holds the thread id above these three
// bits, so a late signal of a request that was given up can only ever act on a request made to its
// own thread.
enum Phase : uint32_t {
    Idle = 0,
    Requested = 1,   // the signal is on its way
    Publishing = 2,  // the handler took the request and is storing its context
    Parked = 3,      // the context is published and the thread waits
    Resuming = 4,    // told to go on; the handler sets Idle on its way out
    Abandoned = 5,   // the handler took the request after the suspender had given up on it
};
constexpr uint32_t kPhaseBits = 3;
constexpr uint32_t kPhaseMask = (1u << kPhaseBits) - 1;

uint32_t phaseWord(uint32_t thread, Phase phase) {
    return thread << kPhaseBits | phase;
}

// One per thread that is suspended or on its way there, claimed by the suspender. Slots are
// preallocated because a crashed process cannot allocate while it suspends its threads.
struct Slot {
    std::atomic<uint32_t> owner{0};
    std::atomic<uint32_t> suspensions{0};
    std::atomic<uint32_t> phase{Idle};
    std::atomic<const ucontext_t*> context{nullptr};
};
constexpr int kSlotCount = 1024;
Slot slots[kSlotCount];

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the phase is used as a futex word");

uint32_t* futexWord(std::atomic<uint32_t>& word) {
    return reinterpret_cast<uint32_t*>(&word);
}

void wake(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, futexWord(word), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

// Sleeps while `word` still holds `value`, until `deadline` on the monotonic clock when one is given.
void waitWhileEqual(std::atomic<uint32_t>& word, uint32_t value, const timespec* deadline) {
    syscall(SYS_futex, futexWord(word), FUTEX_WAIT_BITSET_PRIVATE, value, deadline, nullptr,
            FUTEX_BITSET_MATCH_ANY);
}

timespec answerDeadline() {
    const long timeout = answerTimeoutMilliseconds.load(std::memory_order_relaxed);
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    now.tv_sec += timeout / 1000;
    now.tv_nsec += timeout % 1000 * 1'000'000;
    if (now.tv_nsec >= 1'000'000'000) {
        now.tv_sec += 1;
        now.tv_nsec -= 1'000'000'000;
    }
    return now;
}

bool passed(const timespec& deadline) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

// Waits until the slot's phase satisfies `reached`; false when the deadline comes first.
template <class Predicate>
bool waitForPhase(Slot& slot, Predicate reached, const timespec& deadline) {
    for (;;) {
        const uint32_t now = slot.phase.load();
        if (reached(now)) return true;
        if (passed(deadline)) return false;
        waitWhileEqual(slot.phase, now, &deadline);
    }
}

uint32_t currentThread() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

Slot* slotRequestedBy(uint32_t thread) {
    for (Slot& slot : slots) {
        if (slot.phase.load() >> kPhaseBits == thread) return &slot;
    }
    return nullptr;
}

Slot* slotOf(uint32_t thread) {
    for (Slot& slot : slots) {
        if (slot.owner.load() == thread) return &slot;
    }
    return nullptr;
}

Slot* claimSlot(uint32_t thread) {
    if (Slot* own = slotOf(thread)) return own;
    for (Slot& slot : slots) {
        uint32_t free = 0;
        if (slot.owner.compare_exchange_strong(free, thread)) return &slot;
    }
    return nullptr;
}

// Gives the slot back once its thread has left the handler and nobody holds a suspension.
void releaseIfUnused(Slot& slot, uint32_t thread) {
    if (slot.suspensions.load() != 0 || slot.phase.load() != Idle) return;
    slot.owner.compare_exchange_strong(thread, 0);
}

void parkOnRequest(int, siginfo_t*, void* context) {
    KeptErrno kept;
    const uint32_t self = currentThread();
    Slot* slot = slotRequestedBy(self);
    // A signal whose request was given up, or one that somebody else sent: nothing to answer.
    if (!slot) return;
    uint32_t expected = phaseWord(self, Requested);
    if (!slot->phase.compare_exchange_strong(expected, phaseWord(self, Publishing))) return;
    slot->context.store(static_cast<const ucontext_t*>(context));
    expected = phaseWord(self, Publishing);
    if (!slot->phase.compare_exchange_strong(expected, phaseWord(self, Parked))) {
        slot->context.store(nullptr);
        slot->phase.store(Idle);
        wake(slot->phase);
        return;
    }
    wake(slot->phase);
    for (uint32_t now = slot->phase.load(); now == phaseWord(self, Parked); now = slot->phase.load()) {
        waitWhileEqual(slot->phase, now, nullptr);
    }
    // The published context lives in this frame, which is about to go.
    slot->context.store(nullptr);
    slot->phase.store(Idle);
    wake(slot->phase);
}

std::atomic<bool> handlerInstalled{false};

void installHandler() {
    if (handlerInstalled.load()) return;
    struct sigaction action {};
    action.sa_sigaction = parkOnRequest;
    // On the alternate stack when the thread has one: a thread that overflowed its stack still
    // parks.
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(thread_suspend_signal(), &action, nullptr);
    handlerInstalled.store(true);
}

bool isOtherThreadOfProcess(thread_act_t thread) {
    if (thread == 0 || thread > (UINT32_MAX >> kPhaseBits) || thread == currentThread()) return false;
    return syscall(SYS_tgkill, getpid(), static_cast<pid_t>(thread), 0) == 0;
}

// Signals the thread and waits for it to park.
kern_return_t park(Slot& slot, uint32_t thread) {
    const timespec deadline = answerDeadline();
    // The previous resume may still be on its way out of the handler.
    if (!waitForPhase(
            slot, [](uint32_t now) { return now == Idle; }, deadline))
        return KERN_OPERATION_TIMED_OUT;
    uint32_t expected = Idle;
    if (!slot.phase.compare_exchange_strong(expected, phaseWord(thread, Requested))) return KERN_FAILURE;
    if (syscall(SYS_tgkill, getpid(), static_cast<pid_t>(thread), thread_suspend_signal()) != 0) {
        slot.phase.store(Idle);
        return KERN_INVALID_ARGUMENT;
    }
    const uint32_t parked = phaseWord(thread, Parked);
    if (waitForPhase(
            slot, [parked](uint32_t now) { return now == parked; }, deadline))
        return KERN_SUCCESS;
    // No answer in time. Withdraw the request, so that the signal, when the thread unblocks it at
    // last, finds nothing to answer.
    expected = phaseWord(thread, Requested);
    if (slot.phase.compare_exchange_strong(expected, Idle)) return KERN_OPERATION_TIMED_OUT;
    expected = phaseWord(thread, Publishing);
    if (slot.phase.compare_exchange_strong(expected, phaseWord(thread, Abandoned))) {
        return KERN_OPERATION_TIMED_OUT;
    }
    return slot.phase.load() == parked ? KERN_SUCCESS : KERN_OPERATION_TIMED_OUT;
}

void copyThreadState(const mcontext_t& context, thread_state_t state) {
    x86_thread_state_t record{};
    record.tsh.flavor = x86_THREAD_STATE64;
    record.tsh.count = x86_THREAD_STATE64_COUNT;
    x86_thread_state64_from_mcontext(context, &record.uts.ts64);
    memcpy(state, &record, sizeof record);
}

void copyExceptionState(const mcontext_t& context, thread_state_t state) {
    x86_exception_state_t record{};
    record.esh.flavor = x86_EXCEPTION_STATE64;
    record.esh.count = x86_EXCEPTION_STATE64_COUNT;
    x86_exception_state64_from_mcontext(context, &record.ues.es64);
    memcpy(state, &record, sizeof record);
}

// Counts the entries of /proc/self/task, or stores them while they fit; -1 when they do not.
long readThreadIds(int directory, thread_act_t* into, long capacity) {
    if (lseek(directory, 0, SEEK_SET) != 0) return -1;
    alignas(8) char buffer[4096];
    long found = 0;
    for (;;) {
        const long length = syscall(SYS_getdents64, directory, buffer, sizeof buffer);
        if (length < 0) return -1;
        if (length == 0) return found;
        for (long offset = 0; offset < length;) {
            // A linux_dirent64: inode and offset (8 bytes each), record length, type, then the name.
            uint16_t recordLength;
            memcpy(&recordLength, buffer + offset + 16, sizeof recordLength);
            const char* name = buffer + offset + 19;
            offset += recordLength;
            uint32_t id = 0;
            bool numeric = *name != '\0';
            for (const char* c = name; *c; ++c) {
                if (*c < '0' || *c > '9') numeric = false;
                id = id * 10 + static_cast<uint32_t>(*c - '0');
            }
            if (!numeric) continue;
            if (into) {
                if (found == capacity) return -1;
                into[found] = id;
            }
            ++found;
        }
    }
}

// Threads waiting for the answer to their own fault, with the state at the fault. A suspension of
// such a thread only counts: it stands still already, and its signal handler is busy waiting.
struct FaultSlot {
    std::atomic<uint32_t> thread{0};
    std::atomic<const ucontext_t*> context{nullptr};
    std::atomic<uint32_t> suspensions{0};
};
constexpr int kFaultSlotCount = 64;
FaultSlot faultSlots[kFaultSlotCount];

FaultSlot* faultSlotOf(uint32_t thread) {
    for (FaultSlot& slot : faultSlots) {
        if (slot.thread.load() == thread && slot.context.load()) return &slot;
    }
    return nullptr;
}

}  // namespace

bool mach_fault_context_publish(const ucontext_t* context) noexcept {
    KeptErrno kept;
    const uint32_t self = currentThread();
    for (FaultSlot& slot : faultSlots) {
        uint32_t free = 0;
        if (!slot.thread.compare_exchange_strong(free, self)) continue;
        slot.suspensions.store(0);
        slot.context.store(context);
        return true;
    }
    return false;
}

void mach_fault_context_withdraw() noexcept {
    KeptErrno kept;
    const uint32_t self = currentThread();
    for (FaultSlot& slot : faultSlots) {
        if (slot.thread.load() != self) continue;
        for (uint32_t held = slot.suspensions.load(); held != 0; held = slot.suspensions.load()) {
            waitWhileEqual(slot.suspensions, held, nullptr);
        }
        slot.context.store(nullptr);
        slot.thread.store(0);
        return;
    }
}

void MachTesting::setThreadAnswerTimeout(long milliseconds) {
    answerTimeoutMilliseconds.store(milliseconds > 0 ? milliseconds : kDefaultAnswerTimeoutMilliseconds);
}

void MachTesting::setTaskThreadsFailing(bool failing) {
    taskThreadsFailing.store(failing);
}

int thread_suspend_signal() noexcept {
    return SIGRTMAX - 2;
}

kern_return_t task_threads(task_t task, thread_act_array_t* threads, mach_msg_type_number_t* count) noexcept {
    if (task != mach_task_self()) return KERN_INVALID_TASK;
    if (!threads || !count) return KERN_INVALID_ARGUMENT;
    if (taskThreadsFailing.load(std::memory_order_relaxed)) return KERN_FAILURE;
    KeptErrno kept;
    const int directory = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) return KERN_FAILURE;
    kern_return_t result = KERN_RESOURCE_SHORTAGE;
    const vm_size_t page = static_cast<vm_size_t>(getpagesize());
    // Threads may start between counting and listing; room for some more, and another round when
    // even that is not enough.
    for (int round = 0; round < 8 && result == KERN_RESOURCE_SHORTAGE; ++round) {
        const long counted = readThreadIds(directory, nullptr, 0);
        if (counted < 0) {
            result = KERN_FAILURE;
            break;
        }
        const vm_size_t size = (static_cast<vm_size_t>(counted) + 64) * sizeof(thread_act_t);
        const vm_size_t allocated = (size + page - 1) / page * page;
        vm_address_t address = 0;
        if (vm_allocate(mach_task_self(), &address, allocated, VM_FLAGS_ANYWHERE) != KERN_SUCCESS) {
            result = KERN_RESOURCE_SHORTAGE;
            break;
        }
        auto* list = reinterpret_cast<thread_act_t*>(address);
        const long listed =
            readThreadIds(directory, list, static_cast<long>(allocated / sizeof(thread_act_t)));
        if (listed <= 0) {
            vm_deallocate(mach_task_self(), address, allocated);
            continue;
        }
        // The caller releases `listed` entries' worth; pages beyond those go now.
        const vm_size_t used =
            (static_cast<vm_size_t>(listed) * sizeof(thread_act_t) + page - 1) / page * page;
        if (used < allocated) vm_deallocate(mach_task_self(), address + used, allocated - used);
        *threads = list;
        *count = static_cast<mach_msg_type_number_t>(listed);
        result = KERN_SUCCESS;
    }
    close(directory);
    return result;
}

kern_return_t thread_suspend(thread_act_t thread) noexcept {
    KeptErrno kept;
    if (!isOtherThreadOfProcess(thread)) return KERN_INVALID_ARGUMENT;
    if (FaultSlot* fault = faultSlotOf(thread)) {
        fault->suspensions.fetch_add(1);
        return KERN_SUCCESS;
    }
    installHandler();
    Slot* slot = claimSlot(thread);
    if (!slot) return KERN_RESOURCE_SHORTAGE;
    if (slot->suspensions.fetch_add(1) > 0) return KERN_SUCCESS;
    const kern_return_t result = park(*slot, thread);
    if (result != KERN_SUCCESS) {
        slot->suspensions.fetch_sub(1);
        releaseIfUnused(*slot, thread);
    }
    return result;
}

kern_return_t thread_resume(thread_act_t thread) noexcept {
    KeptErrno kept;
    if (FaultSlot* fault = thread == 0 ? nullptr : faultSlotOf(thread)) {
        uint32_t held = fault->suspensions.load();
        do {
            if (held == 0) return KERN_FAILURE;
        } while (!fault->suspensions.compare_exchange_weak(held, held - 1));
        if (held == 1) wake(fault->suspensions);
        return KERN_SUCCESS;
    }
    Slot* slot = thread == 0 ? nullptr : slotOf(thread);
    if (!slot) return KERN_FAILURE;
    uint32_t held = slot->suspensions.load();
    do {
        if (held == 0) return KERN_FAILURE;
    } while (!slot->suspensions.compare_exchange_weak(held, held - 1));
    if (held > 1) return KERN_SUCCESS;
    uint32_t expected = phaseWord(thread, Parked);
    if (slot->phase.compare_exchange_strong(expected, phaseWord(thread, Resuming))) wake(slot->phase);
    // Waiting for the thread to leave the handler lets the slot go at once; a thread that takes
    // longer keeps it until it is suspended again.
    waitForPhase(
        *slot, [](uint32_t now) { return now == Idle; }, answerDeadline());
    releaseIfUnused(*slot, thread);
    return KERN_SUCCESS;
}

kern_return_t thread_get_state(thread_act_t thread, thread_state_flavor_t flavor, thread_state_t state,
                               mach_msg_type_number_t* count) noexcept {
    if (!state || !count) return KERN_INVALID_ARGUMENT;
    const mach_msg_type_number_t needed = flavor == x86_THREAD_STATE      ? x86_THREAD_STATE_COUNT
                                          : flavor == x86_EXCEPTION_STATE ? x86_EXCEPTION_STATE_COUNT
                                                                          : 0;
    if (needed == 0 || *count < needed) return KERN_INVALID_ARGUMENT;
    KeptErrno kept;
    if (FaultSlot* fault = thread == 0 ? nullptr : faultSlotOf(thread)) {
        const ucontext_t* context = fault->context.load();
        if (!context) return KERN_FAILURE;
        if (flavor == x86_THREAD_STATE) {
            copyThreadState(context->uc_mcontext, state);
        } else {
            copyExceptionState(context->uc_mcontext, state);
        }
        *count = needed;
        return KERN_SUCCESS;
    }
    const kern_return_t suspended = thread_suspend(thread);
    if (suspended != KERN_SUCCESS) return suspended;
    // Null only while another suspender's signal is still on its way.
    const ucontext_t* context = slotOf(thread)->context.load();
    if (!context) {
        thread_resume(thread);
        return KERN_FAILURE;
    }
    if (flavor == x86_THREAD_STATE) {
        copyThreadState(context->uc_mcontext, state);
    } else {
        copyExceptionState(context->uc_mcontext, state);
    }
    *count = needed;
    thread_resume(thread);
    return KERN_SUCCESS;
}
