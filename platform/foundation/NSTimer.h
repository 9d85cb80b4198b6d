#pragma once
// Timers of the main run loop, on the process clock: the block runs on the main queue once the
// interval has passed (and again every interval when repeating) until the timer is invalidated.
// A scheduled timer keeps itself alive until then: its clock holds the pending firing, which holds
// the timer, so the timer holds its clock only weakly.
#include <functional>
#include <memory>

#include "platform/dispatch/Clock.h"

class NSTimer : public std::enable_shared_from_this<NSTimer> {
  public:
    using Block = std::function<void(NSTimer& timer)>;

    static std::shared_ptr<NSTimer> scheduledTimerWithTimeInterval(double interval, bool repeats,
                                                                   Block block);

    double timeInterval() const { return interval_; }
    bool isValid() const { return valid_; }
    // Stops the timer for good; a firing not yet run does not run.
    void invalidate();

    NSTimer(double interval, bool repeats, Block block);

  private:
    void schedule();
    void fire();

    double interval_;
    bool repeats_;
    Block block_;
    bool valid_ = true;
    std::weak_ptr<Clock> clock_;
    Clock::TimerId pending_ = 0;
};
