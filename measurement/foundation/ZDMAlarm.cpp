#include "measurement/foundation/ZDMAlarm.h"

#include <cmath>

#include "measurement/foundation/ZDMMonitor.h"
#include "platform/dispatch/DispatchSource.h"

namespace {
void log(int64_t level, int64_t code, const std::string& message) {
    ZDMMonitor::sharedMonitor()->logWithLevel(level, code, message);
}
}  // namespace

std::shared_ptr<ZDMAlarm> ZDMAlarm::make(std::shared_ptr<DispatchQueue> queue, const std::string& name) {
    return std::make_shared<ZDMAlarm>(std::move(queue), name.empty() ? "Timer" : name);
}

ZDMAlarm::ZDMAlarm(std::shared_ptr<DispatchQueue> queue, std::string name)
    : queue_(std::move(queue)), name_(std::move(name)) {}

ZDMAlarm::~ZDMAlarm() {
    cancel();
}

void ZDMAlarm::runAfterDelay(std::function<void()> block, double delay) {
    if (!block) {
        log(1, 2000, name_ + " tried to schedule an empty block");
        return;
    }
    cancel();
    scheduledTimestamp_ = Date::fromUnix(Date::now().timeIntervalSince1970() + delay);
    // Whole nanoseconds, as the timer takes them; a delay of 0 or less is due at once.
    const double seconds = std::max(0.0, std::trunc(delay * 1e9) / 1e9);
    timer_ = DispatchTimer::make(queue_);
    timer_->setTimer(seconds, 0);
    std::weak_ptr<ZDMAlarm> weak = weak_from_this();
    timer_->setEventHandler([weak, block = std::move(block)] {
        if (auto self = weak.lock()) self->fire(block);
    });
    timer_->resume();
    ZDMMonitor::sharedMonitor()->logWithLevel(7, 2002, name_ + " scheduled to fire in approx. (s)", Value(delay));
}

void ZDMAlarm::fire(const std::function<void()>& block) {
    log(7, 2001, name_ + " fired");
    cancel();
    block();
}

void ZDMAlarm::cancel() {
    if (!scheduledTimestamp_) return;
    log(7, 2003, name_ + " canceled");
    if (hasActiveTimer())
        timer_->cancel();
    else
        log(4, 2004, name_ + " is not active");
    scheduledTimestamp_.reset();
}

bool ZDMAlarm::hasActiveTimer() const {
    return timer_ && !timer_->isCancelled();
}
