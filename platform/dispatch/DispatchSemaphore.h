#pragma once
// A counting semaphore: wait takes one unit, waiting up to a bound for a signal when none is left.
#include <condition_variable>
#include <memory>
#include <mutex>

class DispatchSemaphore {
  public:
    static std::shared_ptr<DispatchSemaphore> make(long value) {
        return std::make_shared<DispatchSemaphore>(value);
    }
    explicit DispatchSemaphore(long value) : value_(value) {}

    void signal();
    // False when `timeoutInSeconds` (of real time: a waiter waits on other threads) passed first.
    bool wait(double timeoutInSeconds);

  private:
    std::mutex mutex_;
    std::condition_variable signalled_;
    long value_;
};
