#pragma once
// Threads for tests of thread control: one that counts until told to stop, and one that keeps the
// suspend signal blocked while it waits to be released. Both report their thread id once running
// and are joined when the helper goes.
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/mach/thread_act.h"
#include "testing/Eventually.h"

// The worker's whole loop lives here, so a suspended worker's instruction pointer lies in it. Not
// inlined, so it is a function of its own to find. Asking for its frame address gives it a frame
// pointer, which a leaf function would otherwise go without.
[[gnu::noinline]] inline void countUntilStopped(std::atomic<uint64_t>& counter, std::atomic<bool>& stop,
                                                std::atomic<uintptr_t>& frame) {
    frame.store(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
    while (!stop.load(std::memory_order_relaxed)) counter.fetch_add(1, std::memory_order_relaxed);
}

class CountingWorker {
  public:
    CountingWorker()
        : thread_([this] {
              id_.store(static_cast<thread_t>(syscall(SYS_gettid)));
              countUntilStopped(counter_, stop_, frame_);
          }) {}
    ~CountingWorker() {
        stop_.store(true);
        thread_.join();
    }

    // Waits until the worker runs and has counted.
    thread_t id() {
        eventually([this] { return id_.load() != 0 && counter_.load() != 0; });
        return id_.load();
    }
    uint64_t count() const { return counter_.load(); }
    // The frame pointer inside the counting loop.
    uintptr_t frame() const { return frame_.load(); }

  private:
    std::atomic<uint64_t> counter_{0};
    std::atomic<bool> stop_{false};
    std::atomic<uintptr_t> frame_{0};
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
