#pragma once
// The one source of time for the whole process: "now", delays and timers all go through it.
// Tests install a ManualClock and advance it; due timers then fire in due order, each on its own
// queue, before advance() returns. No test needs to sleep.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class DispatchQueue;

class Clock {
  public:
    using TimerId = uint64_t;
    virtual ~Clock() = default;

    // Wall-clock seconds since 1970-01-01 UTC.
    virtual double now() const = 0;
    // Seconds on a clock that never goes back; deadlines are measured on it.
    virtual double monotonic() const = 0;
    // When the machine started, in wall-clock seconds since 1970; nullopt when it cannot be read.
    // Uptimes are now() minus this, so they move with a manual clock.
    virtual std::optional<double> bootTime() const = 0;
    // Runs `fire` on `queue` once `delay` seconds have passed (or at once for delay <= 0).
    virtual TimerId schedule(double delay, std::weak_ptr<DispatchQueue> queue,
                             std::function<void()> fire) = 0;
    // A cancelled timer that has not been handed to its queue never runs.
    virtual void cancel(TimerId id) = 0;

    static Clock& current() { return *shared(); }
    static std::shared_ptr<Clock> shared();
    // Replaces the process clock; null puts back the system clock. Timers already scheduled stay
    // on the clock they were scheduled with.
    static void install(std::shared_ptr<Clock> clock);
};

class ManualClock : public Clock {
  public:
    // Starts at `unixTime` (default 2026-01-01 00:00:00 UTC).
    explicit ManualClock(double unixTime = 1767225600.0);
    ~ManualClock() override;

    double now() const override;
    double monotonic() const override;
    // Starts 1000 s before the starting time, the monotonic clock's starting value.
    std::optional<double> bootTime() const override;
    TimerId schedule(double delay, std::weak_ptr<DispatchQueue> queue, std::function<void()> fire) override;
    void cancel(TimerId id) override;

    // Moves time forward, firing every timer that falls due, in deadline order; each handler has
    // finished on its queue before the next one fires and before this returns. Timers scheduled by
    // the handlers fire too when they fall due within the same advance.
    void advance(double seconds);
    // Sets the wall clock without moving the monotonic one (the user changed the date).
    void setWallTime(double unixTime);
    // nullopt plays a machine whose boot time cannot be read.
    void setBootTime(std::optional<double> unixTime);
    size_t pendingTimers() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Installs a ManualClock for a scope and puts the previous clock back after it.
class ScopedManualClock {
  public:
    explicit ScopedManualClock(double unixTime = 1767225600.0);
    ~ScopedManualClock();
    ManualClock& operator*() { return *clock_; }
    ManualClock* operator->() { return clock_.get(); }

  private:
    std::shared_ptr<ManualClock> clock_;
};
