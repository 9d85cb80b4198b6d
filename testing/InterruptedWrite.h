#pragma once
// For tests of writers that must survive a write(2) cut short by a signal: a SIGUSR1 handler
// installed without SA_RESTART, so that the signal ends a blocked write instead of restarting it,
// and a look at whether a thread is blocked in write(2) right now.
#include <signal.h>
#include <sys/syscall.h>
#include <sys/types.h>

#include <atomic>
#include <fstream>
#include <string>

class InterruptingSignal {
  public:
    InterruptingSignal() {
        count_ = 0;
        struct sigaction action = {};
        action.sa_handler = [](int) { count_++; };
        sigemptyset(&action.sa_mask);
        installed_ = sigaction(SIGUSR1, &action, &previous_) == 0;
    }
    ~InterruptingSignal() {
        if (installed_) sigaction(SIGUSR1, &previous_, nullptr);
    }
    InterruptingSignal(const InterruptingSignal&) = delete;
    InterruptingSignal& operator=(const InterruptingSignal&) = delete;

    bool installed() const { return installed_; }
    // How many times the signal has arrived since the handler was installed.
    int count() const { return count_; }

  private:
    static inline std::atomic<int> count_{0};
    struct sigaction previous_ = {};
    bool installed_ = false;
};

// Whether the thread `tid` of this process is blocked inside write(2) right now.
inline bool blockedInWrite(pid_t tid) {
    std::ifstream syscall("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    syscall >> number;
    return number == SYS_write;
}
