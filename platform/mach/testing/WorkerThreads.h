#pragma once
// Threads for tests of thread control: one that counts until told to stop, and one that keeps the
// suspend signal blocked while it waits to be released. Both report their thread id once running
// and are joined when the helper goes.
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/mach/testing/MachTesting.h"
#include "platform/mach/thread_act.h"
#include "testing/Eventually.h"

// The worker's whole loop lives here, so a suspended worker's instruction pointer lies in it. Not
// inlined, so it is a function of its own to find. The atomic builtins compile to instructions even
// unoptimised, where std::atomic's members are calls (except under the thread sanitizer, which
// turns each into a call into its runtime). Asking for the frame address gives the function a frame
// pointer, which a leaf function would otherwise go without.
[[gnu::noinline]] inline void countUntilStopped(uint64_t* counter, const bool* stop, uintptr_t* frame) {
    __atomic_store_n(frame, reinterpret_cast<uintptr_t>(__builtin_frame_address(0)), __ATOMIC_RELEASE);
    while (!__atomic_load_n(stop, __ATOMIC_RELAXED)) __atomic_fetch_add(counter, 1, __ATOMIC_RELAXED);
}

// While it lives, suspended threads have as long to answer as the test is patient.
class PatientSuspensions {
  public:
    PatientSuspensions() {
        MachTesting::setThreadAnswerTimeout(
            std::chrono::duration_cast<std::chrono::milliseconds>(kTestPatience).count());
    }
    ~PatientSuspensions() { MachTesting::setThreadAnswerTimeout(0); }
};

class CountingWorker {
  public:
    CountingWorker()
        : thread_([this] {
              id_.store(static_cast<thread_t>(syscall(SYS_gettid)));
              countUntilStopped(&counter_, &stop_, &frame_);
          }) {}
    ~CountingWorker() {
        __atomic_store_n(&stop_, true, __ATOMIC_RELAXED);
        thread_.join();
    }

    // Waits until the worker runs and has counted.
    thread_t id() {
        eventually([this] { return id_.load() != 0 && count() != 0; });
        return id_.load();
    }
    uint64_t count() const { return __atomic_load_n(&counter_, __ATOMIC_RELAXED); }
    // The frame pointer inside the counting loop.
    uintptr_t frame() const { return __atomic_load_n(&frame_, __ATOMIC_ACQUIRE); }

  private:
    uint64_t counter_ = 0;
    bool stop_ = false;
    uintptr_t frame_ = 0;
    std::atomic<thread_t> id_{0};
    std::thread thread_;
};

class SignalBlockingWorker {
  public:
    SignalBlockingWorker()
        : thread_([this] {
              sigset_t blocked;
              sigemptyset(&blocked);
              sigaddset(&blocked, thread_suspend_signal());
              pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
              id_.store(static_cast<thread_t>(syscall(SYS_gettid)));
              while (!release_.load()) std::this_thread::yield();
              // The signal of the request that was given up arrives now and must find nothing to do.
              pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
              unblocked_.store(true);
              while (!stop_.load()) std::this_thread::yield();
          }) {}
    ~SignalBlockingWorker() {
        release_.store(true);
        stop_.store(true);
        thread_.join();
    }

    thread_t id() {
        eventually([this] { return id_.load() != 0; });
        return id_.load();
    }
    // Unblocks the signal and waits until the thread runs on with it open.
    bool unblock() {
        release_.store(true);
        return eventually([this] { return unblocked_.load(); });
    }

  private:
    std::atomic<bool> release_{false};
    std::atomic<bool> unblocked_{false};
    std::atomic<bool> stop_{false};
    std::atomic<thread_t> id_{0};
    std::thread thread_;
};
