#pragma once
// Timer sources: one-shot or repeating, delivered on a queue, on the process clock.
#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"

class DispatchTimer : public std::enable_shared_from_this<DispatchTimer> {
  public:
    static std::shared_ptr<DispatchTimer> make(std::shared_ptr<DispatchQueue> queue);

    // First firing after `delay` seconds, then every `interval` seconds (0: once).
    void setTimer(double delay, double interval);
    void setEventHandler(std::function<void()> handler);
    // Starts the timer set by setTimer.
    void resume();
    // After cancel returns the handler does not start again.
    void cancel();
    bool isCancelled() const;

    ~DispatchTimer();

  private:
    explicit DispatchTimer(std::shared_ptr<DispatchQueue> queue) : queue_(std::move(queue)) {}
    void arm(double delay);
    void fired(uint64_t generation);

    std::shared_ptr<DispatchQueue> queue_;
    mutable std::mutex mutex_;
    std::shared_ptr<std::function<void()>> handler_;
    std::shared_ptr<Clock> clock_;
    Clock::TimerId pending_ = 0;
    double delay_ = 0, interval_ = 0;
    uint64_t generation_ = 0;
    bool cancelled_ = false;
};
