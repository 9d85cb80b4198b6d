#include "platform/dispatch/Clock.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/dispatch/DispatchQueue.h"

namespace {

struct Pending {
    std::weak_ptr<DispatchQueue> queue;
    std::function<void()> fire;
};

// Deadline order; equal deadlines keep the order they were scheduled in.
using DeadlineKey = std::pair<double, uint64_t>;

void deliver(const Pending& pending) {
    if (auto queue = pending.queue.lock()) queue->async(pending.fire);
}

// Real time: one thread waits for the earliest deadline and hands due timers to their queues.
class SystemClock final : public Clock {
  public:
    double now() const override {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }
    double monotonic() const override {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
    // The wall clock minus the time since boot (suspended time included), read back to back.
    std::optional<double> bootTime() const override {
        timespec wall{}, sinceBoot{};
        if (clock_gettime(CLOCK_REALTIME, &wall) != 0 || clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0)
            return std::nullopt;
        return seconds(wall) - seconds(sinceBoot);
    }

    TimerId schedule(double delay, std::weak_ptr<DispatchQueue> queue, std::function<void()> fire) override {
        Pending pending{std::move(queue), std::move(fire)};
        std::lock_guard lock(mutex_);
        TimerId id = ++nextId_;
        if (delay <= 0) {
            deliver(pending);
            return id;
        }
        DeadlineKey key{monotonic() + delay, id};
        timers_.emplace(key, std::move(pending));
        keys_.emplace(id, key);
        if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
        wake_.notify_one();
        return id;
    }

    void cancel(TimerId id) override {
        std::lock_guard lock(mutex_);
        auto it = keys_.find(id);
        if (it == keys_.end()) return;
        timers_.erase(it->second);
        keys_.erase(it);
    }

  private:
    static double seconds(const timespec& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
    }
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (timers_.empty()) {
                wake_.wait(lock);
                continue;
            }
            auto first = timers_.begin();
            double wait = first->first.first - monotonic();
            if (wait > 0) {
                wake_.wait_for(lock, std::chrono::duration<double>(wait));
                continue;
            }
            Pending pending = std::move(first->second);
            keys_.erase(first->first.second);
            timers_.erase(first);
            deliver(pending);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<DeadlineKey, Pending> timers_;
    std::unordered_map<TimerId, DeadlineKey> keys_;
    TimerId nextId_ = 0;
    std::thread thread_;  // lives as long as the process: the system clock is never destroyed
};

std::mutex& clockMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<Clock>& systemClock() {
    static auto* clock = new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
    return *clock;
}

std::shared_ptr<Clock>& installedClock() {
    static auto* clock = new std::shared_ptr<Clock>();
    return *clock;
}

}  // namespace

std::shared_ptr<Clock> Clock::shared() {
    std::lock_guard lock(clockMutex());
    auto& installed = installedClock();
    return installed ? installed : systemClock();
}

void Clock::install(std::shared_ptr<Clock> clock) {
    std::lock_guard lock(clockMutex());
    installedClock() = std::move(clock);
}

struct ManualClock::State {
    mutable std::mutex mutex;
    double wall;
    double mono = 1000.0;
    std::optional<double> boot;
    std::map<DeadlineKey, Pending> timers;
    std::unordered_map<TimerId, DeadlineKey> keys;
    TimerId nextId = 0;
};

ManualClock::ManualClock(double unixTime) : state_(std::make_unique<State>()) {
    state_->wall = unixTime;
    state_->boot = unixTime - state_->mono;
}
ManualClock::~ManualClock() = default;

double ManualClock::now() const {
    std::lock_guard lock(state_->mutex);
    return state_->wall;
}

double ManualClock::monotonic() const {
    std::lock_guard lock(state_->mutex);
    return state_->mono;
}

std::optional<double> ManualClock::bootTime() const {
    std::lock_guard lock(state_->mutex);
    return state_->boot;
}

void ManualClock::setBootTime(std::optional<double> unixTime) {
    std::lock_guard lock(state_->mutex);
    state_->boot = unixTime;
}

Clock::TimerId ManualClock::schedule(double delay, std::weak_ptr<DispatchQueue> queue,
                                     std::function<void()> fire) {
    Pending pending{std::move(queue), std::move(fire)};
    std::lock_guard lock(state_->mutex);
    TimerId id = ++state_->nextId;
    if (delay <= 0) {
        deliver(pending);
        return id;
    }
    DeadlineKey key{state_->mono + delay, id};
    state_->timers.emplace(key, std::move(pending));
    state_->keys.emplace(id, key);
    return id;
}

void ManualClock::cancel(TimerId id) {
    std::lock_guard lock(state_->mutex);
    auto it = state_->keys.find(id);
    if (it == state_->keys.end()) return;
    state_->timers.erase(it->second);
    state_->keys.erase(it);
}

// Waits until everything queued on `queue` so far has run. The main queue is drained in place
// when the caller is the main thread, since nothing else would run it.
static void waitForQueue(const std::shared_ptr<DispatchQueue>& queue) {
    if (queue == DispatchQueue::main() && DispatchQueue::isMainThread()) {
        RunLoop::runUntilIdle();
    } else if (!queue->isCurrent()) {
        queue->sync([] {});
    }
}

void ManualClock::advance(double seconds) {
    double target;
    {
        std::lock_guard lock(state_->mutex);
        target = state_->mono + seconds;
    }
    for (;;) {
        Pending pending;
        {
            std::lock_guard lock(state_->mutex);
            auto first = state_->timers.begin();
            if (first == state_->timers.end() || first->first.first > target) break;
            double deadline = first->first.first;
            state_->wall += deadline - state_->mono;
            state_->mono = deadline;
            pending = std::move(first->second);
            state_->keys.erase(first->first.second);
            state_->timers.erase(first);
        }
        if (auto queue = pending.queue.lock()) {
            queue->async(std::move(pending.fire));
            waitForQueue(queue);
        }
    }
    std::lock_guard lock(state_->mutex);
    state_->wall += target - state_->mono;
    state_->mono = target;
}

void ManualClock::setWallTime(double unixTime) {
    std::lock_guard lock(state_->mutex);
    state_->wall = unixTime;
}

size_t ManualClock::pendingTimers() const {
    std::lock_guard lock(state_->mutex);
    return state_->timers.size();
}

ScopedManualClock::ScopedManualClock(double unixTime) : clock_(std::make_shared<ManualClock>(unixTime)) {
    Clock::install(clock_);
}

ScopedManualClock::~ScopedManualClock() {
    Clock::install(nullptr);
}
