#include "platform/foundation/NSTimer.h"

#include "platform/dispatch/DispatchQueue.h"

NSTimer::NSTimer(double interval, bool repeats, Block block)
    : interval_(interval), repeats_(repeats), block_(std::move(block)), clock_(Clock::shared()) {}

std::shared_ptr<NSTimer> NSTimer::scheduledTimerWithTimeInterval(double interval, bool repeats, Block block) {
    auto timer = std::make_shared<NSTimer>(interval, repeats, std::move(block));
    timer->schedule();
    return timer;
}

void NSTimer::schedule() {
    // The pending firing holds the timer, as the run loop holds its scheduled timers.
    auto self = shared_from_this();
    auto clock = clock_.lock();
    if (!clock) return;  // a clock let go of never fires
    pending_ = clock->schedule(interval_, DispatchQueue::main(), [self] { self->fire(); });
}

void NSTimer::fire() {
    if (!valid_) return;
    pending_ = 0;
    if (!repeats_) valid_ = false;
    Block block = block_;
    if (block) block(*this);
    if (repeats_ && valid_) schedule();
}

void NSTimer::invalidate() {
    if (!valid_) return;
    valid_ = false;
    if (auto clock = clock_.lock(); clock && pending_) clock->cancel(pending_);
    pending_ = 0;
    block_ = nullptr;
}
