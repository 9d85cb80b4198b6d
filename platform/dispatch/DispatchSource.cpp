#include "platform/dispatch/DispatchSource.h"

std::shared_ptr<DispatchTimer> DispatchTimer::make(std::shared_ptr<DispatchQueue> queue) {
    return std::shared_ptr<DispatchTimer>(new DispatchTimer(std::move(queue)));
}

DispatchTimer::~DispatchTimer() {
    cancel();
}

void DispatchTimer::setTimer(double delay, double interval) {
    std::lock_guard lock(mutex_);
    delay_ = delay;
    interval_ = interval;
    if (clock_ && !cancelled_) arm(delay_);
}

void DispatchTimer::setEventHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::make_shared<std::function<void()>>(std::move(handler));
}

void DispatchTimer::resume() {
    std::lock_guard lock(mutex_);
    if (cancelled_ || clock_) return;
    arm(delay_);
}

// Called with mutex_ held. A new generation makes any firing still on its way stale.
void DispatchTimer::arm(double delay) {
    if (clock_ && pending_) clock_->cancel(pending_);
    clock_ = Clock::shared();
    uint64_t generation = ++generation_;
    std::weak_ptr<DispatchTimer> weak = weak_from_this();
    pending_ = clock_->schedule(delay, queue_, [weak, generation] {
        if (auto self = weak.lock()) self->fired(generation);
    });
}

void DispatchTimer::fired(uint64_t generation) {
    std::shared_ptr<std::function<void()>> handler;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_ || generation != generation_) return;
        pending_ = 0;
        if (interval_ > 0) arm(interval_);
        handler = handler_;
    }
    if (handler && *handler) (*handler)();
}

void DispatchTimer::cancel() {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    if (clock_ && pending_) clock_->cancel(pending_);
    pending_ = 0;
}

bool DispatchTimer::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}
